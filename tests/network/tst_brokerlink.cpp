// The connection to the home network's broker against a real mosquitto:
// publishing and receiving, the pauses between tries and the recovery when
// the broker comes back, the goodbye of a clean end and the last will of a
// killed station, a refused password, and TLS that trusts only the
// system's certificates.

#include "BrokerLink.h"
#include "Fakes.h"
#include "TestBroker.h"

#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

BrokerLink::Options optionsFor(const QString& url)
{
    NetworkSettings settings;
    settings.broker = url;
    BrokerLink::Options options;
    options.address = settings.address().value();
    options.timing.firstRetry = 10ms;
    options.timing.longestRetry = 40ms;
    return options;
}

// Runs `command` and says whether it ended well.
bool run(const QString& program, const QStringList& arguments, const QString& folder)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(20000) || process.exitCode() != 0) {
        qWarning().noquote() << program << arguments.join(' ') << process.readAll();
        return false;
    }
    return true;
}

} // namespace

class BrokerLinkTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void publishesAndReceives();
    void pausesGrowBetweenTries_data();
    void pausesGrowBetweenTries();
    void triesAgainUntilTheBrokerIsBack();
    void aCleanEndSaysGoodbyeInsteadOfTheWill();
    void aKilledStationLeavesItsWill();
    void aWrongPasswordIsNamed();
    void tlsTrustsOnlyKnownCertificates();

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<TestRuntime> m_runtime;
};

void BrokerLinkTest::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    m_runtime = std::make_unique<TestRuntime>();
}

void BrokerLinkTest::cleanup()
{
    m_runtime.reset();
    m_folder.reset();
}

void BrokerLinkTest::publishesAndReceives()
{
    TestBroker broker(m_folder->path());
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    Subscriber watcher(broker.port(), { "ringwarden/#" });
    QVERIFY(watcher.ready());

    BrokerLink::Options options = optionsFor(broker.url());
    options.subscriptions = { "ringwarden/+/ring" };
    BrokerLink link(options);
    QSignalSpy connected(&link, &BrokerLink::connected);
    QSignalSpy subscribed(&link, &BrokerLink::subscribed);
    QSignalSpy received(&link, &BrokerLink::messageReceived);
    // Nothing goes out before the broker has the connection.
    QVERIFY(!link.publish("ringwarden/den/status", "listening", true));
    link.start();
    QVERIFY(subscribed.wait(10000));
    QCOMPARE(connected.size(), 1);
    QVERIFY(link.isConnected());

    QVERIFY(link.publish("ringwarden/den/status", "listening", true));
    QVERIFY(watcher.waitForOn("ringwarden/den/status"));
    QCOMPARE(watcher.on("ringwarden/den/status").first().payload, QByteArray("listening"));

    // What others send on the subscription comes in, byte for byte; other
    // topics do not.
    QVERIFY(Subscriber::publish(broker.port(), "ringwarden/attic/status", "ringing"));
    const QByteArray binary("{\"a\":\"\xc3\xa9\x00\x01\"}", 13);
    QVERIFY(Subscriber::publish(broker.port(), "ringwarden/attic/ring", binary));
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), 1, 10000);
    QCOMPARE(received.first().at(0).toString(), QStringLiteral("ringwarden/attic/ring"));
    QCOMPARE(received.first().at(1).toByteArray(), binary);
}

void BrokerLinkTest::pausesGrowBetweenTries_data()
{
    QTest::addColumn<int>("failures");
    QTest::addColumn<int>("seconds");
    const int expected[] = { 1, 2, 4, 8, 16, 32, 60, 60 };
    for (int i = 0; i < 8; ++i)
        QTest::addRow("after %d", i + 1) << i + 1 << expected[i];
    QTest::newRow("after 1000") << 1000 << 60;
}

void BrokerLinkTest::pausesGrowBetweenTries()
{
    QFETCH(int, failures);
    QFETCH(int, seconds);
    // The program's own timing.
    QCOMPARE(
        BrokerLink::retryDelay(failures, BrokerLink::Timing {}), std::chrono::seconds(seconds));
}

void BrokerLinkTest::triesAgainUntilTheBrokerIsBack()
{
    CapturedLog log(QStringLiteral("ringwarden.network=true"));
    TestBroker broker(m_folder->path());
    BrokerLink::Options options = optionsFor(broker.url());
    options.subscriptions = { "ringwarden/+/ring" };
    BrokerLink link(options);
    QSignalSpy connected(&link, &BrokerLink::connected);
    QSignalSpy subscribed(&link, &BrokerLink::subscribed);
    QSignalSpy lost(&link, &BrokerLink::disconnected);
    QSignalSpy received(&link, &BrokerLink::messageReceived);

    // No broker yet: refused, then tried again after 10, 20, 40, 40 ms.
    link.start();
    QTRY_VERIFY_WITH_TIMEOUT(lost.size() >= 4, 10000);
    QCOMPARE(lost.at(0).at(0).toString(), QStringLiteral("connection refused"));
    QCOMPARE(lost.at(0).at(1).value<std::chrono::milliseconds>(), 10ms);
    QCOMPARE(lost.at(1).at(1).value<std::chrono::milliseconds>(), 20ms);
    QCOMPARE(lost.at(2).at(1).value<std::chrono::milliseconds>(), 40ms);
    QCOMPARE(lost.at(3).at(1).value<std::chrono::milliseconds>(), 40ms);
    QCOMPARE(connected.size(), 0);

    // The broker comes: connected and subscribed by itself.
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    QVERIFY(subscribed.wait(10000));
    QCOMPARE(connected.size(), 1);

    // It goes and comes back: the subscription is made again, and the
    // pauses start from the first again.
    const qsizetype before = lost.size();
    broker.stop();
    QTRY_VERIFY_WITH_TIMEOUT(lost.size() > before, 10000);
    QCOMPARE(lost.at(before).at(0).toString(), QStringLiteral("the connection was closed"));
    QCOMPARE(lost.at(before).at(1).value<std::chrono::milliseconds>(), 10ms);
    QVERIFY(!link.isConnected());
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    QTRY_COMPARE_WITH_TIMEOUT(subscribed.size(), 2, 10000);
    QCOMPARE(connected.size(), 2);
    QVERIFY(Subscriber::publish(broker.port(), "ringwarden/attic/ring", "{}"));
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), 1, 10000);

    // The log says it once each: cannot reach, reached, lost, reached again.
    const QStringList lines = log.messages("ringwarden.network");
    const auto count = [&](const QString& start) {
        return std::count_if(lines.begin(), lines.end(),
            [&](const QString& line) { return line.startsWith(start); });
    };
    QCOMPARE(count("cannot reach the broker " + broker.url()
                 + ": connection refused; trying again in 0.01 s"),
        1);
    QCOMPARE(count("reached the broker " + broker.url() + " again"), 2);
    QCOMPARE(count("lost the broker " + broker.url() + ": the connection was closed"), 1);
    QVERIFY(count("still cannot reach the broker") >= 3);
    for (const CapturedLog::Line& line : log.lines()) {
        if (line.message.startsWith("cannot reach") || line.message.startsWith("lost")
            || line.message.contains("again"))
            QCOMPARE(line.type, line.message.startsWith("still") ? QtDebugMsg : QtWarningMsg);
    }
}

void BrokerLinkTest::aCleanEndSaysGoodbyeInsteadOfTheWill()
{
    TestBroker broker(m_folder->path());
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    Subscriber watcher(broker.port(), { "ringwarden/#" });
    QVERIFY(watcher.ready());

    BrokerLink::Options options = optionsFor(broker.url());
    options.willTopic = "ringwarden/den/status";
    options.willPayload = "the will";
    // As a station: it hears its own status too, so the broker is still
    // writing to it when it leaves.
    options.subscriptions = { "ringwarden/+/status" };
    auto link = std::make_unique<BrokerLink>(options);
    QSignalSpy connected(link.get(), &BrokerLink::connected);
    link->start();
    QVERIFY(connected.wait(10000));
    QSignalSpy received(link.get(), &BrokerLink::messageReceived);
    QVERIFY(link->publish("ringwarden/den/status", "listening", true));
    QVERIFY(watcher.waitForOn("ringwarden/den/status"));
    QTRY_VERIFY_WITH_TIMEOUT(received.size() >= 1, 10000);

    QSignalSpy lost(link.get(), &BrokerLink::disconnected);
    link->stop("ringwarden/den/status", "goodbye", 1000ms);
    QVERIFY(!link->isConnected());
    QVERIFY(watcher.waitForOn("ringwarden/den/status", 1));
    // Nothing reported after the end, even once events have run.
    QTest::qWait(50);
    QCOMPARE(lost.size(), 0);
    link.reset();

    // The goodbye stays for the next subscriber; the will never came.
    Subscriber late(broker.port(), { "ringwarden/#" });
    QVERIFY(late.waitForOn("ringwarden/den/status"));
    QCOMPARE(late.on("ringwarden/den/status").first().payload, QByteArray("goodbye"));
    QVERIFY(late.on("ringwarden/den/status").first().retained);
    QTest::qWait(50);
    QCOMPARE(watcher.on("ringwarden/den/status").size(), 2);
}

void BrokerLinkTest::aKilledStationLeavesItsWill()
{
    TestBroker broker(m_folder->path());
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    Subscriber watcher(broker.port(), { "ringwarden/#" });
    QVERIFY(watcher.ready());

    QProcess station;
    station.start(QStringLiteral(STATION_HELPER), { broker.url(), "kitchen" });
    QVERIFY(station.waitForReadyRead(10000));
    QCOMPARE(station.readLine().trimmed(), QByteArray("connected"));
    QVERIFY(watcher.waitForOn("ringwarden/kitchen/status"));
    QCOMPARE(watcher.on("ringwarden/kitchen/status").last().payload, QByteArray("listening"));

    station.kill();
    QVERIFY(station.waitForFinished(5000));
    QVERIFY(watcher.waitForOn("ringwarden/kitchen/status", 1));
    const Subscriber::Message will = watcher.on("ringwarden/kitchen/status").last();
    QCOMPARE(will.payload, QByteArray("offline"));
    Subscriber late(broker.port(), { "ringwarden/kitchen/status" });
    QVERIFY(late.waitForOn("ringwarden/kitchen/status"));
    QCOMPARE(late.on("ringwarden/kitchen/status").first().payload, QByteArray("offline"));
    QVERIFY(late.on("ringwarden/kitchen/status").first().retained);
}

void BrokerLinkTest::aWrongPasswordIsNamed()
{
    const QString passwords = m_folder->path() + "/passwords";
    QVERIFY(run("mosquitto_passwd", { "-b", "-c", passwords, "ha", "right" }, m_folder->path()));
    TestBroker broker(m_folder->path(), { "allow_anonymous false", "password_file " + passwords });
    QVERIFY2(broker.start(), qPrintable(broker.error()));

    BrokerLink::Options options = optionsFor(broker.url());
    options.user = "ha";
    options.password = "wrong";
    options.once = true;
    BrokerLink wrong(options);
    QSignalSpy refused(&wrong, &BrokerLink::disconnected);
    wrong.start();
    QVERIFY(refused.wait(10000));
    QVERIFY2(refused.first().at(0).toString().contains("not authorised"),
        qPrintable(refused.first().at(0).toString()));
    // One try only.
    QCOMPARE(refused.first().at(1).value<std::chrono::milliseconds>(), 0ms);

    options.password = "right";
    BrokerLink right(options);
    QSignalSpy connected(&right, &BrokerLink::connected);
    right.start();
    QVERIFY(connected.wait(10000));
}

void BrokerLinkTest::tlsTrustsOnlyKnownCertificates()
{
    // A certificate authority of the test's own and a broker certificate
    // for "localhost" signed by it.
    const QString dir = m_folder->path();
    QVERIFY(run("openssl",
        { "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
            "-keyout", "ca.key", "-out", "ca.crt", "-days", "2", "-subj", "/CN=Test CA" },
        dir));
    QVERIFY(run("openssl",
        { "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
            "broker.key", "-out", "broker.csr", "-subj", "/CN=localhost" },
        dir));
    QFile extension(dir + "/extension");
    QVERIFY(extension.open(QIODevice::WriteOnly));
    extension.write("subjectAltName=DNS:localhost\n");
    extension.close();
    QVERIFY(run("openssl",
        { "x509", "-req", "-in", "broker.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
            "-CAcreateserial", "-out", "broker.crt", "-days", "2", "-extfile", "extension" },
        dir));
    TestBroker broker(dir, { "certfile " + dir + "/broker.crt", "keyfile " + dir + "/broker.key" });
    QVERIFY2(broker.start(), qPrintable(broker.error()));

    BrokerLink::Options options
        = optionsFor(QStringLiteral("mqtts://localhost:%1").arg(broker.port()));
    options.once = true;

    // Not in the system's store: refused, and the reason says so.
    {
        BrokerLink untrusted(options);
        QSignalSpy refused(&untrusted, &BrokerLink::disconnected);
        QSignalSpy connected(&untrusted, &BrokerLink::connected);
        untrusted.start();
        QVERIFY(refused.wait(10000));
        QVERIFY2(refused.first().at(0).toString().contains("certificate verify failed"),
            qPrintable(refused.first().at(0).toString()));
        QCOMPARE(connected.size(), 0);
    }

    // OpenSSL's own way of naming the trusted certificates stands in for
    // the system's store: then the same broker is taken...
    const QByteArray saved = qgetenv("SSL_CERT_FILE");
    qputenv("SSL_CERT_FILE", (dir + "/ca.crt").toLocal8Bit());
    const auto restore = qScopeGuard([&] {
        if (saved.isNull())
            qunsetenv("SSL_CERT_FILE");
        else
            qputenv("SSL_CERT_FILE", saved);
    });
    {
        BrokerLink trusted(options);
        QSignalSpy connected(&trusted, &BrokerLink::connected);
        trusted.start();
        QVERIFY(connected.wait(10000));
    }
    // ...but not under a name its certificate does not carry.
    options.address.host = "127.0.0.1";
    BrokerLink wrongName(options);
    QSignalSpy refused(&wrongName, &BrokerLink::disconnected);
    wrongName.start();
    QVERIFY(refused.wait(10000));
    QVERIFY2(refused.first().at(0).toString().startsWith("TLS failed"),
        qPrintable(refused.first().at(0).toString()));
}

QTEST_GUILESS_MAIN(BrokerLinkTest)
#include "tst_brokerlink.moc"
