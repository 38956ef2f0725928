#include "Platform.h"

#include "Logging.h"

#include <QByteArray>
#include <QDebug>
#include <xcb/xcb.h>

namespace Platform {

namespace {

// The value of a -platform (or --platform) argument, "" when there is none.
QString platformArgument(int argc, char** argv)
{
    for (int i = 1; i < argc && argv[i]; ++i) {
        const QByteArray argument(argv[i]);
        for (const char* name : { "-platform", "--platform" }) {
            if (argument == name && i + 1 < argc && argv[i + 1])
                return QString::fromLocal8Bit(argv[i + 1]);
            if (argument.startsWith(QByteArray(name) + '='))
                return QString::fromLocal8Bit(argument.mid(qstrlen(name) + 1));
        }
    }
    return {};
}

// Whether DISPLAY names a server on this machine ("" host, "unix",
// "localhost", or a socket path), where trying it costs nothing.
bool isLocal(const QString& display)
{
    QString host = display.left(display.lastIndexOf(QLatin1Char(':')));
    // "tcp/host:0" and "host/unix:0" forms.
    if (host.startsWith(QLatin1String("tcp/")) || host.startsWith(QLatin1String("inet/")))
        host = host.section(QLatin1Char('/'), 1);
    else if (host.endsWith(QLatin1String("/unix")))
        host = QStringLiteral("unix");
    return host.isEmpty() || host == QLatin1String("unix") || host == QLatin1String("localhost")
        || host == QLatin1String("127.0.0.1") || host.startsWith(QLatin1Char('/'));
}

} // namespace

Choice choose(const Environment& environment)
{
    Choice choice;
    if (!environment.userPlatform.isEmpty()) {
        choice.reason
            = QStringLiteral("the user chose the platform \"%1\"").arg(environment.userPlatform);
        choice.nativeWayland = environment.userPlatform.startsWith(QLatin1String("wayland"));
        return choice;
    }
    if (environment.xServerAnswers) {
        choice.platform = QStringLiteral("xcb");
        choice.reason
            = QStringLiteral("an X server answers at DISPLAY=%1").arg(environment.display);
        if (!environment.waylandDisplay.isEmpty())
            choice.reason += QStringLiteral(" (XWayland beside the Wayland compositor at "
                                            "WAYLAND_DISPLAY=%1, which keeps no window in front)")
                                 .arg(environment.waylandDisplay);
        return choice;
    }
    const QString noServer = environment.display.isEmpty()
        ? QStringLiteral("DISPLAY is not set")
        : QStringLiteral("no X server answers at DISPLAY=%1").arg(environment.display);
    if (!environment.waylandDisplay.isEmpty()) {
        choice.reason = QStringLiteral("%1; Qt chooses, on the Wayland compositor at "
                                       "WAYLAND_DISPLAY=%2")
                            .arg(noServer, environment.waylandDisplay);
        choice.nativeWayland = true;
        return choice;
    }
    choice.reason = QStringLiteral("%1 and WAYLAND_DISPLAY is not set; Qt chooses").arg(noServer);
    return choice;
}

bool xServerAnswers(const QString& display)
{
    if (display.isEmpty())
        return false;
    xcb_connection_t* connection = xcb_connect(display.toLocal8Bit().constData(), nullptr);
    // xcb_connect never returns null: a failed connection is an error object
    // that must be freed all the same.
    const bool answers = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return answers;
}

Environment current(int argc, char** argv)
{
    Environment environment;
    environment.userPlatform = platformArgument(argc, argv);
    if (environment.userPlatform.isEmpty())
        environment.userPlatform = qEnvironmentVariable("QT_QPA_PLATFORM");
    environment.display = qEnvironmentVariable("DISPLAY");
    environment.waylandDisplay = qEnvironmentVariable("WAYLAND_DISPLAY");
    // Only asked when it decides anything.
    if (environment.userPlatform.isEmpty() && !environment.display.isEmpty())
        environment.xServerAnswers
            = isLocal(environment.display) ? xServerAnswers(environment.display) : true;
    return environment;
}

Arguments::Arguments(int argc, char** argv)
    : m_choice(choose(current(argc, argv)))
{
    for (int i = 0; i < argc && argv[i]; ++i)
        m_values.emplace_back(argv[i]);
    if (!m_choice.platform.isEmpty()) {
        m_values.emplace_back("-platform");
        m_values.emplace_back(m_choice.platform.toStdString());
    }
    for (std::string& value : m_values)
        m_pointers.push_back(value.data());
    m_count = int(m_pointers.size());
    m_pointers.push_back(nullptr);

    // Silent on a normal run; the user can see the choice with
    // QT_LOGGING_RULES='ringwarden.desktop=true'. Native Wayland costs the
    // alert its place in front, which the user should hear about.
    const QString platform
        = m_choice.platform.isEmpty() ? QStringLiteral("Qt's own choice") : m_choice.platform;
    qCInfo(lcDesktop).noquote() << "platform:" << platform << "-" << m_choice.reason;
    if (m_choice.nativeWayland)
        qCWarning(lcDesktop).noquote()
            << "running native on Wayland: the compositor decides where the ringing band goes "
               "and whether it stays in front, and the desktop notification carries the alert "
               "(through XWayland, with QT_QPA_PLATFORM unset, the band stays on top)";
}

} // namespace Platform
