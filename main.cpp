#include "MediaPlayer.h"
#include "Runtime.h"
#include "welcome.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QtMediaPlayer::prepareBackend();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ringwarden"));
    Runtime::ClaimInstance();

    welcome start;
    start.Load();
    return QApplication::exec();
}
