#include "CallerId.h"

#include <QFontMetrics>

namespace CallerId {
namespace {

const QLatin1String kNumberKey { "NMBR" };
const QLatin1String kNameKey { "NAME" };

bool isControl(QChar c)
{
    return c.category() == QChar::Other_Control;
}

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

// Where the value of the key that starts at `keyIndex` begins: after the
// key, optional blanks, an optional "=" and optional blanks.
qsizetype valueStart(const QString& text, qsizetype keyIndex)
{
    qsizetype i = keyIndex + 4;
    while (i < text.size() && isBlank(text.at(i)))
        ++i;
    if (i < text.size() && text.at(i) == QLatin1Char('='))
        ++i;
    while (i < text.size() && isBlank(text.at(i)))
        ++i;
    return i;
}

QString withoutTrailingBlanks(QString value)
{
    while (!value.isEmpty() && isBlank(value.back()))
        value.chop(1);
    return value;
}

// The number that starts at `start`: up to its first control character, at
// most kMaxNumberLength characters.
QString numberFrom(const QString& text, qsizetype start)
{
    qsizetype end = start;
    while (end < text.size() && end - start < kMaxNumberLength && !isControl(text.at(end)))
        ++end;
    return withoutTrailingBlanks(text.mid(start, end - start));
}

// The rest of the line that starts at `start`, freed of control characters
// and cut to kMaxFieldLength.
QString fieldFrom(const QString& text, qsizetype start)
{
    QString value;
    for (qsizetype i = start; i < text.size() && value.size() < kMaxFieldLength; ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            break;
        if (!isControl(c))
            value += c;
    }
    return withoutTrailingBlanks(value);
}

bool isReasonCode(const QString& value)
{
    return value == QLatin1String("P") || value == QLatin1String("O");
}

} // namespace

QString numberAt(const QString& text, qint16 nmbrPos)
{
    qsizetype key = qsizetype(nmbrPos) - 8;
    if (key < 0 || QStringView(text).mid(key, 4) != kNumberKey)
        key = text.indexOf(kNumberKey);
    if (key < 0)
        return {};
    return numberFrom(text, valueStart(text, key));
}

Report read(const QString& text)
{
    Report report;
    if (const qsizetype numberKey = text.indexOf(kNumberKey); numberKey >= 0)
        report.number = numberFrom(text, valueStart(text, numberKey));
    if (const qsizetype nameKey = text.indexOf(kNameKey); nameKey >= 0)
        report.name = fieldFrom(text, valueStart(text, nameKey));
    return report;
}

std::optional<Caller> find(const QString& text)
{
    const Report report = read(text);
    if (!report.number)
        return std::nullopt;
    return Caller { *report.number, report.name.value_or(QString()) };
}

QString describe(const Caller& caller)
{
    QString description;
    if (caller.number == QLatin1String("P"))
        description = QStringLiteral("private number");
    else if (caller.number.isEmpty() || caller.number == QLatin1String("O"))
        description = QStringLiteral("unknown number");
    else
        description = caller.number;
    if (!caller.name.isEmpty() && !isReasonCode(caller.name))
        description += QLatin1Char(' ') + caller.name;
    return description;
}

QString describe(const Report& report)
{
    if (report.number)
        return describe(Caller { *report.number, report.name.value_or(QString()) });
    const QString name = report.name.value_or(QString());
    if (name == QLatin1String("P"))
        return QStringLiteral("private number");
    if (name == QLatin1String("O"))
        return QStringLiteral("unknown number");
    return name;
}

QString bandText(const QString& description, const QFont& font, int widthPixels)
{
    if (description.isEmpty())
        return kRinging;
    const QString prefix = kRinging + QStringLiteral(": ");
    const QFontMetrics metrics(font);
    QString text = prefix + description;
    // A text wider than the band would only be seen in part: shorten the
    // description, a pixel of room at a time, until the whole text fits.
    for (int room = widthPixels - metrics.horizontalAdvance(prefix);
         room > 0 && metrics.horizontalAdvance(text) > widthPixels; --room)
        text = prefix + metrics.elidedText(description, Qt::ElideRight, room);
    return text;
}

} // namespace CallerId
