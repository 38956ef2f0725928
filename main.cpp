#include "MediaPlayer.h"
#include "QtMessageBox.h"
#include "Runtime.h"
#include "welcome.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QtMediaPlayer::prepareBackend();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ringwarden"));
    // Lets the desktop match the windows to the menu entry and its icon.
    QApplication::setDesktopFileName(QStringLiteral("org.ringwarden.Ringwarden"));
    // The program's notices ("COM4 invalid") as the desktop's message boxes
    // rather than the core's lines on standard error.
    QtMessageBox messageBox;
    Runtime::install({ .messageBox = &messageBox });
    Runtime::ClaimInstance();

    welcome start;
    start.Load();
    return QApplication::exec();
}
