#pragma once

#include <QDateTime>
#include <QString>

// One call as the Alert window knows it. A call begins with its first ring
// reaction and ends when the listening loop says the modem has been quiet
// long enough (ModemLink::kCallGap) or the modem was lost. Its caller belongs
// to it alone: the next call starts without one.
struct Call
{
    // The call's number in this run, counting from 1; 0 before the first.
    int serial = 0;
    // Ring reactions of this call so far.
    int rings = 0;
    // The caller's number as the modem gave it: digits, "P" (withheld) or
    // "O" (not available); "" while no caller ID has come.
    QString number;
    // The caller's name, "" when none came.
    QString name;
    // The caller as people read it ("5551234 JOHN DOE", "private number",
    // "unknown number"); "" while no caller ID has come.
    QString caller;
    // When the event that is being reported happened (the ring reaction, the
    // caller ID's arrival, the end).
    QDateTime time;
    // Where the phone rang: "" for this computer's modem, else the name of
    // the station that reported it.
    QString station;
};

// What the Alert window is doing about the line, for whoever shows or
// forwards it.
enum class WatchState
{
    Activating, // the modem is being set up
    Listening, // the modem answered; calls will be seen
    ModemLost, // the modem went away; the port is tried again each pass
    NoAnswer, // the port is open but the modem said nothing to its set-up
};

// Told by the Alert window what happens to calls, so that each concern that
// carries a call beyond the window (the desktop's notifications, the home
// network, the status icon) decides for itself what to do, without the
// window knowing them. Every call comes on the window thread and must return
// at once: a ring reaction never waits for a listener.
class CallListener
{
public:
    virtual ~CallListener() = default;

    // A ring reaction of `call` (its `rings` counts this one).
    virtual void ringReaction(const Call& call) { Q_UNUSED(call) }
    // The caller of the call in progress became known or changed (a name
    // that came in a later pass than the number). Comes after the call's
    // first ring reaction when caller ID came with it or before it.
    virtual void callerIdentified(const Call& call) { Q_UNUSED(call) }
    // The user clicked the ringing band of `call` away in a run that goes on
    // listening afterwards; the next ring reaction shows the band again.
    virtual void ringDismissed(const Call& call) { Q_UNUSED(call) }
    // `call` is over; its caller is forgotten after this.
    virtual void callEnded(const Call& call) { Q_UNUSED(call) }
    // The line's state changed.
    virtual void watchStateChanged(WatchState state) { Q_UNUSED(state) }
};
