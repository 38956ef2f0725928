#include "CallNotifier.h"

#include "DesktopSession.h"
#include "RegModule.h"

#include <QLocale>

namespace {

const QString kSummary = QStringLiteral("The phone is ringing");

// True unless the store switches `valueName` off with "0".
bool switchedOn(const QString& valueName)
{
    return RegModule::GetRegValue(RegModule::HKEY_CURRENT_USER,
               QStringLiteral("Software\\Ringwarden\\Alert"), valueName)
        != QLatin1String("0");
}

} // namespace

CallNotifier::CallNotifier(DesktopSession& session)
    : m_session(session)
{ }

void CallNotifier::ringReaction(const Call& call)
{
    // Light the screen.
    if (switchedOn(QStringLiteral("WakeScreen")))
        m_session.wakeScreen();

    // One notification per call.
    const auto id = std::pair(call.station, call.serial);
    if (!switchedOn(QStringLiteral("Notify")) || m_shown.contains(id))
        return;
    m_shown[id] = Shown { m_session.notify(kSummary, call.caller), call.caller, call.time };
}

void CallNotifier::callerIdentified(const Call& call)
{
    // Only the notification of this call is changed; a caller once shown is
    // not taken back.
    const auto shown = m_shown.find(std::pair(call.station, call.serial));
    if (shown == m_shown.end() || call.caller.isEmpty() || call.caller == shown->second.caller)
        return;
    if (!switchedOn(QStringLiteral("Notify")))
        return;
    m_session.updateNotification(shown->second.key, kSummary, call.caller);
    shown->second.caller = call.caller;
}

void CallNotifier::callEnded(const Call& call)
{
    // Also when the wake was switched off during the call: nothing held is
    // left behind.
    m_session.letScreenSleep();

    // Also when notifications were switched off during the call: a critical
    // one left up would hold the next call's back.
    const auto shown = m_shown.find(std::pair(call.station, call.serial));
    if (shown == m_shown.end())
        return;
    m_session.endNotification(shown->second.key,
        QStringLiteral("The phone rang at %1")
            .arg(QLocale().toString(shown->second.time.time(), QLocale::ShortFormat)),
        shown->second.caller);
    m_shown.erase(shown);
}
