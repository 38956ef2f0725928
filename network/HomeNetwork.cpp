#include "HomeNetwork.h"

#include "Alert.h"
#include "CallPublisher.h"
#include "HomeMessages.h"
#include "Logging.h"

#include <algorithm>

bool HomeNetwork::isNetworkPort(const QString& portText)
{
    return portText.trimmed().compare(QLatin1String("network"), Qt::CaseInsensitive) == 0;
}

HomeNetwork::HomeNetwork(Alert& alert, const NetworkSettings& settings, Role role,
    const BrokerLink::Timing& timing, QObject* parent)
    : QObject(parent)
    , m_alert(alert)
    , m_role(role)
    , m_station(settings.station.trimmed().toLower())
{
    const BrokerLink::Options options = linkOptions(settings, role, timing);
    m_link = std::make_unique<BrokerLink>(options);

    if (m_role == Role::ModemStation) {
        m_publisher = std::make_unique<CallPublisher>(*m_link, m_station, m_alert.watchState());
        m_alert.addCallListener(m_publisher.get());
    } else {
        m_alert.listenToHomeNetworkOnly();
        m_retainedWait.setSingleShot(true);
        m_retainedWait.setInterval(timing.retainedWait);
        connect(&m_retainedWait, &QTimer::timeout, this, &HomeNetwork::tellModems);
        connect(m_link.get(), &BrokerLink::subscribed, this, [this] {
            m_alert.homeNetworkHeard(true);
            m_retainedWait.start();
        });
        connect(m_link.get(), &BrokerLink::disconnected, this, [this] {
            m_retainedWait.stop();
            m_alert.homeNetworkHeard(false);
        });
    }
    connect(m_link.get(), &BrokerLink::messageReceived, this, &HomeNetwork::takeMessage);
    // A new connection's subscription brings every retained state again.
    connect(m_link.get(), &BrokerLink::subscribed, this, [this] {
        m_states.clear();
        m_subscribed = true;
        m_modemsHeard = true;
    });
    connect(m_link.get(), &BrokerLink::disconnected, this, [this] { m_subscribed = false; });
    qCInfo(lcNetwork).noquote() << "home network: station" << m_station << "on"
                                << options.address.display()
                                << (m_role == Role::ModemStation ? "with this computer's modem"
                                                                 : "without a modem");
    m_link->start();
}

BrokerLink::Options HomeNetwork::linkOptions(
    const NetworkSettings& settings, Role role, const BrokerLink::Timing& timing)
{
    const QString station = settings.station.trimmed().toLower();
    BrokerLink::Options options;
    options.address = settings.address().value_or(NetworkSettings::Address {});
    options.user = settings.user;
    options.password = settings.password;
    options.clientName = QStringLiteral("ringwarden-") + station;
    options.subscriptions = { HomeMessages::kRingFilter, HomeMessages::kStatusFilter };
    options.timing = timing;
    if (role == Role::ModemStation) {
        options.willTopic = HomeMessages::statusTopic(station);
        options.willPayload
            = QByteArray(HomeMessages::kOffline.data(), HomeMessages::kOffline.size());
    }
    return options;
}

HomeNetwork::~HomeNetwork()
{
    if (m_publisher)
        m_alert.removeCallListener(m_publisher.get());
}

std::unique_ptr<HomeNetwork> HomeNetwork::start(
    Alert& alert, Role role, const BrokerLink::Timing& timing)
{
    const NetworkSettings settings = NetworkSettings::load();
    if (!settings.enabled())
        return nullptr;
    const QString problem = settings.check();
    if (!problem.isEmpty()) {
        qCWarning(lcNetwork).noquote() << "the home network is off:" << problem;
        return nullptr;
    }
    return std::make_unique<HomeNetwork>(alert, settings, role, timing);
}

void HomeNetwork::takeMessage(const QString& topic, const QByteArray& payload)
{
    if (topic.endsWith(QLatin1String("/status")))
        takeStatus(topic, payload);
    else
        takeRing(topic, payload);
}

void HomeNetwork::takeRing(const QString& topic, const QByteArray& payload)
{
    // This station's own rings came from its modem already.
    if (HomeMessages::stationOf(topic, QLatin1String("ring")) == m_station)
        return;
    const HomeMessages::RingReading reading = HomeMessages::readRing(topic, payload);
    if (!reading.ring) {
        qCWarning(lcNetwork).noquote()
            << "dropped a ring message on" << Logging::escaped(topic) + QLatin1Char(':')
            << reading.problem;
        // The message may hold a caller's number: debug level only.
        qCDebug(lcNetwork).noquote()
            << "the dropped message:"
            << Logging::escaped(QString::fromLatin1(payload.left(HomeMessages::kMaxPayloadBytes)));
        return;
    }
    const HomeMessages::Ring& ring = *reading.ring;

    // A repeat of what was shown already, or a new call of that station.
    const auto known = m_remoteCalls.constFind(ring.station);
    if (known != m_remoteCalls.constEnd()) {
        if (known->serial == ring.call && ring.ring <= known->rings) {
            qCDebug(lcNetwork).noquote() << "skipped a repeat of ring" << ring.ring << "of call"
                                         << ring.call << "of" << ring.station;
            return;
        }
        if (known->serial != ring.call) {
            const Call ended = *known;
            m_remoteCalls.erase(known);
            m_alert.remoteCallEnded(ended);
        }
    }

    Call call;
    call.serial = ring.call;
    call.rings = ring.ring;
    call.number = ring.number;
    call.name = ring.name;
    call.caller = ring.caller;
    call.time = ring.time.toLocalTime();
    call.station = ring.station;
    m_remoteCalls.insert(ring.station, call);
    qCDebug(lcNetwork).noquote() << "ring" << ring.ring << "of call" << ring.call << "of"
                                 << ring.station;
    m_alert.remoteRing(call);
}

void HomeNetwork::tellModems()
{
    const bool any = std::any_of(m_states.cbegin(), m_states.cend(), [](const QString& state) {
        return state == HomeMessages::kListening || state == HomeMessages::kRinging;
    });
    if (any != m_modemsHeard) {
        if (any)
            qCInfo(lcNetwork) << "a station with a modem is listening again";
        else
            qCWarning(lcNetwork) << "no station with a modem is listening";
    }
    m_modemsHeard = any;
    m_alert.homeNetworkModemsHeard(any);
}

void HomeNetwork::takeStatus(const QString& topic, const QByteArray& payload)
{
    const QString station = HomeMessages::stationOf(topic, QLatin1String("status"));
    if (station.isEmpty() || station == m_station)
        return;
    const std::optional<QString> state = HomeMessages::readStatus(payload);
    if (!state) {
        qCWarning(lcNetwork).noquote()
            << "dropped a status message on"
            << Logging::escaped(topic) + QLatin1String(": not a known state");
        return;
    }
    qCDebug(lcNetwork).noquote() << station << "is" << *state;
    m_states.insert(station, *state);
    // A station that listens counts at once; none that does, only once
    // every retained state has had time to come.
    if (m_role == Role::NetworkStation && m_subscribed
        && (!m_retainedWait.isActive() || *state == HomeMessages::kListening
            || *state == HomeMessages::kRinging))
        tellModems();
    // Anything but ringing ends that station's call (also a station that
    // went offline, or started again).
    if (*state == HomeMessages::kRinging)
        return;
    const auto known = m_remoteCalls.constFind(station);
    if (known == m_remoteCalls.constEnd())
        return;
    Call ended = *known;
    ended.time = QDateTime::currentDateTime();
    m_remoteCalls.erase(known);
    m_alert.remoteCallEnded(ended);
}
