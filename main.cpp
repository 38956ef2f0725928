#include "MediaPlayer.h"
#include "Platform.h"
#include "QtMessageBox.h"
#include "Runtime.h"
#include "welcome.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QtMediaPlayer::prepareBackend();
    // On the X server wherever one answers, XWayland included (Platform.h).
    Platform::Arguments arguments(argc, argv);
    QApplication app(arguments.count(), arguments.values());
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
