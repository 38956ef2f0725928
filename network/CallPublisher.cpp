#include "CallPublisher.h"

#include "BrokerLink.h"
#include "HomeMessages.h"
#include "Logging.h"

using namespace std::chrono_literals;

namespace {

const QString kVersion = QStringLiteral(RINGWARDEN_VERSION);

// How long the end of the program may wait for its goodbye to go out.
constexpr std::chrono::milliseconds kGoodbyeLimit = 1000ms;

} // namespace

CallPublisher::CallPublisher(
    BrokerLink& link, const QString& station, WatchState state, QObject* parent)
    : QObject(parent)
    , m_link(link)
    , m_station(station)
    , m_state(state)
{
    connect(&m_link, &BrokerLink::connected, this, &CallPublisher::announce);
}

QString CallPublisher::status() const
{
    if (m_ringing)
        return HomeMessages::kRinging;
    switch (m_state) {
    case WatchState::Listening:
        return HomeMessages::kListening;
    case WatchState::ModemLost:
        return HomeMessages::kModemLost;
    case WatchState::NoAnswer:
        return HomeMessages::kNoAnswer;
    case WatchState::Activating:
    case WatchState::HomeNetworkLost:
        break;
    }
    return {};
}

void CallPublisher::publishStatus(bool evenIfSame)
{
    const QString state = status();
    if (state.isEmpty() || (state == m_published && !evenIfSame))
        return;
    if (m_link.publish(HomeMessages::statusTopic(m_station), state.toUtf8(), true)) {
        m_published = state;
        qCDebug(lcNetwork).noquote() << "status:" << state;
    }
}

void CallPublisher::announce()
{
    m_link.publish(HomeMessages::ringingConfigTopic(m_station),
        HomeMessages::ringingConfig(m_station, kVersion), true);
    m_link.publish(HomeMessages::callerConfigTopic(m_station),
        HomeMessages::callerConfig(m_station, kVersion), true);
    publishStatus(true);
    if (m_caller)
        m_link.publish(HomeMessages::callerTopic(m_station), *m_caller, true);
    qCDebug(lcNetwork) << "announced: discovery, status and the latest caller";
}

void CallPublisher::ringReaction(const Call& call)
{
    if (!call.station.isEmpty())
        return;
    m_ringing = true;
    publishStatus(false);
    HomeMessages::Ring ring;
    ring.station = m_station;
    ring.call = call.serial;
    ring.ring = call.rings;
    ring.number = call.number;
    ring.name = call.name;
    ring.caller = call.caller;
    ring.time = call.time;
    const bool sent = m_link.publish(
        HomeMessages::ringTopic(m_station), HomeMessages::ringPayload(ring), false);
    qCDebug(lcNetwork).noquote() << QStringLiteral("ring of call %1, ring %2 %3")
                                        .arg(call.serial)
                                        .arg(call.rings)
                                        .arg(sent ? QStringLiteral("published")
                                                  : QStringLiteral("not published: no broker"));
}

void CallPublisher::callerIdentified(const Call& call)
{
    if (!call.station.isEmpty() || call.caller.isEmpty())
        return;
    m_caller = HomeMessages::callerPayload(call.number, call.name, call.caller, call.time);
    m_link.publish(HomeMessages::callerTopic(m_station), *m_caller, true);
}

void CallPublisher::callEnded(const Call& call)
{
    if (!call.station.isEmpty())
        return;
    m_ringing = false;
    publishStatus(false);
}

void CallPublisher::watchStateChanged(WatchState state)
{
    m_state = state;
    publishStatus(false);
}

void CallPublisher::watchStopped()
{
    m_link.stop(HomeMessages::statusTopic(m_station), QByteArray(HomeMessages::kOffline.data()),
        kGoodbyeLimit);
}
