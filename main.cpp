#include "MediaPlayer.h"
#include "Platform.h"
#include "QtMessageBox.h"
#include "Runtime.h"
#include "StartOptions.h"
#include "welcome.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char* argv[])
{
    // The command line first: --help, --version and a mistake end here,
    // before anything is opened, shown or created.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const StartOptions::Parsed start = StartOptions::parse(arguments);
    if (start.exit) {
        if (!start.output.isEmpty())
            std::fputs(qPrintable(start.output), stdout);
        if (!start.error.isEmpty())
            std::fprintf(stderr, "%s\n", qPrintable(start.error));
        return start.exitStatus;
    }

    QtMediaPlayer::prepareBackend();
    // On the X server wherever one answers, XWayland included (Platform.h).
    Platform::Arguments platformArguments(argc, argv);
    QApplication app(platformArguments.count(), platformArguments.values());
    QApplication::setApplicationName(QStringLiteral("ringwarden"));
    // Lets the desktop match the windows to the menu entry and its icon.
    QApplication::setDesktopFileName(QStringLiteral("org.ringwarden.Ringwarden"));
    // A steady caret: a blinking one in the Alert window's output box, which
    // has the keyboard from the start of listening, would redraw the window
    // twice a second all day.
    QApplication::setCursorFlashTime(0);
    // The program's notices ("COM4 invalid") as the desktop's message boxes
    // rather than the core's lines on standard error.
    QtMessageBox messageBox;
    Runtime::install({ .messageBox = &messageBox });
    // A second copy started to listen (at log-in, say) leaves the port and
    // the screen to the first.
    if (!Runtime::ClaimInstance() && start.options.listen) {
        std::fputs("Ringwarden is already running\n", stderr);
        return 0;
    }

    welcome settings(start.options);
    settings.Load();
    return QApplication::exec();
}
