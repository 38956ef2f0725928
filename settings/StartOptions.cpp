#include "StartOptions.h"

#include <QCommandLineParser>

namespace {

const QString kProgram = QStringLiteral("ringwarden");

// The options Qt reads from the command line itself (QGuiApplication and
// its X11 platform): they pass through here untouched and unlisted in the
// help.
const char* const kQtValueOptions[] = { "platform", "platformpluginpath", "platformtheme", "plugin",
    "qwindowgeometry", "qwindowicon", "qwindowtitle", "display", "geometry", "name", "title",
    "visual", "style", "stylesheet", "session", "qmljsdebugger" };
const char* const kQtFlagOptions[] = { "reverse", "widgetcount", "nograb", "dograb", "sync" };

} // namespace

StartOptions::Parsed StartOptions::parse(const QStringList& arguments)
{
    QCommandLineParser parser;
    // "-platform xcb" is one option, as Qt reads it.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Shows on screen that the telephone is ringing, through a voice modem."));
    const QCommandLineOption help(
        { QStringLiteral("h"), QStringLiteral("help") }, QStringLiteral("Show this help and end."));
    const QCommandLineOption version({ QStringLiteral("v"), QStringLiteral("version") },
        QStringLiteral("Show the version and end."));
    const QCommandLineOption listen(QStringLiteral("listen"),
        QStringLiteral("Start listening at once, without the settings window."));
    const QCommandLineOption port(QStringLiteral("port"),
        QStringLiteral("The port box's text: a number n for /dev/ttyS(n-1), a device path, a "
                       "device name in /dev, or a name in the ports folder (default: %1).")
            .arg(kDefaultPort),
        QStringLiteral("PORT"), kDefaultPort);
    const QCommandLineOption sound(
        QStringLiteral("sound"), QStringLiteral("Play the stored ring tone when the phone rings."));
    for (const QCommandLineOption& option : { help, version, listen, port, sound })
        parser.addOption(option);
    for (const char* name : kQtValueOptions) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : kQtFlagOptions) {
        QCommandLineOption option(QString::fromLatin1(name), QString());
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    Parsed parsed;
    const auto refuse = [&parsed](const QString& why) {
        parsed.exit = true;
        parsed.exitStatus = kUsageError;
        parsed.error = kProgram + QStringLiteral(": ") + why + QStringLiteral(" Try '") + kProgram
            + QStringLiteral(" --help'.");
        return parsed;
    };
    if (!parser.parse(arguments))
        return refuse(parser.errorText());
    if (parser.isSet(help)) {
        // Qt names the program only when an application object exists; this
        // runs before there is one.
        QString text = parser.helpText();
        text.replace(0, text.indexOf(u'\n'),
            QStringLiteral("Usage: ") + kProgram
                + QStringLiteral(" [--listen] [--port PORT] [--sound]"));
        parsed.exit = true;
        parsed.output = text;
        return parsed;
    }
    if (parser.isSet(version)) {
        parsed.exit = true;
        parsed.output = kProgram + QStringLiteral(" " RINGWARDEN_VERSION "\n");
        return parsed;
    }
    if (!parser.positionalArguments().isEmpty())
        return refuse(QStringLiteral("Unexpected argument '%1'.")
                          .arg(parser.positionalArguments().constFirst()));

    parsed.options.listen = parser.isSet(listen);
    parsed.options.port = parser.value(port);
    parsed.options.sound = parser.isSet(sound);
    return parsed;
}
