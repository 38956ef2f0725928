// The ringing band as its owner and the user meet it: its geometry, how it
// is shown, the fading text laid over the stars through its mask, a new
// banner text, clicks and resizing.

#include "Fakes.h"
#include "Module1.h"
#include "PictureBox.h"
#include "Screen.h"
#include "TextBox.h"
#include "Visual.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QScreen>
#include <QtTest>
#include <algorithm>
#include <memory>

namespace {

constexpr qint32 kWhite = 0xffffff;
const QRgb kBackground = qRgb(128, 64, 64);

std::unique_ptr<Visual> loadedBand(int widthPixels = 1366, std::function<bool()> closePort = {},
    std::function<void()> unloadAlert = {})
{
    auto visual = std::make_unique<Visual>(std::move(closePort), std::move(unloadAlert));
    visual->setScreenWidthTwips(static_cast<int>(widthPixels * Runtime::TwipsPerPixelX()));
    visual->Load();
    visual->Timer1->stop();
    return visual;
}

void runFrames(Visual& visual, int count)
{
    for (int i = 0; i < count; ++i)
        visual.Timer1_Timer();
}

// Where PutTextToBuffer puts the text pictures' top left corner.
QPoint textOrigin(const Visual& visual)
{
    return { visual.picBuffer.width() / 2 - visual.picText.width() / 2,
        visual.picBuffer.height() / 2 - visual.picText.height() / 2 };
}

// The offscreen platform announces every raise it is asked for.
void expectRaise()
{
    QTest::ignoreMessage(QtWarningMsg, "This plugin does not support raise()");
}

} // namespace

class VisualTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void bandSpansTheScreenAtItsFixedHeight();
    void showPlacesAndRaisesWithoutTakingFocus();
    void timerDrivesFramesOnceLoadedAlsoWhileHidden();
    void eachFrameReachesTheScreen();

    void textIsArialOrItsMetricTwin();
    void fadeStepsTowardsWhite_data();
    void fadeStepsTowardsWhite();
    void textPicturesArePrintedOnlyWhileFading_data();
    void textPicturesArePrintedOnlyWhileFading();
    void maskCutsAndTextFills();
    void textWiderThanTheBufferIsClipped();
    void shorterTextShrinksPicturesAndRestartsTheFade();
    void shiftColourClampsEachChannel_data();
    void shiftColourClampsEachChannel();

    void clickWithPortOpenClosesItBeforeUnloadingAlert();
    void clickWithPortClosedChangesNothing();
    void hiddenPictureClicksUnload();
    void resizingKeepsTheAnimationSize();

private:
    std::unique_ptr<TestRuntime> m_runtime;
};

void VisualTest::init()
{
    m_runtime = std::make_unique<TestRuntime>();
}

void VisualTest::cleanup()
{
    m_runtime.reset();
}

void VisualTest::bandSpansTheScreenAtItsFixedHeight()
{
    // Loaded the way the program does it: the screen's own width.
    Visual visual({}, {});
    visual.Load();
    visual.Timer1->stop();
    const int screenWidth = QGuiApplication::primaryScreen()->geometry().width();
    // 5010 twips high at 15 twips per pixel; picScr is its middle third.
    QCOMPARE(visual.size(), QSize(screenWidth, 334));
    QCOMPARE(visual.picScr->geometry(), QRect(0, 111, screenWidth, 111));
    QCOMPARE(visual.picBuffer.size(), QSize(screenWidth, 111));
    QCOMPARE(visual.picBlank.size(), QSize(screenWidth, 111));
    QCOMPARE(visual.picBlank.pixel(screenWidth - 1, 110), kBackground);
    QCOMPARE(Module1::Centre.X, screenWidth / 2);
    QCOMPARE(Module1::Centre.Y, 55);
}

void VisualTest::showPlacesAndRaisesWithoutTakingFocus()
{
    Visual visual({}, {});
    expectRaise();
    visual.Show();
    QVERIFY(visual.isVisible());
    QVERIFY(visual.isLoaded());
    QVERIFY(visual.Timer1->isActive());
    QVERIFY(!visual.Text1->isVisible());
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(visual.geometry(),
        QRect(screen.x(), screen.y() + (screen.height() - 334) / 2, screen.width(), 334));

    // What the window system is asked for: no frame, above the others, past
    // the window manager, no keyboard focus. (The offscreen platform
    // activates every window it shows, so the focus itself is watched on a
    // real X server.)
    const Qt::WindowFlags flags = visual.windowHandle()->flags();
    QVERIFY(flags.testFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
        | Qt::BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus));
    QVERIFY(visual.testAttribute(Qt::WA_ShowWithoutActivating));

    // Raised again on every ring, also while it is showing.
    expectRaise();
    visual.Show();
    QVERIFY(visual.isVisible());
}

void VisualTest::timerDrivesFramesOnceLoadedAlsoWhileHidden()
{
    Visual visual({}, {});
    QVERIFY(!visual.Timer1->isActive());
    expectRaise();
    visual.Show();
    // Hidden, as after a click, the band goes on composing frames.
    visual.Hide();
    QVERIFY(visual.Timer1->isActive());
    QCOMPARE(visual.Timer1->interval(), 50);
    QCOMPARE(visual.textColour(), 0x00000a0a);
    QTRY_VERIFY(visual.textColour() != 0x00000a0a);
    QVERIFY(!visual.isVisible());
}

void VisualTest::eachFrameReachesTheScreen()
{
    auto visual = loadedBand();
    expectRaise();
    visual->Show();
    QVERIFY(QTest::qWaitForWindowExposed(visual.get()));
    runFrames(*visual, 3);

    // What the window system holds for picScr, not a fresh rendering.
    const QRect area = visual->picScr->geometry();
    const QImage shown
        = QGuiApplication::primaryScreen()
              ->grabWindow(visual->winId(), area.x(), area.y(), area.width(), area.height())
              .toImage()
              .convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.size(), visual->picBuffer.size());
    QVERIFY(shown == visual->picBuffer.convertToFormat(QImage::Format_RGB32));
}

void VisualTest::textIsArialOrItsMetricTwin()
{
    auto visual = loadedBand();
    const QFontInfo font(visual->textFont());
    const bool arialInstalled = QFontDatabase::families().contains(QStringLiteral("Arial"));
    QCOMPARE(font.family(),
        arialInstalled ? QStringLiteral("Arial") : QStringLiteral("Liberation Sans"));
    // 36 points at 96 DPI.
    QCOMPARE(font.pixelSize(), 48);
    QVERIFY(!font.bold());
    QVERIFY(!font.italic());
}

void VisualTest::fadeStepsTowardsWhite_data()
{
    QTest::addColumn<int>("frames");
    QTest::addColumn<QRgb>("colour");

    QTest::newRow("1st") << 1 << qRgb(12, 12, 2);
    QTest::newRow("2nd") << 2 << qRgb(14, 14, 4);
    QTest::newRow("122nd") << 122 << qRgb(254, 254, 244);
    QTest::newRow("123rd: red and green full") << 123 << qRgb(255, 255, 246);
    QTest::newRow("127th") << 127 << qRgb(255, 255, 254);
    QTest::newRow("128th: white") << 128 << qRgb(255, 255, 255);
    QTest::newRow("300th") << 300 << qRgb(255, 255, 255);
}

void VisualTest::fadeStepsTowardsWhite()
{
    QFETCH(int, frames);
    QFETCH(QRgb, colour);
    auto visual = loadedBand();
    runFrames(*visual, frames);

    // Every pixel of a letter is black in the mask and in the fade's colour
    // in the text and on the screen buffer; everything else of the mask is
    // white and of the text black: nothing in between.
    const QPoint origin = textOrigin(*visual);
    int letterPixels = 0;
    for (int y = 0; y < visual->picText.height(); ++y) {
        for (int x = 0; x < visual->picText.width(); ++x) {
            const QRgb mask = visual->picTextM.pixel(x, y);
            const QRgb text = visual->picText.pixel(x, y);
            if (mask == qRgb(0, 0, 0)) {
                ++letterPixels;
                QCOMPARE(text, colour);
                QCOMPARE(visual->picBuffer.pixel(origin + QPoint(x, y)), colour);
            } else {
                QCOMPARE(mask, qRgb(255, 255, 255));
                QCOMPARE(text, qRgb(0, 0, 0));
            }
        }
    }
    QVERIFY(letterPixels > 1000);
}

void VisualTest::textPicturesArePrintedOnlyWhileFading_data()
{
    QTest::addColumn<int>("framesBefore");
    QTest::addColumn<bool>("printed");

    QTest::newRow("128th frame prints") << 127 << true;
    QTest::newRow("129th frame does not") << 128 << false;
    QTest::newRow("200th frame does not") << 199 << false;
}

void VisualTest::textPicturesArePrintedOnlyWhileFading()
{
    QFETCH(int, framesBefore);
    QFETCH(bool, printed);
    auto visual = loadedBand();
    runFrames(*visual, framesBefore);

    // Scribble into both text pictures; a print wipes the scribble out.
    const QRgb scribble = qRgb(0, 200, 0);
    visual->picText.setPixel(0, 0, scribble);
    visual->picTextM.setPixel(0, 0, scribble);
    visual->Timer1_Timer();
    QCOMPARE(visual->picText.pixel(0, 0) == scribble, !printed);
    QCOMPARE(visual->picTextM.pixel(0, 0) == scribble, !printed);
    QCOMPARE(visual->textColour(), kWhite);
}

void VisualTest::maskCutsAndTextFills()
{
    auto visual = loadedBand();
    runFrames(*visual, 128);
    Module1::Stars.clear();

    // Hand-made 3 x 1 pictures, centred at (682, 55).
    visual->picTextM = QImage(3, 1, QImage::Format_RGB32);
    visual->picText = QImage(3, 1, QImage::Format_RGB32);
    const QRgb masks[] = { qRgb(255, 255, 255), qRgb(0, 0, 0), qRgb(0xf0, 0x0f, 0xff) };
    const QRgb texts[] = { qRgb(0, 0, 0), qRgb(200, 100, 50), qRgb(0x01, 0x02, 0x03) };
    for (int x = 0; x < 3; ++x) {
        visual->picTextM.setPixel(x, 0, masks[x]);
        visual->picText.setPixel(x, 0, texts[x]);
    }
    visual->ClearBuffer();
    visual->PutTextToBuffer();

    // White mask and black text leave the background.
    QCOMPARE(visual->picBuffer.pixel(682, 55), kBackground);
    // Black mask cuts, the text fills with its colour.
    QCOMPARE(visual->picBuffer.pixel(683, 55), qRgb(200, 100, 50));
    // Bit by bit: (128 & 0xf0 | 1, 64 & 0x0f | 2, 64 & 0xff | 3).
    QCOMPARE(visual->picBuffer.pixel(684, 55), qRgb(129, 2, 67));
    // Around it nothing changed.
    QCOMPARE(visual->picBuffer.pixel(681, 55), kBackground);
    QCOMPARE(visual->picBuffer.pixel(683, 54), kBackground);
    QCOMPARE(visual->picBuffer.pixel(685, 55), kBackground);
}

void VisualTest::textWiderThanTheBufferIsClipped()
{
    // The text is about 430 pixels wide; this band 120.
    auto visual = loadedBand(120);
    Module1::Stars.clear();
    runFrames(*visual, 128);
    const QPoint origin = textOrigin(*visual);
    QVERIFY(origin.x() < 0);

    for (int y = 0; y < visual->picBuffer.height(); ++y) {
        for (int x = 0; x < visual->picBuffer.width(); ++x) {
            const QPoint inText = QPoint(x, y) - origin;
            const bool letter = visual->picTextM.rect().contains(inText)
                && visual->picTextM.pixel(inText) == qRgb(0, 0, 0);
            QCOMPARE(visual->picBuffer.pixel(x, y), letter ? qRgb(255, 255, 255) : kBackground);
        }
    }
}

void VisualTest::shorterTextShrinksPicturesAndRestartsTheFade()
{
    auto visual = loadedBand();
    runFrames(*visual, 130);
    const QSize longSize = visual->picText.size();

    visual->Text1->setText(QStringLiteral("Ring"));
    const QFontMetrics metrics(visual->textFont());
    // Plus 10 twips, which is less than a pixel at 15 twips per pixel.
    const QSize shortSize(metrics.horizontalAdvance(QStringLiteral("Ring")), metrics.height());
    QCOMPARE(visual->picText.size(), shortSize);
    QCOMPARE(visual->picTextM.size(), shortSize);
    QVERIFY(shortSize.width() < longSize.width());
    QCOMPARE(visual->textColour(), 0x00000a0a);

    visual->Timer1_Timer();
    const QRgb firstColour = qRgb(12, 12, 2);
    QCOMPARE(visual->textColour(), 0x00020c0c);
    const QImage text = visual->picText.convertToFormat(QImage::Format_ARGB32);
    const auto* pixels = reinterpret_cast<const QRgb*>(text.constBits());
    QVERIFY(std::count(pixels, pixels + text.width() * text.height(), firstColour) > 100);
}

void VisualTest::shiftColourClampsEachChannel_data()
{
    QTest::addColumn<qint32>("colour");
    QTest::addColumn<qint32>("amount");
    QTest::addColumn<qint32>("shifted");

    // Colours as 0x00BBGGRR.
    QTest::newRow("fade start") << 0x00000a0a << 2 << 0x00020c0c;
    QTest::newRow("red and green at the top") << 0x00fafffe << 2 << 0x00fcffff;
    QTest::newRow("white stays") << 0x00ffffff << 2 << 0x00ffffff;
    QTest::newRow("down to black") << 0x00050001 << -2 << 0x00030000;
    QTest::newRow("far down") << 0x00ffffff << -1000 << 0;
    QTest::newRow("far up") << 0x00010203 << 1000 << 0x00ffffff;
    QTest::newRow("no change") << 0x00c89664 << 0 << 0x00c89664;
}

void VisualTest::shiftColourClampsEachChannel()
{
    QFETCH(qint32, colour);
    QFETCH(qint32, amount);
    QFETCH(qint32, shifted);
    QCOMPARE(Visual::ShiftColour(colour, amount), shifted);
}

void VisualTest::clickWithPortOpenClosesItBeforeUnloadingAlert()
{
    // The owner closes the port, then the band hides, then the owner unloads
    // the Alert window.
    QStringList steps;
    Visual* band = nullptr;
    auto visual = loadedBand(
        1366,
        [&] {
            steps << (band->isVisible() ? "close port while shown" : "close port while hidden");
            return true;
        },
        [&] { steps << (band->isVisible() ? "unload while shown" : "unload while hidden"); });
    band = visual.get();
    expectRaise();
    visual->Show();
    QTest::mouseClick(visual->picScr, Qt::LeftButton, {}, QPoint(683, 55));

    QCOMPARE(steps, QStringList({ "close port while shown", "unload while hidden" }));
    QVERIFY(!visual->isVisible());
    QVERIFY(visual->isLoaded());
}

void VisualTest::clickWithPortClosedChangesNothing()
{
    int unloads = 0;
    int asked = 0;
    auto visual = loadedBand(
        1366,
        [&] {
            ++asked;
            return false;
        },
        [&] { ++unloads; });
    expectRaise();
    visual->Show();
    visual->Timer1->start();
    QTest::mouseClick(visual->picScr, Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(asked, 1);
    QCOMPARE(unloads, 0);
    QVERIFY(visual->isVisible());
    QVERIFY(visual->isLoaded());
    QVERIFY(visual->Timer1->isActive());
}

void VisualTest::hiddenPictureClicksUnload()
{
    for (auto click : { &Visual::picBlank_Click, &Visual::picText_Click }) {
        auto visual = loadedBand();
        visual->Timer1->start();
        (visual.get()->*click)();
        QVERIFY(!visual->isLoaded());
        QVERIFY(!visual->Timer1->isActive());
        QVERIFY(!visual->isVisible());
    }
}

void VisualTest::resizingKeepsTheAnimationSize()
{
    auto visual = loadedBand();
    const QRect picture = visual->picScr->geometry();
    visual->resize(400, 900);
    QCoreApplication::processEvents();
    runFrames(*visual, 3);
    QCOMPARE(visual->picScr->geometry(), picture);
    QCOMPARE(visual->picBuffer.size(), QSize(1366, 111));
    QCOMPARE(Module1::Centre.X, 683);
    QCOMPARE(Module1::MaxRadius, 55);
}

QTEST_MAIN(VisualTest)
#include "tst_visual.moc"
