#pragma once

#include "CallListener.h"

#include <QDateTime>
#include <QString>
#include <map>
#include <utility>

class DesktopSession;

// Carries each ring beyond the program's own windows: it wakes the screen at
// every ring reaction, keeping it awake until the call ends, and keeps one
// desktop notification per call (a call is its station and its serial:
// another station's call 1 is not this computer's, and both may ring at
// once, each with its own notification), shown at the call's
// first ring reaction and changed in place when its caller becomes known or
// changes. A new call gets a new notification, which starts without a
// caller: an earlier call's caller is never shown for it. Once a call has
// ended, a call of the same station and serial (a station that started
// again) is a new one.
//
// When the call ends its notification goes, and a quiet one in its place
// says "The phone rang at <time of its first ring>" with the caller: the
// next call's notification is never held back behind an earlier one (GNOME
// shows one banner at a time and keeps a critical one up until it goes),
// and someone who was away finds in the desktop's list who called.
//
// Both parts can be switched off in the store, "Software\Ringwarden\Alert",
// values "WakeScreen" and "Notify": "0" switches off, anything else (or no
// value) leaves on. They are read at each ring, so a change counts at the next.
class CallNotifier final : public CallListener
{
public:
    // `session` must outlive this object.
    explicit CallNotifier(DesktopSession& session);

    void ringReaction(const Call& call) override;
    void callerIdentified(const Call& call) override;
    // Lets the screen sleep again, and leaves the call's record in place of
    // its notification.
    void callEnded(const Call& call) override;

private:
    // A call's notification that is up.
    struct Shown
    {
        quint64 key = 0;
        // The caller it shows, and the time of the call's first ring
        // reaction.
        QString caller;
        QDateTime time;
    };

    DesktopSession& m_session;
    // By station and serial: two stations' calls may ring at once.
    std::map<std::pair<QString, int>, Shown> m_shown;
};
