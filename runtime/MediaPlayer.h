#pragma once

#include <QAudioOutput>
#include <QMediaPlayer>
#include <QString>
#include <memory>

// The sound player a window drives through two properties, the way the program
// uses it: the name of the file for the next "Open", and a command.
//
// Commands return at once; playback goes on by itself while the program runs
// on. Nothing is read back: a missing or unplayable file just stays silent.
class MediaPlayer
{
public:
    virtual ~MediaPlayer() = default;

    // Names the media file that the next "Open" loads. Changes nothing else.
    virtual void setFileName(const QString& fileName) = 0;

    // Carries out `command`:
    // - "Close" stops whatever is playing and releases the media; harmless
    //   when nothing is open;
    // - "Open" loads the file named by setFileName;
    // - "Play" starts the loaded file from its beginning and returns at once;
    // - anything else ("wait" among them) does nothing.
    // Commands are compared exactly, letter case included.
    virtual void setCommand(const QString& command) = 0;
};

// The real player: Qt Multimedia's QMediaPlayer playing into the default audio
// output.
//
// On a machine without a sound card or sound server, GStreamer's
// autoaudiosink falls back to a fake sink that keeps to the clock, so a
// tone still "plays" for its length and reaches its end. A media error
// (missing file, unknown format, no usable sink) stops the player instead of
// leaving it in the playing state, and is logged as a warning.
//
// Each command and each outcome ("playing", "finished", "stopped") is
// logged at debug level in ringwarden.player, so that someone can see that
// a tone plays on a machine without speakers.
class QtMediaPlayer final : public MediaPlayer
{
public:
    // Creating one loads the multimedia backend; see create().
    QtMediaPlayer();

    // A new player, or none when Qt Multimedia's backend is missing or does
    // not load (MediaBackend::usable, which says so once): the tone is then
    // lost, the program goes on.
    static std::unique_ptr<MediaPlayer> create();

    void setFileName(const QString& fileName) override;
    void setCommand(const QString& command) override;

    // The Qt player underneath, for observing its state (tests, diagnostics).
    const QMediaPlayer& mediaPlayer() const { return m_player; }

    // Makes Qt Multimedia use its GStreamer backend unless the user has chosen
    // one in QT_MEDIA_BACKEND. The FFmpeg backend of Qt 6.4 crashes when no
    // audio device is present. Call this at the start of main(), before
    // anything creates a player or asks for audio devices: the backend is
    // chosen once per process.
    static void prepareBackend();

private:
    void log(const char* what) const;

    QString m_fileName;
    // Declared before the player so that it outlives it.
    QAudioOutput m_output;
    QMediaPlayer m_player;
};
