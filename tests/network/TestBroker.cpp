#include "TestBroker.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <csignal>
#include <unistd.h>

namespace {

const QString kProbeTopic = QStringLiteral("ringwarden-test/probe");

QString userName()
{
    const QByteArray name = qgetenv("USER");
    if (!name.isEmpty())
        return QString::fromLocal8Bit(name);
    QProcess whoami;
    whoami.start(QStringLiteral("id"), { QStringLiteral("-un") });
    whoami.waitForFinished(5000);
    return QString::fromLocal8Bit(whoami.readAllStandardOutput()).trimmed();
}

} // namespace

int TestBroker::freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

TestBroker::TestBroker(const QString& folder, const QStringList& extraConfig)
    : m_folder(folder)
    , m_config(folder + QStringLiteral("/mosquitto.conf"))
    , m_port(freePort())
{
    QStringList lines {
        QStringLiteral("listener %1 127.0.0.1").arg(m_port),
        QStringLiteral("allow_anonymous true"),
        QStringLiteral("persistence false"),
        // Run as root (in a container), it would drop to the user
        // "mosquitto", who cannot read the test's private folder.
        QStringLiteral("user ") + userName(),
        QStringLiteral("log_dest stderr"),
        QStringLiteral("log_type error"),
        QStringLiteral("log_type warning"),
        QStringLiteral("log_type notice"),
    };
    lines += extraConfig;
    QFile file(m_config);
    if (file.open(QIODevice::WriteOnly))
        file.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n');
}

TestBroker::~TestBroker()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        thaw();
        m_process->kill();
        m_process->waitForFinished(5000);
    }
}

QString TestBroker::url() const
{
    return QStringLiteral("mqtt://127.0.0.1:%1").arg(m_port);
}

bool TestBroker::start()
{
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->start(QStringLiteral("mosquitto"), { QStringLiteral("-c"), m_config });
    if (!m_process->waitForStarted(10000)) {
        m_error = QStringLiteral("mosquitto did not start (run tools/install-deps)");
        return false;
    }
    // Ready once it accepts a connection.
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && m_process->state() == QProcess::Running) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, quint16(m_port));
        if (probe.waitForConnected(200))
            return true;
        QTest::qWait(20);
    }
    m_error = QString::fromLocal8Bit(m_process->readAll());
    return false;
}

void TestBroker::stop()
{
    if (!m_process)
        return;
    thaw();
    m_process->terminate();
    if (!m_process->waitForFinished(5000)) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
}

void TestBroker::freeze()
{
    if (m_process && m_process->processId() > 0)
        ::kill(pid_t(m_process->processId()), SIGSTOP);
}

void TestBroker::thaw()
{
    if (m_process && m_process->processId() > 0)
        ::kill(pid_t(m_process->processId()), SIGCONT);
}

Subscriber::Subscriber(int port, const QStringList& topics)
{
    QStringList arguments { QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
        QString::number(port), QStringLiteral("-q"), QStringLiteral("1"), QStringLiteral("-F"),
        QStringLiteral("%r %t %x") };
    for (const QString& topic : topics + QStringList { kProbeTopic })
        arguments << QStringLiteral("-t") << topic;
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] { read(); });
    m_process.start(QStringLiteral("mosquitto_sub"), arguments);
    if (!m_process.waitForStarted(10000))
        return;
    // The probe comes back once the subscription is in place; until then,
    // probes are lost, so send them until one arrives.
    const QDeadlineTimer deadline(10000);
    while (!m_ready && !deadline.hasExpired() && m_process.state() == QProcess::Running) {
        publish(port, kProbeTopic, "probe");
        QTest::qWait(50);
    }
}

Subscriber::~Subscriber()
{
    m_process.kill();
    m_process.waitForFinished(5000);
}

void Subscriber::read()
{
    m_pending += m_process.readAllStandardOutput();
    qsizetype end = 0;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        const QByteArray line = m_pending.left(end);
        m_pending.remove(0, end + 1);
        // "<retained 0|1> <topic> <payload in hex>"
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 2)
            continue;
        Message message;
        message.retained = fields.at(0) == "1";
        message.topic = QString::fromUtf8(fields.at(1));
        message.payload = fields.size() > 2 ? QByteArray::fromHex(fields.at(2)) : QByteArray();
        if (message.topic == kProbeTopic)
            m_ready = true;
        else
            m_messages.append(message);
    }
}

QList<Subscriber::Message> Subscriber::messages()
{
    read();
    return m_messages;
}

QList<Subscriber::Message> Subscriber::on(const QString& topic)
{
    QList<Message> list;
    for (const Message& message : messages()) {
        if (message.topic == topic)
            list.append(message);
    }
    return list;
}

bool Subscriber::waitFor(const std::function<bool(const QList<Message>&)>& done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done(messages())) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
    return true;
}

bool Subscriber::waitForOn(const QString& topic, int already, int timeoutMs)
{
    return waitFor([&](const QList<Message>&) { return on(topic).size() > already; }, timeoutMs);
}

QString Subscriber::errors() const
{
    return QString::fromLocal8Bit(const_cast<QProcess&>(m_process).readAllStandardError());
}

bool Subscriber::publish(int port, const QString& topic, const QByteArray& payload, bool retain)
{
    QProcess process;
    QStringList arguments { QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
        QString::number(port), QStringLiteral("-q"), QStringLiteral("1"), QStringLiteral("-t"),
        topic, QStringLiteral("-s") };
    if (retain)
        arguments << QStringLiteral("-r");
    process.start(QStringLiteral("mosquitto_pub"), arguments);
    if (!process.waitForStarted(10000))
        return false;
    process.write(payload);
    process.closeWriteChannel();
    return process.waitForFinished(10000) && process.exitCode() == 0;
}
