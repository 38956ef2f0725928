#include "MediaPlayer.h"

#include "Logging.h"
#include "MediaBackend.h"

#include <QFileInfo>
#include <QUrl>

QtMediaPlayer::QtMediaPlayer()
{
    m_player.setAudioOutput(&m_output);

    QObject::connect(&m_player, &QMediaPlayer::playbackStateChanged, &m_player,
        [this](QMediaPlayer::PlaybackState state) {
            if (state == QMediaPlayer::PlayingState)
                log("playing");
        });
    QObject::connect(&m_player, &QMediaPlayer::mediaStatusChanged, &m_player,
        [this](QMediaPlayer::MediaStatus status) {
            if (status == QMediaPlayer::EndOfMedia)
                log("finished");
        });
    // Qt 6.4 reports a failed open or a broken stream but stays in the
    // playing state; stop so the player is really idle again.
    QObject::connect(&m_player, &QMediaPlayer::errorOccurred, &m_player,
        [this](QMediaPlayer::Error, const QString& message) {
            qCWarning(lcPlayer).noquote()
                << "cannot play" << m_player.source().toLocalFile() + QLatin1Char(':') << message;
            m_player.stop();
        });
}

std::unique_ptr<MediaPlayer> QtMediaPlayer::create()
{
    if (!MediaBackend::usable())
        return nullptr;
    return std::make_unique<QtMediaPlayer>();
}

void QtMediaPlayer::setFileName(const QString& fileName)
{
    m_fileName = fileName;
}

void QtMediaPlayer::setCommand(const QString& command)
{
    if (command == QLatin1String("Open"))
        qCDebug(lcPlayer).noquote() << "command Open" << m_fileName;
    else
        qCDebug(lcPlayer).noquote() << "command" << command;
    if (command == QLatin1String("Close")) {
        if (m_player.playbackState() == QMediaPlayer::PlayingState)
            log("stopped");
        m_player.stop();
        m_player.setSource(QUrl());
    } else if (command == QLatin1String("Open")) {
        // An empty name opens nothing, like Close.
        m_player.setSource(m_fileName.isEmpty()
                ? QUrl()
                : QUrl::fromLocalFile(QFileInfo(m_fileName).absoluteFilePath()));
    } else if (command == QLatin1String("Play")) {
        if (m_player.position() > 0)
            m_player.setPosition(0);
        m_player.play();
    }
    // Any other command, "wait" among them, means nothing to this player.
}

void QtMediaPlayer::prepareBackend()
{
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "gstreamer");
}

void QtMediaPlayer::log(const char* what) const
{
    qCDebug(lcPlayer).noquote() << what << m_player.source().toLocalFile();
}
