#pragma once

#include <QString>

class DesktopSession;

// Carries each ring beyond the program's own windows: it wakes the screen and
// keeps one desktop notification per call.
//
// The modem does not say when a call ends, so a call is taken to be over once
// the modem has said nothing for `kCallGap` seconds (longer than any ring
// cadence); the modem's next text after that starts a new call with a new
// notification.
// Within a call the notification is shown at the first ring and changed in
// place when the caller becomes known or changes; further rings send nothing
// new.
//
// Both parts can be switched off in the store, "Software\Ringwarden\Alert",
// values "WakeScreen" and "Notify": "0" switches off, anything else (or no
// value) leaves on. They are read at each ring, so a change counts at the next.
// Time comes from Runtime::Timer.
class CallNotifier
{
public:
    static constexpr double kCallGap = 12.0;

    // `session` must outlive this object.
    explicit CallNotifier(DesktopSession& session);

    // The modem said something (a pass with text).
    void modemSpoke();

    // A ring reaction. `caller` is the caller as the Alert window shows it
    // ("5551234 JOHN DOE", "private number", "unknown number"), or "" while
    // unknown.
    void ring(const QString& caller);

private:
    // Seconds since `m_lastHeard`, across midnight.
    double silence() const;

    DesktopSession& m_session;
    bool m_inCall = false;
    // When the modem last spoke, or the current call began (time of day).
    double m_lastHeard = 0.0;
    bool m_heardAny = false;
    // Whether this call's notification is up, and the caller it shows.
    bool m_shown = false;
    QString m_shownCaller;
};
