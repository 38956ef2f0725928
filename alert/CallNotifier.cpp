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
    if (!switchedOn(QStringLiteral("Notify")) || isShown(call))
        return;
    m_session.notify(kSummary, call.caller);
    m_shownStation = call.station;
    m_shownCall = call.serial;
    m_shownCaller = call.caller;
    m_shownTime = call.time;
}

void CallNotifier::callerIdentified(const Call& call)
{
    // Only the notification of this call is changed; a caller once shown is
    // not taken back.
    if (!isShown(call) || call.caller.isEmpty() || call.caller == m_shownCaller)
        return;
    if (!switchedOn(QStringLiteral("Notify")))
        return;
    m_session.updateNotification(kSummary, call.caller);
    m_shownCaller = call.caller;
}

void CallNotifier::callEnded(const Call& call)
{
    // Also when the wake was switched off during the call: nothing held is
    // left behind.
    m_session.letScreenSleep();

    // Also when notifications were switched off during the call: a critical
    // one left up would hold the next call's back.
    if (!isShown(call))
        return;
    m_session.endNotification(
        QStringLiteral("The phone rang at %1")
            .arg(QLocale().toString(m_shownTime.time(), QLocale::ShortFormat)),
        m_shownCaller);
    m_shownCall = 0;
}

bool CallNotifier::isShown(const Call& call) const
{
    return m_shownCall != 0 && call.serial == m_shownCall && call.station == m_shownStation;
}
