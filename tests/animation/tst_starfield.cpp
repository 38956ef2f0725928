// The star field of the ringing band: the offset functions, the star table
// a load builds, drawing a star and moving it with its re-spawn and
// brightness rules. A 1366-pixel band is 111 pixels high at 96 DPI, so
// Centre is (683, 55) and MaxRadius 55 throughout.

#include "Fakes.h"
#include "Module1.h"
#include "Screen.h"
#include "Visual.h"

#include <QtTest>
#include <memory>
#include <stdexcept>

using Module1::Star;
using Module1::Stars;

namespace {

// A band loaded `widthPixels` wide with its timer stopped: the test drives
// the frames.
std::unique_ptr<Visual> loadedBand(int widthPixels = 1366)
{
    auto visual = std::make_unique<Visual>(std::function<bool()> {}, std::function<void()> {});
    visual->setScreenWidthTwips(static_cast<int>(widthPixels * Runtime::TwipsPerPixelX()));
    visual->Load();
    visual->Timer1->stop();
    return visual;
}

QRgb grey(int level)
{
    return qRgb(level, level, level);
}

} // namespace

class StarfieldTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void offsets_data();
    void offsets();
    void offsetOutsideSixteenBitsThrows_data();
    void offsetOutsideSixteenBitsThrows();

    void centreAndRadiusComeFromTheBuffer();
    void newFieldStaysWithinItsRanges();
    void fieldIsSeededFromTheTimeOfDay();
    void starIsDrawnAtCentrePlusOffset();

    void movingStarsRespawnAndBrighten_data();
    void movingStarsRespawnAndBrighten();

private:
    std::unique_ptr<TestRuntime> m_runtime;
};

void StarfieldTest::initTestCase()
{
    // Every pixel figure below is for 96 dots per inch.
    QCOMPARE(Runtime::TwipsPerPixelX(), 15.0f);
    QCOMPARE(Runtime::TwipsPerPixelY(), 15.0f);
}

void StarfieldTest::init()
{
    m_runtime = std::make_unique<TestRuntime>();
}

void StarfieldTest::cleanup()
{
    m_runtime.reset();
}

void StarfieldTest::offsets_data()
{
    QTest::addColumn<float>("angle");
    QTest::addColumn<qint32>("radius");
    QTest::addColumn<int>("sinOffset");
    QTest::addColumn<int>("cosOffset");

    // 0 points down (y grows), 90 right, 180 up, 270 left.
    QTest::newRow("0 down") << 0.0f << 10 << 0 << 10;
    QTest::newRow("90 right") << 90.0f << 10 << 10 << 0;
    QTest::newRow("180 up") << 180.0f << 10 << 0 << -10;
    QTest::newRow("270 left") << 270.0f << 10 << -10 << 0;
    QTest::newRow("90 at 683") << 90.0f << 683 << 683 << 0;
    QTest::newRow("negative radius") << 90.0f << -7 << -7 << 0;
    QTest::newRow("45 at 1000") << 45.0f << 1000 << 707 << 707;
    // Near ties: pi in single precision (3.1415927, a little above pi)
    // pushes sin 30 and cos 60 off 0.5, so 2.5 and 3.5 are never hit
    // exactly (no angle of the field gives an exact tie; ties to even are
    // Conversions' own). With pi in double the sin and cos columns of these
    // four rows would each come out the other way.
    QTest::newRow("sin 30 x 5 = 2.50000006") << 30.0f << 5 << 3 << 4;
    QTest::newRow("cos 60 x 5 = 2.49999987") << 60.0f << 5 << 4 << 2;
    QTest::newRow("sin 30 x 7 = 3.50000009") << 30.0f << 7 << 4 << 6;
    QTest::newRow("cos 60 x 7 = 3.49999982") << 60.0f << 7 << 6 << 3;
}

void StarfieldTest::offsets()
{
    QFETCH(float, angle);
    QFETCH(qint32, radius);
    QFETCH(int, sinOffset);
    QFETCH(int, cosOffset);
    QCOMPARE(int(Module1::SinOffset(angle, radius)), sinOffset);
    QCOMPARE(int(Module1::CosOffset(angle, radius)), cosOffset);
}

void StarfieldTest::offsetOutsideSixteenBitsThrows_data()
{
    QTest::addColumn<float>("angle");
    QTest::addColumn<qint32>("radius");
    QTest::addColumn<bool>("sinThrows");
    QTest::addColumn<bool>("cosThrows");

    QTest::newRow("right 32767 fits") << 90.0f << 32767 << false << false;
    QTest::newRow("right 32768") << 90.0f << 32768 << true << false;
    QTest::newRow("left 32768 fits") << 270.0f << 32768 << false << false;
    QTest::newRow("left 32769") << 270.0f << 32769 << true << false;
    QTest::newRow("down 40000") << 0.0f << 40000 << false << true;
}

void StarfieldTest::offsetOutsideSixteenBitsThrows()
{
    QFETCH(float, angle);
    QFETCH(qint32, radius);
    QFETCH(bool, sinThrows);
    QFETCH(bool, cosThrows);
    if (sinThrows)
        QVERIFY_THROWS_EXCEPTION(std::overflow_error, Module1::SinOffset(angle, radius));
    else
        Module1::SinOffset(angle, radius);
    if (cosThrows)
        QVERIFY_THROWS_EXCEPTION(std::overflow_error, Module1::CosOffset(angle, radius));
    else
        Module1::CosOffset(angle, radius);
}

void StarfieldTest::centreAndRadiusComeFromTheBuffer()
{
    auto visual = loadedBand(1366);
    QCOMPARE(visual->picBuffer.size(), QSize(1366, 111));
    QCOMPARE(Module1::Centre.X, 683);
    QCOMPARE(Module1::Centre.Y, 55);
    QCOMPARE(Module1::MaxRadius, 55);

    auto narrow = loadedBand(101);
    QCOMPARE(Module1::Centre.X, 50);
    QCOMPARE(Module1::MaxRadius, 50);
}

void StarfieldTest::newFieldStaysWithinItsRanges()
{
    auto visual = loadedBand();
    QCOMPARE(int(Stars.size()), 200);
    QSet<qint32> speeds;
    int atMaxRadius = 0;
    for (const Star& star : Stars) {
        QVERIFY2(star.Speed >= 1 && star.Speed <= 10, qPrintable(QString::number(star.Speed)));
        QVERIFY(star.Angle >= 0.0f && star.Angle <= 360.0f);
        QVERIFY(star.Distance >= 0 && star.Distance <= 55);
        // 255 per MaxRadius at the start.
        QCOMPARE(star.Brightness, qRound(255.0 / 55 * star.Distance));
        speeds.insert(star.Speed);
        atMaxRadius += star.Distance == 55;
    }
    // 200 draws reach every speed and, now and then, the rim.
    QCOMPARE(speeds.size(), 10);
    QVERIFY(atMaxRadius > 0);
}

void StarfieldTest::fieldIsSeededFromTheTimeOfDay()
{
    auto first = loadedBand();
    const std::vector<Star> firstField = Stars;
    auto again = loadedBand();
    QCOMPARE(Stars.size(), firstField.size());
    QVERIFY(std::equal(
        Stars.begin(), Stars.end(), firstField.begin(), [](const Star& a, const Star& b) {
            return a.Angle == b.Angle && a.Speed == b.Speed && a.Distance == b.Distance;
        }));

    Runtime::Pause(1.0f);
    auto later = loadedBand();
    QVERIFY(Stars[0].Angle != firstField[0].Angle || Stars[1].Angle != firstField[1].Angle);
}

void StarfieldTest::starIsDrawnAtCentrePlusOffset()
{
    auto visual = loadedBand();
    Stars = { Star { 4, 0.0f, 0, 77 }, Star { 2, 90.0f, 400, 200 }, Star { 1, 270.0f, 700, 255 } };
    visual->ClearBuffer();
    const QImage before = visual->picBuffer;
    visual->PuStarsToBuffer();
    QCOMPARE(visual->picBuffer.pixel(683, 55), grey(77));
    QCOMPARE(visual->picBuffer.pixel(1083, 55), grey(200));
    // The third star (x = -17) is outside: only two pixels changed.
    int changed = 0;
    for (int y = 0; y < before.height(); ++y)
        for (int x = 0; x < before.width(); ++x)
            changed += before.pixel(x, y) != visual->picBuffer.pixel(x, y);
    QCOMPARE(changed, 2);
}

void StarfieldTest::movingStarsRespawnAndBrighten_data()
{
    QTest::addColumn<float>("angle");
    QTest::addColumn<qint32>("speed");
    QTest::addColumn<qint32>("distance");
    QTest::addColumn<qint32>("movedTo");
    QTest::addColumn<qint32>("brightness");

    // The picture is 1366 x 111 around (683, 55); brightness is 350 / 55
    // per pixel of distance, capped at 255.
    QTest::newRow("down onto y = H stays") << 0.0f << 1 << 55 << 56 << 255;
    QTest::newRow("down past H") << 0.0f << 1 << 56 << 1 << 6;
    QTest::newRow("right onto x = W stays") << 90.0f << 1 << 682 << 683 << 255;
    QTest::newRow("right past W") << 90.0f << 1 << 683 << 1 << 6;
    QTest::newRow("up onto y = 0 stays") << 180.0f << 1 << 54 << 55 << 255;
    QTest::newRow("up past 0") << 180.0f << 1 << 55 << 1 << 6;
    QTest::newRow("left onto x = 0 stays") << 270.0f << 1 << 682 << 683 << 255;
    QTest::newRow("left past 0") << 270.0f << 1 << 683 << 1 << 6;
    QTest::newRow("re-spawned at speed 3: 19.09") << 0.0f << 3 << 55 << 3 << 19;
    QTest::newRow("39: 248.18") << 90.0f << 1 << 38 << 39 << 248;
    QTest::newRow("40: 254.55") << 90.0f << 1 << 39 << 40 << 255;
    QTest::newRow("41 capped") << 90.0f << 1 << 40 << 41 << 255;
}

void StarfieldTest::movingStarsRespawnAndBrighten()
{
    QFETCH(float, angle);
    QFETCH(qint32, speed);
    QFETCH(qint32, distance);
    QFETCH(qint32, movedTo);
    QFETCH(qint32, brightness);
    auto visual = loadedBand();
    Stars = { Star { speed, angle, distance, 0 } };
    visual->MoveStars();
    QCOMPARE(Stars[0].Distance, movedTo);
    QCOMPARE(Stars[0].Brightness, brightness);
    QCOMPARE(Stars[0].Speed, speed);
    QCOMPARE(Stars[0].Angle, angle);
}

QTEST_MAIN(StarfieldTest)
#include "tst_starfield.moc"
