// The ring-tone table and the steps that play a tone, as the Alert window
// (the stored choice) and the settings window's preview (the box's text)
// use them, against a player that records what it is asked to do.

#include "Fakes.h"
#include "RecordingMediaPlayer.h"
#include "RegModule.h"
#include "RingTones.h"

#include <QtTest>
#include <memory>

using RegModule::HKEY_CURRENT_USER;

namespace {

// What the player must receive for `file` ("" for none), with `after`
// appended after "Play".
QStringList expectedEvents(const QString& file, const QStringList& after = {})
{
    if (file.isEmpty())
        return { QStringLiteral("Close") };
    return QStringList { QStringLiteral("Close"),
        QStringLiteral("fileName=") + QCoreApplication::applicationDirPath() + QLatin1Char('/')
            + file,
        QStringLiteral("Open"), QStringLiteral("Play") }
    + after;
}

} // namespace

class RingTonesTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void storedChoicePlaysItsTone_data();
    void storedChoicePlaysItsTone();
    void previewPlaysTheBoxTextThenWaits_data();
    void previewPlaysTheBoxTextThenWaits();
    void choiceIsReadAfterTheClose();
    void secondRingStopsTheFirstTone();

private:
    std::unique_ptr<TestRuntime> m_runtime;
};

void RingTonesTest::init()
{
    m_runtime = std::make_unique<TestRuntime>();
}

void RingTonesTest::cleanup()
{
    m_runtime.reset();
}

void RingTonesTest::storedChoicePlaysItsTone_data()
{
    QTest::addColumn<bool>("isStored");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("file");
    QTest::newRow("Ring #1") << true << "Ring #1"
                             << "one.wav";
    QTest::newRow("Ring #2") << true << "Ring #2"
                             << "two.wav";
    QTest::newRow("Ring #3") << true << "Ring #3"
                             << "three.mp3";
    QTest::newRow("Ring #4") << true << "Ring #4"
                             << "four.wav";
    QTest::newRow("Ring #5") << true << "Ring #5"
                             << "five.mp3";
    QTest::newRow("never picked") << true << "Select Ringtone"
                                  << "one.wav";
    QTest::newRow("lower case") << true << "ring #1"
                                << "";
    QTest::newRow("trailing space") << true << "Ring #1 "
                                    << "";
    QTest::newRow("not in the list") << true << "Ring #6"
                                     << "";
    QTest::newRow("empty") << true << ""
                           << "";
    QTest::newRow("nothing stored") << false << ""
                                    << "";
}

void RingTonesTest::storedChoicePlaysItsTone()
{
    QFETCH(bool, isStored);
    QFETCH(QString, stored);
    QFETCH(QString, file);
    if (isStored)
        RegModule::SetRegValue(HKEY_CURRENT_USER, QStringLiteral("Software\\Ringwarden\\Sound"),
            QStringLiteral("Sound"), stored);
    RecordingMediaPlayer player;
    QString strFilename = QStringLiteral("as before");

    RingTones::play(player, strFilename, RingTones::storedChoice);

    QCOMPARE(player.events(), expectedEvents(file));
    if (file.isEmpty()) {
        QCOMPARE(strFilename, QStringLiteral("as before"));
    } else {
        // The path played is the program's own copy of the tone.
        QCOMPARE(strFilename, QCoreApplication::applicationDirPath() + QLatin1Char('/') + file);
        QVERIFY2(QFileInfo(strFilename).isFile(), qPrintable(strFilename));
    }
}

void RingTonesTest::previewPlaysTheBoxTextThenWaits_data()
{
    QTest::addColumn<QString>("boxText");
    QTest::addColumn<QString>("file");
    QTest::newRow("Ring #4") << "Ring #4"
                             << "four.wav";
    QTest::newRow("initial text") << "Select Ringtone"
                                  << "one.wav";
    QTest::newRow("Ring #6") << "Ring #6"
                             << "";
    QTest::newRow("lower case") << "ring #1"
                                << "";
}

void RingTonesTest::previewPlaysTheBoxTextThenWaits()
{
    QFETCH(QString, boxText);
    QFETCH(QString, file);
    // The preview ignores what is stored.
    RegModule::SetRegValue(HKEY_CURRENT_USER, QStringLiteral("Software\\Ringwarden\\Sound"),
        QStringLiteral("Sound"), QStringLiteral("Ring #2"));
    RecordingMediaPlayer player;
    QString strFilename;

    RingTones::play(
        player, strFilename, [&] { return boxText; }, RingTones::AfterPlay::SendWait);

    QCOMPARE(player.events(), expectedEvents(file, { QStringLiteral("wait") }));
}

void RingTonesTest::choiceIsReadAfterTheClose()
{
    RecordingMediaPlayer player;
    QString strFilename;

    RingTones::play(player, strFilename, [&] {
        player.mark(QStringLiteral("choice read"));
        return QStringLiteral("Ring #3");
    });

    QStringList expected = expectedEvents(QStringLiteral("three.mp3"));
    expected.insert(1, QStringLiteral("choice read"));
    QCOMPARE(player.events(), expected);
}

void RingTonesTest::secondRingStopsTheFirstTone()
{
    const QString key = QStringLiteral("Software\\Ringwarden\\Sound");
    RecordingMediaPlayer player;
    QString strFilename;
    RegModule::SetRegValue(
        HKEY_CURRENT_USER, key, QStringLiteral("Sound"), QStringLiteral("Ring #5"));
    RingTones::play(player, strFilename, RingTones::storedChoice);
    // Another process changes the stored choice between two rings: the
    // next ring reads it afresh.
    RegModule::SetRegValue(
        HKEY_CURRENT_USER, key, QStringLiteral("Sound"), QStringLiteral("Ring #2"));
    RingTones::play(player, strFilename, RingTones::storedChoice);
    RegModule::SetRegValue(HKEY_CURRENT_USER, key, QStringLiteral("Sound"), QStringLiteral("none"));
    RingTones::play(player, strFilename, RingTones::storedChoice);

    QCOMPARE(player.events(),
        expectedEvents(QStringLiteral("five.mp3")) + expectedEvents(QStringLiteral("two.wav"))
            + expectedEvents(QString()));
    QCOMPARE(strFilename, QCoreApplication::applicationDirPath() + QStringLiteral("/two.wav"));
}

QTEST_GUILESS_MAIN(RingTonesTest)
#include "tst_ringtones.moc"
