#include "ModemLink.h"

#include "CommandReply.h"
#include "Logging.h"
#include "Module2.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

namespace ModemLink {

const std::array<QString, 5>& setupStrings()
{
    static const std::array<QString, 5> strings {
        QStringLiteral("ATZ\r"),
        QStringLiteral("AT&FE0V1W2&D2&C1S0=0-C0\r"),
        QStringLiteral("ATS7=60\\T0L1M1\\N3-J1%C1\"H3\\Q3B0N1X3\r"),
        QStringLiteral("at+vcid=1\r"),
        QStringLiteral("ATS0=0\r"),
    };
    return strings;
}

const QStringList& otherCallerIdCommands()
{
    static const QStringList commands { QStringLiteral("AT#CID=1"), QStringLiteral("AT%CCID=1") };
    return commands;
}

qint16 NmbrPos(const QString& text)
{
    const qsizetype found = text.indexOf(QLatin1String("NMBR"), 0, Qt::CaseSensitive);
    const qint64 position = (found < 0 ? 0 : found + 1) + 7;
    // A pass is normally a few hundred bytes; a first "NMBR" beyond 32760
    // only comes from a flood, and must not stop the loop.
    return static_cast<qint16>(std::min<qint64>(position, std::numeric_limits<qint16>::max()));
}

namespace {

// Waits 0.2 s, then sends the five set-up strings two seconds apart. Stops
// early when the port goes away meanwhile.
void sendSetupStrings()
{
    Module2::Pause(0.2f);
    for (const QString& command : setupStrings()) {
        Module2::SendString(command);
        Module2::Pause(2.0f);
        if (Module2::PortLost())
            return;
    }
}

// One quiet attempt to get the lost modem back. When the port opens, sets
// the modem up again and drops its replies; tells the listener how it went.
// Returns the replies when the modem answered. Text already waiting in
// ReceivedText stays there.
std::optional<QString> reconnect(Listener& listener)
{
    qCDebug(lcListen).noquote() << "trying to open" << Module2::LastPortName() << "again";
    if (!Module2::ReopenPort())
        return std::nullopt;
    qCDebug(lcListen).noquote() << Module2::LastPortName() << "is back: setting the modem up again";
    sendSetupStrings();
    const qsizetype before = Module2::ReceivedText.size();
    Module2::ReadPort();
    const QString replies = Module2::ReceivedText.mid(before);
    Module2::ReceivedText.truncate(before);
    if (Module2::PortLost())
        return std::nullopt;
    if (replies.isEmpty()) {
        qCDebug(lcListen).noquote() << "no answer from the modem on" << Module2::LastPortName();
        listener.noAnswer(Module2::LastPortName());
        return std::nullopt;
    }
    qCDebug(lcListen) << "link restored: the modem answered the set-up (replies dropped)";
    listener.linkRestored();
    return replies;
}

// Which command makes the modem report callers' numbers, for this run.
class CallerIdMode
{
public:
    // Looks at the set-up's `replies` and, when the modem refused the
    // set-up's caller-ID command, finds the one it takes (see Listen). What
    // arrives meanwhile besides the replies is appended to `kept`. Returns
    // the seconds spent waiting for replies.
    double check(const QString& replies, Listener& listener, QString& kept);
    // Sends the kept command again and drops its reply; see check for
    // `kept` and the result. Nothing when the modem took none.
    double renew(QString& kept);

private:
    // Sends `command`, drops its reply and notes it in the log.
    CommandReply::Outcome send(const QString& command, QString& kept);

    QString m_command = kCallerIdCommand;
    // What the listener was last told.
    QString m_told = kCallerIdCommand;
    bool m_noticeGiven = false;
};

CommandReply::Outcome CallerIdMode::send(const QString& command, QString& kept)
{
    const qsizetype before = kept.size();
    const CommandReply::Outcome outcome = CommandReply::exchange(command, kept);
    qCDebug(lcListen).noquote() << "sent" << command + QLatin1Char(':')
                                << (outcome.code.isEmpty() ? QStringLiteral("no reply")
                                                           : outcome.code)
                                << QStringLiteral(
                                       "(dropped), %1 other bytes kept for the next pass")
                                       .arg(kept.size() - before);
    return outcome;
}

double CallerIdMode::check(const QString& replies, Listener& listener, QString& kept)
{
    double waited = 0;
    // The set-up's fourth string is the caller-ID command. When the modem
    // did not give one code per string, ask it again.
    const QStringList codes = CommandReply::resultCodes(replies);
    bool refused = false;
    if (codes.size() == qsizetype(setupStrings().size())) {
        refused = codes.at(3) == QLatin1String("ERROR");
    } else {
        const CommandReply::Outcome outcome = send(kCallerIdCommand, kept);
        waited += outcome.waited;
        refused = outcome.code == QLatin1String("ERROR");
    }

    // Try the other chip sets' commands, the one taken before first: after
    // a reconnect it is most likely the same modem.
    QStringList tried { kCallerIdCommand };
    QString taken = kCallerIdCommand;
    if (refused) {
        QStringList order = otherCallerIdCommands();
        if (order.removeOne(m_command))
            order.prepend(m_command);
        taken.clear();
        for (const QString& command : order) {
            const CommandReply::Outcome outcome = send(command, kept);
            waited += outcome.waited;
            tried << command;
            if (outcome.code == QLatin1String("OK")) {
                taken = command;
                break;
            }
        }
    }
    // A modem that went away meanwhile said nothing about itself: the next
    // set-up asks again.
    if (Module2::PortLost())
        return waited;
    m_command = taken;

    // Say what was found.
    const QString list = tried.join(QStringLiteral(", "));
    if (!m_command.isEmpty()) {
        const QString refusal
            = refused ? QStringLiteral(" (it refused %1)").arg(kCallerIdCommand) : QString();
        qCInfo(lcListen).noquote() << "caller ID: the modem takes" << m_command + refusal;
    } else {
        qCWarning(lcListen).noquote()
            << "this modem does not report callers' numbers: it took none of" << list;
        if (!m_noticeGiven) {
            m_noticeGiven = true;
            Runtime::Notice(QStringLiteral("This modem does not report callers' numbers"),
                QStringLiteral("It took none of the caller-ID commands %1. Every call still raises "
                               "the alert, without the caller's number.")
                    .arg(list));
        }
    }
    if (m_command != m_told) {
        m_told = m_command;
        listener.callerIdChecked(m_command, tried);
    }
    return waited;
}

double CallerIdMode::renew(QString& kept)
{
    if (m_command.isEmpty())
        return 0;
    qCDebug(lcListen).noquote() << "sending" << m_command << "again: caller ID kept on";
    return send(m_command, kept).waited;
}

// Seconds from the time of day `then` to `now`, across midnight.
double secondsSince(double then, double now)
{
    return std::fmod(now - then + 86400.0, 86400.0);
}

} // namespace

void SetUpModem(const QString& portName)
{
    qCDebug(lcListen).noquote() << "setting the modem up on" << portName;
    Module2::OpenPort(portName);
    sendSetupStrings();
    Module2::ReceivedText.clear();
    qCDebug(lcListen) << "set-up sent; its replies come with the first pass";
}

void Listen(Listener& listener)
{
    // A port that is not held, because it was lost or never opened (the
    // modem not plugged in yet, another program holding it at the start), is
    // tried again every pass: the start has said why once, the tries are
    // quiet.
    const auto deaf = [] { return !Module2::PortIsOpen(); };
    bool firstPass = true;
    // Whether the modem has been talking since the last call ended, and when
    // it last said something (time of day).
    bool talking = false;
    double lastHeard = 0.0;
    CallerIdMode callerId;
    // What came with a command's reply: the start of the next pass's text.
    QString kept;
    bool told = deaf();
    if (told) {
        qCDebug(lcListen) << "no port to listen on yet";
        listener.linkLost();
    }
    for (quint64 pass = 1;; ++pass) {
        // The set-up's replies, to be looked at after this pass.
        std::optional<QString> setUpReplies;
        if (deaf())
            setUpReplies = reconnect(listener);
        else
            Module2::ReadPort();
        qCDebug(lcListen).noquote()
            << "pass" << pass << "-" << Module2::ReceivedText.size() << "bytes";
        const double now = Runtime::Timer();
        // A call ends before the text that comes after its silence, so that
        // text starts the next one.
        bool callOver = false;
        if (talking && secondsSince(lastHeard, now) >= kCallGap) {
            talking = false;
            callOver = true;
            qCDebug(lcListen) << "call ended: the modem has been quiet for" << kCallGap << "s";
            listener.callEnded();
        }
        listener.setReceivedText(Module2::ReceivedText);
        listener.setNmbrPos(NmbrPos(Module2::ReceivedText));
        // The set-up's replies in the first pass are no call.
        if (!firstPass && !Module2::ReceivedText.isEmpty()) {
            talking = true;
            lastHeard = now;
        }

        // Say what keeps the calls from being seen.
        const bool lost = deaf();
        if (lost && !told) {
            qCDebug(lcListen).noquote()
                << "link lost: trying" << Module2::LastPortName() << "again every pass";
            // The listener ends the call itself on a lost link.
            talking = false;
            listener.linkLost();
        }
        told = lost;
        if (firstPass && !lost && Module2::ReceivedText.isEmpty()) {
            qCDebug(lcListen).noquote() << "no answer from the modem on" << Module2::LastPortName();
            listener.noAnswer(Module2::LastPortName());
        }
        if (firstPass && !lost && !Module2::ReceivedText.isEmpty())
            setUpReplies = Module2::ReceivedText;
        firstPass = false;

        // Keep callers' numbers coming; the replies' waits come out of the
        // pause.
        double waited = 0;
        if (!lost && setUpReplies)
            waited = callerId.check(*setUpReplies, listener, kept);
        else if (!lost && callOver)
            waited = callerId.renew(kept);

        Module2::Pause(static_cast<float>(std::max(0.0, 2.0 - waited)));
        Module2::ReceivedText = std::exchange(kept, QString());
    }
}

} // namespace ModemLink
