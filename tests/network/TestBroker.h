#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// A real MQTT broker for a test: Debian's mosquitto on a free port of the
// loopback interface, with a configuration file of the test's own (in
// `folder`), no persistence, anonymous clients allowed. It can be stopped
// and started again on the same port, frozen (SIGSTOP: it keeps its
// connections and answers nothing) and thawed. Killed when the object goes.
class TestBroker
{
public:
    // `extraConfig`: more lines for the configuration file (a TLS listener's
    // certificate, a password file).
    explicit TestBroker(const QString& folder, const QStringList& extraConfig = {});
    ~TestBroker();
    TestBroker(const TestBroker&) = delete;
    TestBroker& operator=(const TestBroker&) = delete;

    // Starts the broker and returns once it accepts connections; false
    // (with its output in error()) when it did not come up within 10 s.
    bool start();
    // Ends it (SIGTERM) and waits until it is gone.
    void stop();
    void freeze();
    void thaw();

    int port() const { return m_port; }
    // "mqtt://127.0.0.1:<port>"
    QString url() const;
    QString error() const { return m_error; }

    // A port nobody listens on right now.
    static int freePort();

private:
    QString m_folder;
    QString m_config;
    int m_port = 0;
    std::unique_ptr<QProcess> m_process;
    QString m_error;
};

// mosquitto_sub, Debian's own client, watching the broker from outside the
// program: every message it receives on `topics`, with its retained flag.
class Subscriber
{
public:
    struct Message
    {
        bool retained = false;
        QString topic;
        QByteArray payload;
    };

    // Subscribes, and returns once the subscription is in place (a probe
    // message on ringwarden-test/probe has come back).
    Subscriber(int port, const QStringList& topics);
    ~Subscriber();
    bool ready() const { return m_ready; }

    // Everything received so far, probes left out.
    QList<Message> messages();
    // The messages on `topic`, in order.
    QList<Message> on(const QString& topic);
    // Waits up to `timeoutMs` until `done` holds for the messages.
    bool waitFor(const std::function<bool(const QList<Message>&)>& done, int timeoutMs = 10000);
    // Waits for a message on `topic`, after `already` messages on it.
    bool waitForOn(const QString& topic, int already = 0, int timeoutMs = 10000);
    // What mosquitto_sub wrote on standard error.
    QString errors() const;

    // Publishes one message with mosquitto_pub and waits until it has gone
    // out. `payload` is sent byte for byte.
    static bool publish(
        int port, const QString& topic, const QByteArray& payload, bool retain = false);

private:
    void read();

    QProcess m_process;
    QByteArray m_pending;
    QList<Message> m_messages;
    bool m_ready = false;
};
