#pragma once

#include "CallListener.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <optional>

class BrokerLink;

// Announces this computer's calls on the home network, for the other
// stations and for home automation (HomeMessages has the topics):
// - the status, retained: "listening", "ringing" from a call's first ring
//   reaction until the call ends, "modem lost", "no answer"; nothing while
//   the modem is first set up; "offline" when the program ends (the
//   connection's last will says the same when it dies). A ring clicked
//   away here (an always-on run goes on listening) stays "ringing" until
//   the call ends: the phone rings on, for the lights and the screens in
//   the other rooms;
// - every ring reaction, with the call's number, its ring count and the
//   caller as known so far;
// - the latest caller, retained, when a call's caller becomes known;
// - Home Assistant's discovery of the "Phone ringing" and "Last caller"
//   entities, retained.
// At every connect the discovery, the status and the latest caller are
// published again (a broker that restarted may have lost them). A ring
// reaction while the broker cannot be reached is not kept for later: a
// late ring would be a false alarm.
//
// Only this computer's calls are announced; calls that other stations
// reported are theirs to announce.
class CallPublisher final : public QObject, public CallListener
{
    Q_OBJECT

public:
    // `link` must outlive this object; `station` is this computer's name in
    // the topics; `state` what the Alert window is doing now.
    CallPublisher(
        BrokerLink& link, const QString& station, WatchState state, QObject* parent = nullptr);

    void ringReaction(const Call& call) override;
    void callerIdentified(const Call& call) override;
    void callEnded(const Call& call) override;
    void watchStateChanged(WatchState state) override;
    // Says "offline" on the status topic and leaves the broker: only when
    // the program ends, never when its window is merely hidden or closing
    // was not confirmed.
    void watchStopped() override;

    // The state the status topic should hold now; "" while there is none.
    QString status() const;

private:
    // Everything retained, again: at every connect.
    void announce();
    void publishStatus(bool evenIfSame);

    BrokerLink& m_link;
    QString m_station;
    WatchState m_state = WatchState::Activating;
    // A call of this computer's is in progress (between its first ring
    // reaction and its end).
    bool m_ringing = false;
    // What the status topic was last given on this connection.
    QString m_published;
    std::optional<QByteArray> m_caller;
};
