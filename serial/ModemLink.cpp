#include "ModemLink.h"

#include "Logging.h"
#include "Module2.h"

#include <cmath>
#include <limits>

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
void reconnect(Listener& listener)
{
    qCDebug(lcListen).noquote() << "trying to open" << Module2::LastPortName() << "again";
    if (!Module2::ReopenPort())
        return;
    qCDebug(lcListen).noquote() << Module2::LastPortName() << "is back: setting the modem up again";
    sendSetupStrings();
    Module2::ReceivedText.clear();
    Module2::ReadPort();
    const bool answered = !Module2::ReceivedText.isEmpty();
    Module2::ReceivedText.clear();
    if (Module2::PortLost())
        return;
    if (answered) {
        qCDebug(lcListen) << "link restored: the modem answered the set-up (replies dropped)";
        listener.linkRestored();
    } else {
        qCDebug(lcListen).noquote() << "no answer from the modem on" << Module2::LastPortName();
        listener.noAnswer(Module2::LastPortName());
    }
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
    bool told = deaf();
    if (told) {
        qCDebug(lcListen) << "no port to listen on yet";
        listener.linkLost();
    }
    for (quint64 pass = 1;; ++pass) {
        if (deaf())
            reconnect(listener);
        else
            Module2::ReadPort();
        qCDebug(lcListen).noquote()
            << "pass" << pass << "-" << Module2::ReceivedText.size() << "bytes";
        const double now = Runtime::Timer();
        // A call ends before the text that comes after its silence, so that
        // text starts the next one.
        if (talking && secondsSince(lastHeard, now) >= kCallGap) {
            talking = false;
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
        firstPass = false;

        Module2::Pause(2.0f);
        Module2::ReceivedText.clear();
    }
}

} // namespace ModemLink
