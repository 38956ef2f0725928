#include "CallNotifier.h"

#include "DesktopSession.h"
#include "RegModule.h"
#include "Runtime.h"

#include <cmath>

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

double CallNotifier::silence() const
{
    return std::fmod(Runtime::Timer() - m_lastHeard + 86400.0, 86400.0);
}

void CallNotifier::modemSpoke()
{
    if (m_heardAny && silence() >= kCallGap)
        m_inCall = false;
    m_lastHeard = Runtime::Timer();
    m_heardAny = true;
}

void CallNotifier::ring(const QString& caller)
{
    // Step 1: which call this ring belongs to (modemSpoke ends a call).
    if (!m_inCall) {
        m_inCall = true;
        m_shown = false;
        m_shownCaller.clear();
        m_lastHeard = Runtime::Timer();
        m_heardAny = true;
    }

    // Step 2: light the screen.
    if (switchedOn(QStringLiteral("WakeScreen")))
        m_session.wakeScreen();

    // Step 3: one notification per call, kept up to date with the caller.
    // A caller once known is not taken back by a later empty one.
    if (!switchedOn(QStringLiteral("Notify")))
        return;
    if (!m_shown) {
        m_session.notify(kSummary, caller);
        m_shown = true;
        m_shownCaller = caller;
    } else if (!caller.isEmpty() && caller != m_shownCaller) {
        m_session.updateNotification(kSummary, caller);
        m_shownCaller = caller;
    }
}
