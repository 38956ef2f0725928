#include "Autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace Autostart {
namespace {

const QString kProgram = QStringLiteral("ringwarden");

// Characters that make the desktop split or interpret an unquoted argument,
// and those that must be escaped inside a quoted one.
const QString kReserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
const QString kEscapedInQuotes = QStringLiteral("\"`$\\");

// One argument of an Exec line: quoted when it is empty or holds a reserved
// character, with "%" doubled so that it is no field code.
QString quoted(const QString& argument)
{
    bool plain = !argument.isEmpty();
    for (const QChar c : argument)
        plain = plain && !kReserved.contains(c);
    QString text;
    if (plain) {
        text = argument;
    } else {
        text += u'"';
        for (const QChar c : argument) {
            if (kEscapedInQuotes.contains(c))
                text += u'\\';
            text += c;
        }
        text += u'"';
    }
    return text.replace(u'%', QStringLiteral("%%"));
}

// `value` written as a desktop file's string: backslashes doubled, line
// breaks and tabs as escapes.
QString escaped(const QString& value)
{
    QString text;
    for (const QChar c : value) {
        switch (c.unicode()) {
        case u'\\':
            text += QStringLiteral("\\\\");
            break;
        case u'\n':
            text += QStringLiteral("\\n");
            break;
        case u'\t':
            text += QStringLiteral("\\t");
            break;
        case u'\r':
            text += QStringLiteral("\\r");
            break;
        default:
            text += c;
        }
    }
    return text;
}

} // namespace

QString path()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/autostart/org.ringwarden.Ringwarden.desktop");
}

bool enabled()
{
    QFile file(path());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    bool inEntry = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'[')) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (!inEntry || equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("Hidden") && value == QLatin1String("true"))
            return false;
        if (key == QLatin1String("X-GNOME-Autostart-enabled") && value == QLatin1String("false"))
            return false;
    }
    return true;
}

QString program()
{
    const QString self = QCoreApplication::applicationFilePath();
    const QString onPath = QStandardPaths::findExecutable(kProgram);
    if (!onPath.isEmpty()
        && QFileInfo(onPath).canonicalFilePath() == QFileInfo(self).canonicalFilePath())
        return kProgram;
    return self;
}

QString execLine(const QString& program, const StartOptions& options)
{
    QStringList arguments { program, QStringLiteral("--listen"), QStringLiteral("--port"),
        options.port };
    if (options.sound)
        arguments << QStringLiteral("--sound");
    QStringList line;
    for (const QString& argument : arguments)
        line << quoted(argument);
    return escaped(line.join(u' '));
}

QString entryText(const QString& program, const StartOptions& options)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Ringwarden\n"
                          "Comment=Listen for telephone calls from the login on\n"
                          "Exec=%1\n"
                          "Icon=org.ringwarden.Ringwarden\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(execLine(program, options));
}

bool write(const StartOptions& options, QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    // Other control characters would make the desktop ignore the whole entry.
    for (const QChar c : options.port) {
        if (c.category() == QChar::Other_Control && c != u'\n' && c != u'\t' && c != u'\r')
            return fail(QStringLiteral("the port text holds a control character"));
    }
    const QString file = path();
    const QString folder = QFileInfo(file).absolutePath();
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("cannot create the folder ") + folder);
    QSaveFile entry(file);
    if (!entry.open(QIODevice::WriteOnly | QIODevice::Text))
        return fail(entry.errorString());
    entry.write(entryText(program(), options).toUtf8());
    if (!entry.commit())
        return fail(entry.errorString());
    return true;
}

bool remove(QString* error)
{
    QFile entry(path());
    if (!entry.exists() || entry.remove())
        return true;
    if (error)
        *error = entry.errorString();
    return false;
}

} // namespace Autostart
