// The real sound player (Qt Multimedia, GStreamer backend) playing the five
// ring tones, on a machine that may have no sound card: every tone must start
// playing, a tone must play to its end or fail cleanly, never hang in the
// playing state, and no command may wait for the tone. (How long each tone
// lasts is checked by decoding them, in tst_tonefiles.)
//
// Without a sound device, GStreamer sometimes ends up with a sink that does
// not keep to the clock: a tone then reaches its end at once, and its position
// reads 0 throughout. So whether a tone is under way is read from the media
// status, and the checks that need a tone to last its length skip, saying
// why, when it did not.

#include "MediaBackend.h"
#include "MediaPlayer.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Playback runs at the real speed even into a fake sink; the longest tone
// lasts 3.7 s.
constexpr int kTimeoutMs = 30000;

bool seen(const QSignalSpy& spy, QMediaPlayer::MediaStatus status)
{
    for (const QList<QVariant>& arguments : spy) {
        if (arguments.at(0).value<QMediaPlayer::MediaStatus>() == status)
            return true;
    }
    return false;
}

// The player has loaded the tone and is playing it.
bool underWay(const QMediaPlayer& media)
{
    return media.playbackState() == QMediaPlayer::PlayingState
        && media.mediaStatus() == QMediaPlayer::BufferedMedia;
}

// Waits until the player is playing the tone, or has already played it.
// Returns false when it came to the end first.
bool waitUntilUnderWay(const QMediaPlayer& media, const QSignalSpy& status)
{
    (void)QTest::qWaitFor(
        [&] {
            return underWay(media) || seen(status, QMediaPlayer::EndOfMedia)
                || media.error() != QMediaPlayer::NoError;
        },
        kTimeoutMs);
    return underWay(media);
}

QByteArray describe(const QMediaPlayer& media)
{
    return QStringLiteral("state %1, status %2, error \"%3\"")
        .arg(media.playbackState())
        .arg(media.mediaStatus())
        .arg(media.errorString())
        .toUtf8();
}

QString tonePath(const QString& file)
{
    return QStringLiteral(TONE_DIR "/") + file;
}

} // namespace

class MediaPlayerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void everyToneStartsPlaying_data();
    void everyToneStartsPlaying();
    void aToneReachesItsEndAndPlaysAgainFromItsBeginning();
    void unplayableFileErrorsAndStops_data();
    void unplayableFileErrorsAndStops();
    void closeStopsPlaybackAndReleasesTheMedia();
    void otherCommandsLeavePlaybackAlone_data();
    void otherCommandsLeavePlaybackAlone();

    void aMissingBackendIsFoundBeforeQtAbortsOnIt_data();
    void aMissingBackendIsFoundBeforeQtAbortsOnIt();
    void backendIsGStreamerUnlessTheUserChose_data();
    void backendIsGStreamerUnlessTheUserChose();
};

void MediaPlayerTest::initTestCase()
{
    // What the player did is logged at debug level, when switched on.
    QLoggingCategory::setFilterRules(QStringLiteral("ringwarden.player.debug=true"));
    QMediaPlayer probe;
    if (!probe.isAvailable())
        QSKIP("Qt Multimedia has no working backend here (GStreamer plugin missing)");
}

void MediaPlayerTest::everyToneStartsPlaying_data()
{
    QTest::addColumn<QString>("file");
    for (const char* file : { "one.wav", "two.wav", "three.mp3", "four.wav", "five.mp3" })
        QTest::newRow(file) << QString::fromLatin1(file);
}

void MediaPlayerTest::everyToneStartsPlaying()
{
    QFETCH(QString, file);
    const QString path = tonePath(file);
    QVERIFY2(QFileInfo::exists(path), qPrintable(path));
    QtMediaPlayer player;
    const QMediaPlayer& media = player.mediaPlayer();
    QSignalSpy status(&media, &QMediaPlayer::mediaStatusChanged);
    QSignalSpy errors(&media, &QMediaPlayer::errorOccurred);
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("playing ") + path));
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("stopped ") + path));

    player.setFileName(path);
    player.setCommand(QStringLiteral("Open"));
    player.setCommand(QStringLiteral("Play"));

    // "Play" has returned while the tone is still to be played.
    QCOMPARE(media.playbackState(), QMediaPlayer::PlayingState);
    QVERIFY(!seen(status, QMediaPlayer::EndOfMedia));
    waitUntilUnderWay(media, status);
    QCOMPARE(errors.count(), 0);
    player.setCommand(QStringLiteral("Close"));
}

void MediaPlayerTest::aToneReachesItsEndAndPlaysAgainFromItsBeginning()
{
    QtMediaPlayer player;
    const QMediaPlayer& media = player.mediaPlayer();
    QSignalSpy status(&media, &QMediaPlayer::mediaStatusChanged);
    QSignalSpy errors(&media, &QMediaPlayer::errorOccurred);
    player.setFileName(tonePath(QStringLiteral("five.mp3")));
    player.setCommand(QStringLiteral("Open"));
    player.setCommand(QStringLiteral("Play"));
    const bool inTime = waitUntilUnderWay(media, status);
    if (inTime)
        QTest::qWait(1000);

    // A second ring while the tone plays starts it again from its
    // beginning: its end comes a whole tone's length later, never sooner
    // (a busy machine can only make it later).
    const bool restarted = inTime && underWay(media);
    status.clear();
    QElapsedTimer sinceReplay;
    sinceReplay.start();
    player.setCommand(QStringLiteral("Play"));
    QCOMPARE(media.playbackState(), QMediaPlayer::PlayingState);
    QTRY_VERIFY_WITH_TIMEOUT(seen(status, QMediaPlayer::EndOfMedia), kTimeoutMs);
    const qint64 played = sinceReplay.elapsed();
    QVERIFY2(media.duration() > 2500, qPrintable(QString::number(media.duration())));
    QCOMPARE(errors.count(), 0);
    QTRY_COMPARE(media.playbackState(), QMediaPlayer::StoppedState);

    // After its end the tone plays again.
    status.clear();
    player.setCommand(QStringLiteral("Play"));
    QCOMPARE(media.playbackState(), QMediaPlayer::PlayingState);
    waitUntilUnderWay(media, status);
    QCOMPARE(errors.count(), 0);
    player.setCommand(QStringLiteral("Close"));

    if (!restarted)
        QSKIP("The audio sink here does not keep to the clock: the restart cannot be timed");
    QVERIFY2(played > media.duration() - 400,
        qPrintable(QStringLiteral("%1 ms of a %2 ms tone").arg(played).arg(media.duration())));
}

void MediaPlayerTest::unplayableFileErrorsAndStops_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("missing file") << "missing.wav" << QByteArray();
    QTest::newRow("text named .wav")
        << "text.wav" << QByteArray("This is not a sound.\n").repeated(40);
    QTest::newRow("truncated wave header")
        << "short.wav" << QByteArray("RIFF\x24\x08\0\0WAVEfmt ", 16);
}

void MediaPlayerTest::unplayableFileErrorsAndStops()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QTemporaryDir folder;
    const QString path = folder.filePath(name);
    if (!content.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QtMediaPlayer player;
    const QMediaPlayer& media = player.mediaPlayer();
    QSignalSpy errors(&media, &QMediaPlayer::errorOccurred);
    QSignalSpy states(&media, &QMediaPlayer::playbackStateChanged);
    QTest::ignoreMessage(QtWarningMsg,
        QRegularExpression(QStringLiteral("^cannot play ") + QRegularExpression::escape(path)
            + QStringLiteral(": ")));

    player.setFileName(path);
    player.setCommand(QStringLiteral("Open"));
    player.setCommand(QStringLiteral("Play"));

    QTRY_VERIFY_WITH_TIMEOUT(errors.count() > 0, kTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(media.playbackState(), QMediaPlayer::StoppedState, kTimeoutMs);
    QVERIFY(!states.isEmpty());
    QCOMPARE(states.last().at(0).value<QMediaPlayer::PlaybackState>(), QMediaPlayer::StoppedState);
}

void MediaPlayerTest::closeStopsPlaybackAndReleasesTheMedia()
{
    const QString path = tonePath(QStringLiteral("three.mp3"));
    QtMediaPlayer player;
    const QMediaPlayer& media = player.mediaPlayer();
    QSignalSpy status(&media, &QMediaPlayer::mediaStatusChanged);
    player.setFileName(path);
    player.setCommand(QStringLiteral("Open"));
    player.setCommand(QStringLiteral("Play"));
    if (!waitUntilUnderWay(media, status))
        QSKIP("The audio sink here does not keep to the clock: the tone ended at once");
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("stopped ") + path));

    player.setCommand(QStringLiteral("Close"));

    QCOMPARE(media.playbackState(), QMediaPlayer::StoppedState);
    QCOMPARE(media.mediaStatus(), QMediaPlayer::NoMedia);
    QVERIFY(media.source().isEmpty());
    QVERIFY(!seen(status, QMediaPlayer::EndOfMedia));

    // Closing again, with nothing open, is harmless.
    player.setCommand(QStringLiteral("Close"));
    QCOMPARE(media.playbackState(), QMediaPlayer::StoppedState);
}

void MediaPlayerTest::otherCommandsLeavePlaybackAlone_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("wait") << "wait";
    QTest::newRow("close in lower case") << "close";
    QTest::newRow("Stop") << "Stop";
}

void MediaPlayerTest::otherCommandsLeavePlaybackAlone()
{
    QFETCH(QString, command);
    const QString path = tonePath(QStringLiteral("four.wav"));
    QtMediaPlayer player;
    const QMediaPlayer& media = player.mediaPlayer();
    QSignalSpy status(&media, &QMediaPlayer::mediaStatusChanged);
    player.setFileName(path);
    player.setCommand(QStringLiteral("Open"));
    player.setCommand(QStringLiteral("Play"));
    if (!waitUntilUnderWay(media, status))
        QSKIP("The audio sink here does not keep to the clock: the tone ended at once");
    // A file name alone changes nothing until the next "Open".
    player.setFileName(tonePath(QStringLiteral("one.wav")));

    player.setCommand(command);

    QCOMPARE(media.source(), QUrl::fromLocalFile(path));
    QTest::qWait(100);
    QVERIFY2(underWay(media), describe(media).constData());
    player.setCommand(QStringLiteral("Close"));
}

void MediaPlayerTest::aMissingBackendIsFoundBeforeQtAbortsOnIt_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("ownFolderOnly"); // a plugin folder holding no backend
    QTest::addColumn<bool>("usable");
    QTest::newRow("gstreamer") << "gstreamer" << false << true;
    QTest::newRow("the default") << "" << false << true;
    QTest::newRow("a backend that is not installed") << "nonexistent" << false << false;
    QTest::newRow("no backend plugins at all") << "gstreamer" << true << false;
}

void MediaPlayerTest::aMissingBackendIsFoundBeforeQtAbortsOnIt()
{
    QFETCH(QString, name);
    QFETCH(bool, ownFolderOnly);
    QFETCH(bool, usable);
    // A folder whose multimedia plugins are no plugins at all.
    QTemporaryDir folder;
    QVERIFY(QDir(folder.path()).mkpath(QStringLiteral("multimedia")));
    QFile fake(folder.filePath(QStringLiteral("multimedia/libgstreamermediaplugin.so")));
    QVERIFY(fake.open(QIODevice::WriteOnly));
    fake.write("not a plugin");
    fake.close();
    const QStringList folders = ownFolderOnly
        ? QStringList { folder.path() }
        : QStringList { folder.path() } + QCoreApplication::libraryPaths();

    const MediaBackend::Plugin plugin = MediaBackend::find(name, folders);

    QCOMPARE(plugin.name, name.isEmpty() ? QStringLiteral("gstreamer") : name);
    QCOMPARE(!plugin.file.isEmpty(), usable);
    QCOMPARE(plugin.problem.isEmpty(), usable);
    if (usable)
        QVERIFY(QLibrary::isLibrary(plugin.file));
}

void MediaPlayerTest::backendIsGStreamerUnlessTheUserChose_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("not set") << QByteArray() << QByteArray("gstreamer");
    QTest::newRow("user chose ffmpeg") << QByteArray("ffmpeg") << QByteArray("ffmpeg");
    QTest::newRow("user chose gstreamer") << QByteArray("gstreamer") << QByteArray("gstreamer");
}

void MediaPlayerTest::backendIsGStreamerUnlessTheUserChose()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    const QByteArray saved = qgetenv("QT_MEDIA_BACKEND");
    if (before.isNull())
        qunsetenv("QT_MEDIA_BACKEND");
    else
        qputenv("QT_MEDIA_BACKEND", before);

    QtMediaPlayer::prepareBackend();
    const QByteArray chosen = qgetenv("QT_MEDIA_BACKEND");

    qputenv("QT_MEDIA_BACKEND", saved);
    QCOMPARE(chosen, after);
}

QTEST_MAIN(MediaPlayerTest)
#include "tst_mediaplayer.moc"
