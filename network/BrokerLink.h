#pragma once

#include "NetworkSettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <chrono>
#include <memory>
#include <thread>

// One MQTT connection to the home network's broker, with libmosquitto.
//
// The connection lives on a thread of its own, which resolves the broker's
// name, connects, keeps the connection alive and reads and writes, so that
// nothing the broker or the network does (a name that takes long to look
// up, a host that does not answer, a broker that accepts and never replies)
// ever waits on the window thread. What happens comes to the window thread
// as this object's signals, through its event loop (also the nested loops
// of the listening loop's waits); publish only queues a message and wakes
// the thread.
//
// Each connection is a new libmosquitto client: what a lost connection had
// not yet sent is dropped with it, so a ring from minutes ago is never
// delivered late. While the broker cannot be reached the thread tries again
// by itself, 1 s after the first failure, then 2, 4, 8, ... up to 60 s
// between tries (Timing), and from 1 s again once a connection was
// accepted. The log (ringwarden.network) says when the broker is first
// reached, lost and regained; the password never appears in it.
class BrokerLink : public QObject
{
    Q_OBJECT

public:
    // How long to wait before trying again.
    struct Timing
    {
        std::chrono::milliseconds firstRetry { 1000 };
        std::chrono::milliseconds longestRetry { 60000 };
        // Seconds of silence before the connection is checked with a ping;
        // a broker that stays silent that long again counts as lost.
        int keepAliveSeconds = 20;
        // How long after subscribing the broker's retained messages are
        // waited for before their absence counts.
        std::chrono::milliseconds retainedWait { 2000 };
    };

    struct Options
    {
        NetworkSettings::Address address;
        QString user;
        QString password;
        // Names this program in the broker's log; a random suffix keeps
        // two connections apart.
        QString clientName = QStringLiteral("ringwarden");
        // The last will, which the broker publishes (retained, QoS 1) when
        // the connection ends without a goodbye (stop): none when the topic
        // is empty.
        QString willTopic;
        QByteArray willPayload;
        // Subscribed at QoS 1 after every connect.
        QStringList subscriptions;
        // One try only, no retries: for checking that the broker answers.
        bool once = false;
        Timing timing;
    };

    explicit BrokerLink(const Options& options, QObject* parent = nullptr);
    // Ends the connection without a goodbye (the broker then publishes the
    // last will) and waits a short while for the thread. A thread still
    // stuck in connecting (a host that does not answer) is left to end by
    // itself; it touches nothing of this object.
    ~BrokerLink() override;

    // Starts connecting. Does nothing the second time.
    void start();
    // True between connected() and disconnected().
    bool isConnected() const;

    // Queues `payload` for `topic` at QoS 1 (`retain` for the broker to
    // keep it for later subscribers) and returns at once. While not
    // connected nothing is queued and it returns false: the caller
    // publishes its lasting state again at the next connected().
    bool publish(const QString& topic, const QByteArray& payload, bool retain);

    // Ends the connection for good: when connected, `payload` is published
    // to `topic` (retained) first and the broker is told goodbye, so it
    // keeps the last will to itself. Waits at most `limit` for that to go
    // out. Nothing is reported afterwards.
    void stop(const QString& topic, const QByteArray& payload, std::chrono::milliseconds limit);

    // The wait before the try that follows `failures` failed ones in a row
    // (1 and more): first, twice that, ... never more than longest.
    static std::chrono::milliseconds retryDelay(int failures, const Timing& timing);

    const Options& options() const { return m_options; }

signals:
    // The broker accepted the connection (at the start and after each loss).
    void connected();
    // The broker granted this connection's subscriptions.
    void subscribed();
    // The connection could not be made or was lost; `reason` says why in
    // words for the user. `retryIn` is the wait before the next try (0: no
    // next try, for a link made with `once`).
    void disconnected(const QString& reason, std::chrono::milliseconds retryIn);
    // A message on one of the subscriptions. A payload longer than
    // kMaxDeliveredBytes is cut there (readers drop such messages).
    void messageReceived(const QString& topic, const QByteArray& payload);

public:
    static constexpr qsizetype kMaxDeliveredBytes = 64 * 1024;

private:
    struct Shared;
    // What the connection's thread reports, on the window thread.
    void takeConnected();
    void takeSubscribed();
    void takeMessage(const QString& topic, const QByteArray& payload);
    void takeLoss(const QString& reason, std::chrono::milliseconds retryIn);

    Options m_options;
    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
    bool m_started = false;
    bool m_stopped = false;
    bool m_connected = false;
    // Whether a failure has been said in the log since the broker was last
    // reached: the next success is said too.
    bool m_lossTold = false;
};
