#include "CommandReply.h"

#include "Module2.h"

#include <algorithm>

namespace CommandReply {
namespace {

bool isLineEnd(QChar c)
{
    return c == QLatin1Char('\r') || c == QLatin1Char('\n');
}

// The result code `line` holds: "OK", "ERROR" or "".
QString codeOf(QStringView line)
{
    const QStringView word = line.trimmed();
    if (word == QLatin1String("OK") || word == QLatin1String("0"))
        return QStringLiteral("OK");
    if (word == QLatin1String("ERROR") || word == QLatin1String("4"))
        return QStringLiteral("ERROR");
    return {};
}

// Calls `visit(start, end)` for every complete line of `text`, the line
// being [start, end) with a CR or LF at end, until it returns false.
template <typename Visit> void forEachLine(const QString& text, Visit visit)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!isLineEnd(text.at(i)))
            continue;
        if (!visit(start, i))
            return;
        start = i + 1;
    }
}

} // namespace

QStringList resultCodes(const QString& text)
{
    QStringList codes;
    forEachLine(text, [&](qsizetype start, qsizetype end) {
        if (const QString code = codeOf(QStringView(text).mid(start, end - start)); !code.isEmpty())
            codes << code;
        return true;
    });
    return codes;
}

Parted part(const QString& text, const QString& command)
{
    Parted parted;
    qsizetype from = -1;
    qsizetype to = -1;
    forEachLine(text, [&](qsizetype start, qsizetype end) {
        parted.code = codeOf(QStringView(text).mid(start, end - start));
        if (parted.code.isEmpty())
            return true;
        from = start;
        to = end;
        return false;
    });

    QString rest = text;
    if (from >= 0) {
        // The line end after the code, and the CR LF a modem giving word
        // codes puts before it.
        if (to < text.size() && text.at(to) == QLatin1Char('\r'))
            ++to;
        if (to < text.size() && text.at(to) == QLatin1Char('\n'))
            ++to;
        if (from >= 2 && QStringView(text).mid(from - 2, 2) == QLatin1String("\r\n"))
            from -= 2;
        // The echo of the command (a modem whose reset turned echo on).
        const QString echo = command + QLatin1Char('\r');
        const qsizetype echoAt
            = from >= echo.size() ? text.lastIndexOf(echo, from - echo.size()) : -1;
        rest = text.left(from) + text.mid(to);
        if (echoAt >= 0)
            rest.remove(echoAt, echo.size());
    }
    const bool framingOnly = std::all_of(
        rest.cbegin(), rest.cend(), [](QChar c) { return isLineEnd(c) || c == QLatin1Char(' '); });
    if (!framingOnly)
        parted.rest = rest;
    return parted;
}

Outcome exchange(const QString& command, QString& kept)
{
    const qsizetype start = Module2::ReceivedText.size();
    Module2::SendString(command + QLatin1Char('\r'));
    Outcome outcome;
    const int polls = qRound(kReplyWait / kReplyPoll);
    for (int poll = 0;; ++poll) {
        Module2::ReadPort();
        if (!resultCodes(Module2::ReceivedText.mid(start)).isEmpty()) {
            // The code's line end may come a moment after it.
            Module2::ReadPort();
            break;
        }
        if (poll >= polls || Module2::PortLost())
            break;
        Module2::Pause(static_cast<float>(kReplyPoll));
        outcome.waited = (poll + 1) * kReplyPoll;
    }
    const Parted parted = part(Module2::ReceivedText.mid(start), command);
    outcome.code = parted.code;
    kept += parted.rest;
    Module2::ReceivedText.truncate(start);
    return outcome;
}

} // namespace CommandReply
