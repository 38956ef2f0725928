#include "CallLog.h"

#include "Runtime.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QStringList>

namespace CallLog {
namespace {

constexpr QFile::Permissions kPrivateFile = QFile::ReadOwner | QFile::WriteOwner;

// `format` (a QLocale time format) without its time zone: the unquoted "t"
// letters, with the brackets and blanks left around them.
QString withoutTimeZone(const QString& format)
{
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        else if (!quoted && c == QLatin1Char('t'))
            continue;
        result += c;
    }
    return result.remove(QStringLiteral("()")).trimmed();
}

bool isLatin1(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0xff)
            return false;
    }
    return true;
}

} // namespace

QString path()
{
    return Runtime::DataDir() + QStringLiteral("/InBox.LOG");
}

bool isNumeric(const QString& caption)
{
    static const QRegularExpression number(
        QStringLiteral(R"(^\s*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?\s*$)"));
    return number.match(caption).hasMatch();
}

QString dateTimeText(const QDateTime& moment, const QLocale& locale)
{
    const QString text = locale.toString(moment.date(), QLocale::ShortFormat) + QLatin1Char(' ')
        + locale.toString(moment.time(), withoutTimeZone(locale.timeFormat(QLocale::LongFormat)));
    if (isLatin1(text))
        return text;
    return QLocale::c().toString(moment, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString record(const QString& dateTime, const QString& number)
{
    QString line = QStringLiteral("   ") + dateTime;
    if (line.size() < kNumberColumn - 1)
        line = line.leftJustified(kNumberColumn - 1);
    else
        line += QLatin1Char(' ');
    return line + number + QStringLiteral("\r\n");
}

QByteArray bytes(const QString& text)
{
    QByteArray result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() <= 0xff)
            result += char(c.unicode());
        else
            result += c.isSpace() ? ' ' : '?';
    }
    return result;
}

bool append(const QString& logPath, const QString& record, QString* error)
{
    if (!Runtime::MakePrivateFolders(QFileInfo(logPath).absolutePath(), error))
        return false;
    QFile file(logPath);
    if (!file.open(
            QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered, kPrivateFile)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QByteArray line = bytes(record);
    if (!line.isEmpty() && file.write(line) != line.size()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace CallLog
