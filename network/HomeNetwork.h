#pragma once

#include "BrokerLink.h"
#include "CallListener.h"
#include "NetworkSettings.h"

#include <QHash>
#include <QObject>
#include <QTimer>
#include <memory>

class Alert;
class CallPublisher;

// The home network while the program listens. It keeps the connection to
// the broker and
// - on a station with a modem, announces this computer's calls (a
//   CallPublisher, told by the Alert window);
// - on every station, shows the calls that other stations announce: each
//   of their ring messages is a ring reaction of the Alert window
//   (Alert::remoteRing), their status leaving "ringing" ends their call.
//   A station's own messages are skipped, so its calls never ring twice.
//   A message that is not well formed (HomeMessages::readRing) is dropped
//   with a line in the log and never reaches the band, the call log or the
//   notification; a repeat of a ring already shown (the broker may deliver
//   one twice) is skipped;
// - on a station without a modem, captions the Alert window with the
//   state of the connection and with whether any station with a modem is
//   listening (their retained status), so it is never deaf without saying
//   so.
class HomeNetwork : public QObject
{
    Q_OBJECT

public:
    enum class Role
    {
        ModemStation,
        NetworkStation,
    };

    // The port box's text that makes a station without a modem: "network"
    // (blanks around it and letter case do not count).
    static bool isNetworkPort(const QString& portText);

    // Connects to the broker of `settings` (which must be enabled and
    // good: NetworkSettings::check) for `alert`, which must outlive this
    // object.
    HomeNetwork(Alert& alert, const NetworkSettings& settings, Role role,
        const BrokerLink::Timing& timing = {}, QObject* parent = nullptr);
    ~HomeNetwork() override;

    // The home network of the stored settings for `alert`; nothing when no
    // broker is set, or when the stored values are not good (said in the
    // log).
    static std::unique_ptr<HomeNetwork> start(
        Alert& alert, Role role, const BrokerLink::Timing& timing = {});

    // The connection a station of `role` makes: subscribed to every
    // station's ring and status; a station with a modem leaves "offline" on
    // its status topic as its last will.
    static BrokerLink::Options linkOptions(
        const NetworkSettings& settings, Role role, const BrokerLink::Timing& timing = {});

    const QString& station() const { return m_station; }
    BrokerLink& link() { return *m_link; }

private:
    void takeMessage(const QString& topic, const QByteArray& payload);
    void takeRing(const QString& topic, const QByteArray& payload);
    void takeStatus(const QString& topic, const QByteArray& payload);
    // Tells the Alert window of a station without a modem whether any
    // station with a modem is listening.
    void tellModems();

    Alert& m_alert;
    Role m_role;
    QString m_station;
    std::unique_ptr<BrokerLink> m_link;
    std::unique_ptr<CallPublisher> m_publisher;
    // The call each other station is ringing with, as last shown.
    QHash<QString, Call> m_remoteCalls;
    // Every other station's state, as its status topic says, since this
    // connection's subscription.
    QHash<QString, QString> m_states;
    bool m_subscribed = false;
    // What the Alert window was last told of the stations with a modem.
    bool m_modemsHeard = true;
    // Runs from the subscription until the retained states have had time
    // to come.
    QTimer m_retainedWait;
};
