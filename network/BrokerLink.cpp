#include "BrokerLink.h"

#include "Logging.h"

#include <QMetaObject>
#include <QRandomGenerator>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mosquitto.h>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

// What the window thread and the connection's thread share. It lives as
// long as either of them needs it, so a thread left behind by the
// destructor never reaches freed memory.
struct BrokerLink::Shared
{
    explicit Shared(const Options& o)
        : options(o)
    { }

    const Options options;

    // Guards `owner`. Never held while calling into libmosquitto, so the
    // library's callbacks may take it.
    std::mutex ownerMutex;
    BrokerLink* owner = nullptr;

    // Guards `client`, `stopping`, the goodbye and `finished`. Held by the
    // window thread around its calls into libmosquitto; libmosquitto's
    // callbacks never take it.
    std::mutex linkMutex;
    std::condition_variable wake;
    mosquitto* client = nullptr;
    bool stopping = false;
    bool finished = false;
    // The goodbye's message id (0: none), and until when its
    // acknowledgement is waited for before the connection is ended.
    int goodbye = 0;
    std::chrono::steady_clock::time_point goodbyeDeadline;

    // The ids of the messages the broker acknowledged lately. Guarded by
    // ackMutex, which the library's callback takes.
    std::mutex ackMutex;
    std::deque<int> acknowledged;
    bool isAcknowledged(int mid)
    {
        std::lock_guard lock(ackMutex);
        return std::find(acknowledged.begin(), acknowledged.end(), mid) != acknowledged.end();
    }
    // Set on the connection's thread while the broker has accepted it.
    std::atomic<bool> connected { false };

    // The connection's thread only: what went wrong with the current
    // connection.
    QString refusal;
    QString lastLibraryError;
    bool acceptedThisTime = false;

    // Runs `call` with the BrokerLink on the window thread, while there is
    // one.
    template <typename Call> void post(Call call)
    {
        std::lock_guard lock(ownerMutex);
        if (owner)
            QMetaObject::invokeMethod(
                owner, [owner = owner, call] { call(owner); }, Qt::QueuedConnection);
    }

    static void run(std::shared_ptr<Shared> shared);
    static mosquitto* makeClient(Shared& s);
    QString reasonFor(int code, int errnoValue) const;

    // libmosquitto's callbacks, on the connection's thread; `data` is the
    // Shared.
    static Shared& from(void* data) { return *static_cast<Shared*>(data); }
    static void onConnect(mosquitto* client, void* data, int code);
    static void onSubscribe(mosquitto* client, void* data, int mid, int count, const int* granted);
    static void onMessage(mosquitto* client, void* data, const mosquitto_message* message);
    static void onLog(mosquitto* client, void* data, int level, const char* text);
    static void onPublish(mosquitto* client, void* data, int mid);
};

namespace {

// libmosquitto is set up once per process, on the window thread.
void initLibrary()
{
    static const bool done = [] {
        mosquitto_lib_init();
        return true;
    }();
    Q_UNUSED(done)
}

} // namespace

void BrokerLink::Shared::onConnect(mosquitto* client, void* data, int code)
{
    Shared& s = from(data);
    if (code != 0) {
        s.refusal = QString::fromUtf8(mosquitto_connack_string(code));
        return;
    }
    s.acceptedThisTime = true;
    s.connected = true;
    s.post([](BrokerLink* owner) { owner->takeConnected(); });
    // Subscriptions do not outlive a connection: made anew each time.
    if (s.options.subscriptions.isEmpty())
        return;
    std::vector<QByteArray> topics;
    for (const QString& topic : s.options.subscriptions)
        topics.push_back(topic.toUtf8());
    std::vector<char*> pointers;
    for (QByteArray& topic : topics)
        pointers.push_back(topic.data());
    mosquitto_subscribe_multiple(
        client, nullptr, int(pointers.size()), pointers.data(), 1, 0, nullptr);
}

void BrokerLink::Shared::onSubscribe(
    mosquitto* client, void* data, int, int count, const int* granted)
{
    Shared& s = from(data);
    // 0x80: the broker refused one (its access control). Listening without
    // it would be deaf without a word: count it as a lost connection.
    if (std::any_of(granted, granted + count, [](int qos) { return qos >= 0x80; })) {
        s.refusal = QStringLiteral("the broker refused the subscription to %1")
                        .arg(s.options.subscriptions.join(QStringLiteral(" and ")));
        mosquitto_disconnect(client);
        return;
    }
    s.post([](BrokerLink* owner) { owner->takeSubscribed(); });
}

void BrokerLink::Shared::onMessage(mosquitto*, void* data, const mosquitto_message* message)
{
    const QString topic = QString::fromUtf8(message->topic);
    const QByteArray payload(static_cast<const char*>(message->payload),
        std::min<qsizetype>(message->payloadlen, kMaxDeliveredBytes));
    from(data).post([topic, payload](BrokerLink* owner) { owner->takeMessage(topic, payload); });
}

void BrokerLink::Shared::onPublish(mosquitto*, void* data, int mid)
{
    Shared& s = from(data);
    std::lock_guard lock(s.ackMutex);
    s.acknowledged.push_back(mid);
    // Only the goodbye's is ever looked for, and it is among the latest.
    if (s.acknowledged.size() > 64)
        s.acknowledged.pop_front();
}

void BrokerLink::Shared::onLog(mosquitto*, void* data, int level, const char* text)
{
    // The library's own account of a failure (OpenSSL's reason for a
    // refused certificate) goes into the reason given to the user.
    if (level == MOSQ_LOG_ERR)
        from(data).lastLibraryError = QString::fromUtf8(text);
}

QString BrokerLink::Shared::reasonFor(int code, int errnoValue) const
{
    if (!refusal.isEmpty())
        return refusal;
    switch (code) {
    case MOSQ_ERR_ERRNO:
        return QString::fromLocal8Bit(std::strerror(errnoValue)).toLower();
    case MOSQ_ERR_EAI:
        return QStringLiteral("the broker's name cannot be looked up");
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_TLS_HANDSHAKE:
        return lastLibraryError.isEmpty() ? QStringLiteral("TLS failed")
                                          : QStringLiteral("TLS failed: ") + lastLibraryError;
    case MOSQ_ERR_KEEPALIVE:
        return QStringLiteral("the broker did not answer within %1 s")
            .arg(options.timing.keepAliveSeconds);
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_NO_CONN:
    case MOSQ_ERR_SUCCESS:
        return QStringLiteral("the connection was closed");
    default:
        return QString::fromUtf8(mosquitto_strerror(code));
    }
}

mosquitto* BrokerLink::Shared::makeClient(Shared& s)
{
    const Options& o = s.options;
    const QString suffix = QStringLiteral("-%1").arg(
        QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    mosquitto* client = mosquitto_new((o.clientName + suffix).toUtf8().constData(), true, &s);
    if (!client)
        return nullptr;
    // The window thread publishes while this thread runs the loop.
    mosquitto_threaded_set(client, true);
    mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // Never in plain text to an mqtts:// broker.
    if (o.address.tls
        && mosquitto_int_option(client, MOSQ_OPT_TLS_USE_OS_CERTS, 1) != MOSQ_ERR_SUCCESS) {
        s.refusal
            = QStringLiteral("this libmosquitto cannot check certificates against the system's");
        mosquitto_destroy(client);
        return nullptr;
    }
    if (!o.user.isEmpty()) {
        mosquitto_username_pw_set(client, o.user.toUtf8().constData(),
            o.password.isEmpty() ? nullptr : o.password.toUtf8().constData());
    }
    if (!o.willTopic.isEmpty()) {
        mosquitto_will_set(client, o.willTopic.toUtf8().constData(), int(o.willPayload.size()),
            o.willPayload.constData(), 1, true);
    }
    mosquitto_connect_callback_set(client, onConnect);
    mosquitto_subscribe_callback_set(client, onSubscribe);
    mosquitto_message_callback_set(client, onMessage);
    mosquitto_log_callback_set(client, onLog);
    mosquitto_publish_callback_set(client, onPublish);
    return client;
}

void BrokerLink::Shared::run(std::shared_ptr<Shared> shared)
{
    Shared& s = *shared;
    const Options& o = s.options;
    const QByteArray host = o.address.host.toUtf8();
    int failures = 0;
    for (;;) {
        // Connect
        s.refusal.clear();
        s.lastLibraryError.clear();
        s.acceptedThisTime = false;
        QString reason;
        if (mosquitto* client = makeClient(s)) {
            // Waits for the name's lookup and the TCP (and TLS) handshake:
            // only this thread waits.
            int code = mosquitto_connect(
                client, host.constData(), o.address.port, o.timing.keepAliveSeconds);
            int errnoValue = errno;
            if (code == MOSQ_ERR_SUCCESS) {
                bool stopping = false;
                {
                    std::lock_guard lock(s.linkMutex);
                    stopping = s.stopping;
                    if (!stopping)
                        s.client = client;
                }
                // Read, write and keep alive until the connection ends. A
                // stop ends it once the broker has acknowledged the goodbye:
                // a connection closed before the broker's answer to it has
                // come may be reset, and the broker then takes it for a
                // lost one (and publishes the will).
                bool disconnecting = false;
                while (!stopping && code == MOSQ_ERR_SUCCESS) {
                    code = mosquitto_loop(client, disconnecting ? 50 : 1000, 1);
                    errnoValue = errno;
                    if (disconnecting || code != MOSQ_ERR_SUCCESS)
                        continue;
                    std::unique_lock lock(s.linkMutex);
                    const bool end = s.stopping
                        && (s.goodbye == 0 || s.isAcknowledged(s.goodbye)
                            || std::chrono::steady_clock::now() >= s.goodbyeDeadline);
                    lock.unlock();
                    if (end) {
                        mosquitto_disconnect(client);
                        disconnecting = true;
                    }
                }
                std::lock_guard lock(s.linkMutex);
                s.client = nullptr;
                s.connected = false;
            }
            reason = s.reasonFor(code, errnoValue);
            mosquitto_destroy(client);
        } else {
            reason = s.refusal.isEmpty() ? QStringLiteral("out of memory") : s.refusal;
        }

        // Say so, wait, try again
        std::unique_lock lock(s.linkMutex);
        if (s.stopping)
            break;
        if (s.acceptedThisTime)
            failures = 0;
        const std::chrono::milliseconds delay = o.once ? 0ms : retryDelay(++failures, o.timing);
        s.post([reason, delay](BrokerLink* owner) { owner->takeLoss(reason, delay); });
        if (o.once || s.wake.wait_for(lock, delay, [&] { return s.stopping; }))
            break;
    }
    std::lock_guard lock(s.linkMutex);
    s.finished = true;
    s.wake.notify_all();
}

// The window thread's side

BrokerLink::BrokerLink(const Options& options, QObject* parent)
    : QObject(parent)
    , m_options(options)
    , m_shared(std::make_shared<Shared>(options))
{
    initLibrary();
}

BrokerLink::~BrokerLink()
{
    // The will as the goodbye: an end that is no crash must not leave the
    // station's last state standing, and the broker keeps the will to
    // itself after a goodbye.
    stop(m_options.willTopic, m_options.willPayload, 500ms);
}

void BrokerLink::start()
{
    if (m_started)
        return;
    m_started = true;
    {
        std::lock_guard lock(m_shared->ownerMutex);
        m_shared->owner = this;
    }
    qCDebug(lcNetwork).noquote() << "connecting to" << m_options.address.display()
                                 << (m_options.user.isEmpty()
                                            ? QStringLiteral("without a user name")
                                            : QStringLiteral("as ") + m_options.user);
    m_thread = std::thread(&Shared::run, m_shared);
}

bool BrokerLink::isConnected() const
{
    return m_connected;
}

bool BrokerLink::publish(const QString& topic, const QByteArray& payload, bool retain)
{
    std::lock_guard lock(m_shared->linkMutex);
    if (!m_shared->client || !m_shared->connected || m_shared->stopping)
        return false;
    const int code = mosquitto_publish(m_shared->client, nullptr, topic.toUtf8().constData(),
        int(payload.size()), payload.constData(), 1, retain);
    return code == MOSQ_ERR_SUCCESS;
}

void BrokerLink::stop(
    const QString& topic, const QByteArray& payload, std::chrono::milliseconds limit)
{
    if (!m_started || m_stopped)
        return;
    m_stopped = true;
    bool finished = false;
    {
        std::unique_lock lock(m_shared->linkMutex);
        m_shared->stopping = true;
        int goodbye = 0;
        // The connection's thread ends the connection once the broker has
        // acknowledged the goodbye, or when it is time.
        if (m_shared->client && m_shared->connected && !topic.isEmpty()
            && mosquitto_publish(m_shared->client, &goodbye, topic.toUtf8().constData(),
                   int(payload.size()), payload.constData(), 1, true)
                == MOSQ_ERR_SUCCESS) {
            m_shared->goodbye = goodbye;
            m_shared->goodbyeDeadline = std::chrono::steady_clock::now() + limit * 3 / 4;
        } else if (m_shared->client) {
            // Also wakes the thread from its wait for the network.
            mosquitto_disconnect(m_shared->client);
        }
        m_shared->wake.notify_all();
        finished = m_shared->wake.wait_for(lock, limit, [this] { return m_shared->finished; });
    }
    {
        std::lock_guard lock(m_shared->ownerMutex);
        m_shared->owner = nullptr;
    }
    m_connected = false;
    // A thread still connecting (a host that does not answer) ends by itself
    // once its connect gives up; it holds its own share of the state.
    if (finished)
        m_thread.join();
    else
        m_thread.detach();
}

std::chrono::milliseconds BrokerLink::retryDelay(int failures, const Timing& timing)
{
    std::chrono::milliseconds delay = timing.firstRetry;
    for (int i = 1; i < failures && delay < timing.longestRetry; ++i)
        delay *= 2;
    return std::min(delay, timing.longestRetry);
}

void BrokerLink::takeConnected()
{
    if (m_stopped)
        return;
    m_connected = true;
    if (m_options.once)
        qCDebug(lcNetwork).noquote() << "the broker" << m_options.address.display() << "answers";
    else if (m_lossTold)
        qCWarning(lcNetwork).noquote()
            << "reached the broker" << m_options.address.display() << "again";
    else
        qCInfo(lcNetwork).noquote() << "connected to the broker" << m_options.address.display();
    m_lossTold = false;
    emit connected();
}

void BrokerLink::takeSubscribed()
{
    if (m_stopped)
        return;
    qCDebug(lcNetwork).noquote() << "subscribed to"
                                 << m_options.subscriptions.join(QStringLiteral(", "));
    emit subscribed();
}

void BrokerLink::takeMessage(const QString& topic, const QByteArray& payload)
{
    if (m_stopped)
        return;
    emit messageReceived(topic, payload);
}

void BrokerLink::takeLoss(const QString& reason, std::chrono::milliseconds retryIn)
{
    if (m_stopped)
        return;
    const bool wasConnected = m_connected;
    m_connected = false;
    const QString address = m_options.address.display();
    const QString retry = QStringLiteral("; trying again in %1 s").arg(retryIn.count() / 1000.0);
    if (m_options.once)
        qCDebug(lcNetwork).noquote() << "the broker" << address << "does not answer:" << reason;
    else if (wasConnected)
        qCWarning(lcNetwork).noquote()
            << "lost the broker" << address + QLatin1Char(':') << reason + retry;
    else if (!m_lossTold)
        qCWarning(lcNetwork).noquote()
            << "cannot reach the broker" << address + QLatin1Char(':') << reason + retry;
    else
        qCDebug(lcNetwork).noquote()
            << "still cannot reach the broker" << address + QLatin1Char(':') << reason + retry;
    m_lossTold = true;
    emit disconnected(reason, retryIn);
}
