// The home network as the stations use it, against a real mosquitto: what a
// station with a modem announces for its calls (and keeps for late
// subscribers and Home Assistant), its goodbye, a broker that restarts or
// stops answering, and a station without a modem that shows other
// stations' calls and drops what is not well formed. Always on: a station
// without a modem started from its log-in entry, which keeps watching
// after a click, and a station with a modem whose click and close
// question tell the house nothing untrue.

#include "Alert.h"
#include "Autostart.h"
#include "CallListener.h"
#include "CallLog.h"
#include "Eula.h"
#include "Fakes.h"
#include "HomeMessages.h"
#include "HomeNetwork.h"
#include "Module2.h"
#include "NetworkDialog.h"
#include "PictureBox.h"
#include "RecordingMediaPlayer.h"
#include "RegModule.h"
#include "StartOptions.h"
#include "StatusIcon.h"
#include "TestBroker.h"
#include "TextBox.h"
#include "Visual.h"
#include "welcome.h"

#include <QDialogButtonBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

const QString kJohnsCall = QStringLiteral(
    "\r\nRING\r\n\r\nDATE = 1208\r\nTIME = 1405\r\nNMBR = 5551234\r\nNAME = JOHN DOE\r\n\r\n");
const QString kPrivateCall
    = QStringLiteral("\r\nRING\r\n\r\nDATE = 1208\r\nTIME = 1405\r\nNMBR = P\r\n\r\n");
const QString kPlainRing = QStringLiteral("\r\nRING\r\n");
const QString kJanesCall = QStringLiteral(
    "\r\nRING\r\n\r\nDATE = 1208\r\nTIME = 1406\r\nNMBR = 5559876\r\nNAME = JANE ROE\r\n\r\n");
const QString kNetworkListening = QStringLiteral("Listening for calls (home network)");

// Tries again quickly: the broker restarts within the test.
BrokerLink::Timing quick()
{
    BrokerLink::Timing timing;
    timing.firstRetry = 50ms;
    timing.longestRetry = 200ms;
    timing.retainedWait = 100ms;
    return timing;
}

NetworkSettings settingsFor(const TestBroker& broker, const QString& station)
{
    NetworkSettings settings;
    settings.broker = broker.url();
    settings.station = station;
    return settings;
}

QJsonObject object(const QByteArray& payload)
{
    return QJsonDocument::fromJson(payload).object();
}

QList<QByteArray> payloads(const QList<Subscriber::Message>& messages)
{
    QList<QByteArray> list;
    for (const Subscriber::Message& message : messages)
        list << message.payload;
    return list;
}

// Records what the Alert window tells its listeners.
struct Recorder : CallListener
{
    QList<Call> rings;
    QList<Call> callers;
    QList<Call> ended;
    QList<Call> dismissed;
    QList<WatchState> states;
    void ringReaction(const Call& call) override { rings << call; }
    void callerIdentified(const Call& call) override { callers << call; }
    void ringDismissed(const Call& call) override { dismissed << call; }
    void callEnded(const Call& call) override { ended << call; }
    void watchStateChanged(WatchState state) override { states << state; }
};

// An Alert window as a station with a modem has it, fed pass by pass as the
// listening loop would.
struct ModemStation
{
    Alert alert;
    Recorder heard;
    std::unique_ptr<HomeNetwork> network;

    ModemStation(const TestBroker& broker, const QString& station)
    {
        alert.setPlayer(std::make_unique<RecordingMediaPlayer>());
        alert.Load();
        network = std::make_unique<HomeNetwork>(
            alert, settingsFor(broker, station), HomeNetwork::Role::ModemStation, quick());
        alert.addCallListener(&heard);
    }
    ~ModemStation()
    {
        network.reset();
        alert.removeCallListener(&heard);
        alert.hide();
    }
    // Whether the station reaches the broker within 10 s.
    bool connects()
    {
        QSignalSpy connected(&network->link(), &BrokerLink::connected);
        return connected.wait(10000);
    }
    // The modem's replies to its set-up, and their clearing.
    void setUp()
    {
        alert.setReceivedText(QStringLiteral("\r\nOK\r\n"));
        alert.setReceivedText(QString());
    }
    // A call of two ring reactions, and its end.
    void call(const QString& text)
    {
        alert.setReceivedText(text);
        alert.setReceivedText(QString());
        alert.callEnded();
    }
};

} // namespace

class HomeNetworkTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void aCallIsAnnounced_data();
    void aCallIsAnnounced();
    void lateSubscribersAndTheEndFindTheStation();
    void aRestartedBrokerGetsEverythingAgain();
    void aBrokerThatStopsAnsweringNeverHoldsARing();
    void aNetworkStationShowsOtherStationsCalls();
    void aNetworkStationSaysWhenNoModemListens();
    void whatIsNotWellFormedNeverRings_data();
    void whatIsNotWellFormedNeverRings();
    void aNetworkStationWithoutABrokerSaysSo_data();
    void aNetworkStationWithoutABrokerSaysSo();
    void theDialogStoresOnlyGoodSettingsAndTriesTheBroker();
    void aNetworkStationStartedAtLogInKeepsWatching();
    void anAlwaysOnModemStationSaysOfflineOnlyAtTheEnd_data();
    void anAlwaysOnModemStationSaysOfflineOnlyAtTheEnd();

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<TestRuntime> m_runtime;
};

void HomeNetworkTest::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    m_runtime = std::make_unique<TestRuntime>();
    Module2::PortHandle = 0;
    Module2::ReceivedText.clear();
}

void HomeNetworkTest::cleanup()
{
    Module2::ClosePort();
    Runtime::ReleaseInstance();
    m_runtime.reset();
    m_folder.reset();
}

void HomeNetworkTest::aCallIsAnnounced_data()
{
    QTest::addColumn<QString>("modemText");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caller");
    QTest::newRow("caller ID") << kJohnsCall << "5551234"
                               << "JOHN DOE"
                               << "5551234 JOHN DOE";
    QTest::newRow("private caller") << kPrivateCall << "P"
                                    << ""
                                    << "private number";
    QTest::newRow("no caller ID") << kPlainRing << ""
                                  << ""
                                  << "";
}

void HomeNetworkTest::aCallIsAnnounced()
{
    QFETCH(QString, modemText);
    QFETCH(QString, number);
    QFETCH(QString, name);
    QFETCH(QString, caller);
    TestBroker broker(m_folder->path());
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    Subscriber watcher(broker.port(), { "ringwarden/#", "homeassistant/#" });
    QVERIFY(watcher.ready());

    ModemStation kitchen(broker, "kitchen");
    QVERIFY(kitchen.connects());
    // Nothing is said while the modem is set up.
    QVERIFY(watcher.waitForOn("homeassistant/sensor/ringwarden_kitchen/caller/config"));
    QCOMPARE(watcher.on("ringwarden/kitchen/status").size(), 0);

    kitchen.setUp();
    kitchen.call(modemText);
    const QString status = "ringwarden/kitchen/status";
    const QString ring = "ringwarden/kitchen/ring";
    QVERIFY(watcher.waitFor([&](const QList<Subscriber::Message>&) {
        return watcher.on(status).size() == 3 && watcher.on(ring).size() == 2;
    }));

    // The status: listening, ringing while the call lasts, listening again.
    QCOMPARE(
        payloads(watcher.on(status)), (QList<QByteArray> { "listening", "ringing", "listening" }));

    // A message per ring reaction, counting the call's rings, with the
    // caller as the band shows it.
    const QList<Subscriber::Message> rings = watcher.on(ring);
    for (int i = 0; i < 2; ++i) {
        const QJsonObject fields = object(rings.at(i).payload);
        QCOMPARE(fields.value("station").toString(), QStringLiteral("kitchen"));
        QCOMPARE(fields.value("call").toInt(), 1);
        QCOMPARE(fields.value("ring").toInt(), i + 1);
        QCOMPARE(fields.value("number").toString(), number);
        QCOMPARE(fields.value("name").toString(), name);
        QCOMPARE(fields.value("caller").toString(), caller);
        const QDateTime time = QDateTime::fromString(fields.value("time").toString(), Qt::ISODate);
        QVERIFY(time.isValid());
        QVERIFY(qAbs(time.secsTo(QDateTime::currentDateTime())) < 600);
        // What the station sends, another station reads.
        QVERIFY(HomeMessages::readRing(ring, rings.at(i).payload).ring);
    }

    // The caller, kept for Home Assistant's "Last caller", only when one came.
    const QList<Subscriber::Message> callers = watcher.on("ringwarden/kitchen/caller");
    QCOMPARE(callers.size(), caller.isEmpty() ? 0 : 1);
    if (!caller.isEmpty()) {
        const QJsonObject fields = object(callers.first().payload);
        QCOMPARE(fields.value("number").toString(), number);
        QCOMPARE(fields.value("name").toString(), name);
        QCOMPARE(fields.value("caller").toString(), caller);
        QVERIFY(QDateTime::fromString(fields.value("time").toString(), Qt::ISODate).isValid());
    }

    // Its own rings are not shown a second time.
    QCOMPARE(kitchen.heard.rings.size(), 2);
    QVERIFY(kitchen.heard.rings.first().station.isEmpty());
}

void HomeNetworkTest::lateSubscribersAndTheEndFindTheStation()
{
    TestBroker broker(m_folder->path());
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    auto kitchen = std::make_unique<ModemStation>(broker, "kitchen");
    QVERIFY(kitchen->connects());
    Subscriber watcher(broker.port(), { "ringwarden/kitchen/status" });
    kitchen->setUp();
    kitchen->call(kJohnsCall);
    // Listening, ringing, listening.
    QVERIFY(watcher.waitForOn("ringwarden/kitchen/status", 2));

    // Someone who subscribes later (Home Assistant starting) finds the
    // discovery, the status and the last caller.
    const QStringList kept { "homeassistant/binary_sensor/ringwarden_kitchen/ringing/config",
        "homeassistant/sensor/ringwarden_kitchen/caller/config", "ringwarden/kitchen/status",
        "ringwarden/kitchen/caller" };
    Subscriber late(broker.port(), { "ringwarden/#", "homeassistant/#" });
    QVERIFY(late.waitFor(
        [&](const QList<Subscriber::Message>& messages) { return messages.size() >= 4; }));
    QCOMPARE(late.on("ringwarden/kitchen/status").value(0).payload, QByteArray("listening"));
    for (const QString& topic : kept) {
        QCOMPARE(late.on(topic).size(), 1);
        QVERIFY2(late.on(topic).first().retained, qPrintable(topic));
    }
    QCOMPARE(
        object(late.on("ringwarden/kitchen/caller").first().payload).value("caller").toString(),
        QStringLiteral("5551234 JOHN DOE"));
    QCOMPARE(object(late.on(kept.first()).first().payload).value("state_topic").toString(),
        QStringLiteral("ringwarden/kitchen/status"));
    // Rings are not kept.
    QCOMPARE(late.on("ringwarden/kitchen/ring").size(), 0);

    // Closing the Alert window ends the program: the status says offline
    // before it does.
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, kitchen->alert.Unload());
    QVERIFY(late.waitForOn("ringwarden/kitchen/status", 1));
    QCOMPARE(late.on("ringwarden/kitchen/status").last().payload, QByteArray("offline"));
    kitchen.reset();
    Subscriber after(broker.port(), { "ringwarden/kitchen/status" });
    QVERIFY(after.waitForOn("ringwarden/kitchen/status"));
    QCOMPARE(after.on("ringwarden/kitchen/status").first().payload, QByteArray("offline"));
}

void HomeNetworkTest::aRestartedBrokerGetsEverythingAgain()
{
    CapturedLog log(QStringLiteral("ringwarden.network=true"));
    TestBroker broker(m_folder->path());
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    ModemStation kitchen(broker, "kitchen");
    QSignalSpy connected(&kitchen.network->link(), &BrokerLink::connected);
    QVERIFY(connected.wait(10000));
    kitchen.setUp();
    kitchen.call(kJohnsCall);
    {
        Subscriber watcher(broker.port(), { "ringwarden/kitchen/status" });
        QVERIFY(watcher.waitForOn("ringwarden/kitchen/status"));
    }

    // The broker restarts without persistence: everything retained is gone
    // until the station is back.
    broker.stop();
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 2, 10000);
    Subscriber watcher(broker.port(), { "ringwarden/#", "homeassistant/#" });
    QVERIFY(watcher.waitFor(
        [&](const QList<Subscriber::Message>& messages) { return messages.size() >= 4; }));
    QCOMPARE(payloads(watcher.on("ringwarden/kitchen/status")), QList<QByteArray> { "listening" });
    QCOMPARE(
        object(watcher.on("ringwarden/kitchen/caller").value(0).payload).value("caller").toString(),
        QStringLiteral("5551234 JOHN DOE"));
    QCOMPARE(watcher.on("homeassistant/sensor/ringwarden_kitchen/caller/config").size(), 1);
    QCOMPARE(watcher.on("homeassistant/binary_sensor/ringwarden_kitchen/ringing/config").size(), 1);

    // The next call is delivered: call 2.
    kitchen.call(kPlainRing);
    QVERIFY(watcher.waitForOn("ringwarden/kitchen/ring", 1));
    QCOMPARE(
        object(watcher.on("ringwarden/kitchen/ring").first().payload).value("call").toInt(), 2);
    // And the log said what happened.
    const QStringList lines = log.messages("ringwarden.network");
    QVERIFY2(
        lines.filter("lost the broker " + broker.url()).size() == 1, qPrintable(lines.join('\n')));
    QCOMPARE(lines.filter("reached the broker " + broker.url() + " again").size(), 1);
}

void HomeNetworkTest::aBrokerThatStopsAnsweringNeverHoldsARing()
{
    TestBroker broker(m_folder->path());
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    Subscriber watcher(broker.port(), { "ringwarden/kitchen/ring" });
    QVERIFY(watcher.ready());
    ModemStation kitchen(broker, "kitchen");
    QVERIFY(kitchen.connects());
    kitchen.setUp();

    // The broker keeps the connection but answers nothing: the whole ring
    // reaction, the network's listener included, is over while the ring
    // has not even reached it.
    broker.freeze();
    kitchen.alert.setReceivedText(kJohnsCall);
    QCOMPARE(kitchen.heard.rings.size(), 1);
    QVERIFY(kitchen.alert.visual() && kitchen.alert.visual()->isVisible());
    QCOMPARE(kitchen.alert.windowTitle(), QStringLiteral("The Phone is ringing now"));
    QVERIFY(kitchen.network->link().isConnected());
    QTest::qWait(100);
    QCOMPARE(watcher.on("ringwarden/kitchen/ring").size(), 0);
    // Once it answers again, the ring was only queued: it goes out.
    broker.thaw();
    QVERIFY(watcher.waitForOn("ringwarden/kitchen/ring"));
    QCOMPARE(
        object(watcher.on("ringwarden/kitchen/ring").first().payload).value("caller").toString(),
        QStringLiteral("5551234 JOHN DOE"));

    // A "broker" that accepts the connection and never says a word: the
    // station waits for its answer, and rings all the same.
    QTcpServer mute;
    QVERIFY(mute.listen(QHostAddress::LocalHost));
    Alert den;
    den.setPlayer(std::make_unique<RecordingMediaPlayer>());
    den.Load();
    NetworkSettings settings;
    settings.broker = QStringLiteral("mqtt://127.0.0.1:%1").arg(mute.serverPort());
    settings.station = "den";
    HomeNetwork waiting(den, settings, HomeNetwork::Role::ModemStation, quick());
    QTRY_VERIFY_WITH_TIMEOUT(mute.hasPendingConnections(), 10000);
    Recorder heard;
    den.addCallListener(&heard);
    den.setReceivedText("OK");
    den.setReceivedText(QString());
    den.setReceivedText(kPlainRing);
    QCOMPARE(heard.rings.size(), 1);
    QVERIFY(!waiting.link().isConnected());
    den.removeCallListener(&heard);
    den.hide();
}

void HomeNetworkTest::aNetworkStationShowsOtherStationsCalls()
{
    TestBroker broker(m_folder->path());
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    QVERIFY(Runtime::ClaimInstance());

    // The station without a modem, started as a user does: "network" in
    // the port box, then Start Listening.
    RegModule::SetRegValue(
        RegModule::HKEY_CURRENT_USER, Eula::kFlagKeyPath, Eula::kFlagValueName, "^");
    QCOMPARE(settingsFor(broker, "den").store(), QString());
    welcome start;
    start.Load();
    Alert& den = *start.alert();
    den.setPlayer(std::make_unique<RecordingMediaPlayer>());
    start.Check1->click();
    Recorder heard;
    den.addCallListener(&heard);
    start.Text1->setText(" network ");
    start.mnuHidelisten_Click();
    QVERIFY(start.homeNetwork());
    QVERIFY(!start.isVisible());
    QVERIFY(den.isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(
        den.windowTitle(), QStringLiteral("Listening for calls (home network)"), 10000);
    QCOMPARE(heard.states, QList<WatchState> { WatchState::Listening });
    // No port was opened, and nothing was said.
    QVERIFY(!Module2::PortIsOpen());
    QVERIFY(Module2::LastPortName().isEmpty());
    QCOMPARE(m_runtime->messageBox.notices().size(), 0);

    // A station with a modem rings with John's call.
    ModemStation kitchen(broker, "kitchen");
    QVERIFY(kitchen.connects());
    kitchen.setUp();
    kitchen.alert.setReceivedText(kJohnsCall);
    QTRY_COMPARE_WITH_TIMEOUT(heard.rings.size(), 1, 10000);
    QCOMPARE(heard.rings.first().station, QStringLiteral("kitchen"));
    QCOMPARE(heard.rings.first().serial, 1);
    QCOMPARE(den.windowTitle(), QStringLiteral("The Phone is ringing now"));
    QVERIFY(den.visual() && den.visual()->isVisible());
    QCOMPARE(den.visual()->Text1->text(), QStringLiteral("The phone is ringing: 5551234 JOHN DOE"));
    QCOMPARE(den.y(), 0);
    // The tone, as for a ring of its own.
    QVERIFY(static_cast<RecordingMediaPlayer*>(den.MMControl1.get())
                ->commands()
                .contains(QStringLiteral("Play")));
    // The notification hears the caller once, for this station and call.
    QCOMPARE(heard.callers.size(), 1);
    QCOMPARE(heard.callers.first().caller, QStringLiteral("5551234 JOHN DOE"));

    // The call's second ring: the same call, no second caller, no second
    // record in the call log.
    kitchen.alert.setReceivedText(QString());
    QTRY_COMPARE_WITH_TIMEOUT(heard.rings.size(), 2, 10000);
    QCOMPARE(heard.rings.at(1).rings, 2);
    QCOMPARE(heard.callers.size(), 1);
    // The kitchen's modem goes quiet: the call is over there and here.
    kitchen.alert.callEnded();
    QTRY_COMPARE_WITH_TIMEOUT(heard.ended.size(), 1, 10000);
    QCOMPARE(heard.ended.first().station, QStringLiteral("kitchen"));
    QCOMPARE(den.visual()->Text1->text(), QStringLiteral("The phone is ringing"));
    QFile log(CallLog::path());
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray records = log.readAll();
    QCOMPARE(records.count("\r\n"), 1);
    QVERIFY(records.contains("5551234"));

    // A second line's station rings too: both stations show it, neither
    // shows its own ring twice.
    const int kitchenRings = kitchen.heard.rings.size();
    HomeMessages::Ring attic { "attic", 4, 1, "5550002", "JANE ROE", "5550002 JANE ROE",
        QDateTime::currentDateTime() };
    QVERIFY(Subscriber::publish(
        broker.port(), "ringwarden/attic/ring", HomeMessages::ringPayload(attic)));
    QTRY_COMPARE_WITH_TIMEOUT(kitchen.heard.rings.size(), kitchenRings + 1, 10000);
    QCOMPARE(kitchen.heard.rings.last().station, QStringLiteral("attic"));
    QCOMPARE(kitchen.alert.visual()->Text1->text(),
        QStringLiteral("The phone is ringing: 5550002 JANE ROE"));
    QTRY_COMPARE_WITH_TIMEOUT(heard.rings.size(), 3, 10000);
    QCOMPARE(heard.rings.last().station, QStringLiteral("attic"));
    QCOMPARE(den.visual()->Text1->text(), QStringLiteral("The phone is ringing: 5550002 JANE ROE"));
    QCOMPARE(kitchen.heard.rings.size(), kitchenRings + 1);
    // The broker may deliver a message twice: the same ring rings once.
    QVERIFY(Subscriber::publish(
        broker.port(), "ringwarden/attic/ring", HomeMessages::ringPayload(attic)));
    attic.ring = 2;
    QVERIFY(Subscriber::publish(
        broker.port(), "ringwarden/attic/ring", HomeMessages::ringPayload(attic)));
    QTRY_COMPARE_WITH_TIMEOUT(heard.rings.size(), 4, 10000);
    QCOMPARE(heard.rings.last().rings, 2);
    QTRY_COMPARE_WITH_TIMEOUT(kitchen.heard.rings.size(), kitchenRings + 2, 10000);
    QCOMPARE(heard.rings.size(), 4);

    // A click on the band ends the program, as on a modem's station.
    den.removeCallListener(&heard);
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, emit den.visual()->picScr->Click());
}

void HomeNetworkTest::aNetworkStationSaysWhenNoModemListens()
{
    TestBroker broker(m_folder->path());
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    Alert den;
    den.setPlayer(std::make_unique<RecordingMediaPlayer>());
    den.Load();
    Recorder heard;
    den.addCallListener(&heard);
    // The panel's icon shows the same as the caption, crossed out while
    // nothing can be heard.
    den.setAlwaysOn(true);
    const StatusIcon& icon = *den.statusIcon();
    const auto panel = [&icon] {
        static const char* const pictures[] = { "listening", "ringing", "silent" };
        return QString::fromLatin1(pictures[int(icon.picture())]) + ", " + icon.toolTip();
    };
    HomeNetwork network(
        den, settingsFor(broker, "den"), HomeNetwork::Role::NetworkStation, quick());

    // The broker is there, but no station with a modem: no call can come.
    const QString none = QStringLiteral("No modem is listening on the home network");
    const QString listening = QStringLiteral("Listening for calls (home network)");
    QTRY_COMPARE_WITH_TIMEOUT(den.windowTitle(), none, 10000);
    QVERIFY(den.isVisible());
    QCOMPARE(heard.states.last(), WatchState::HomeNetworkLost);
    QCOMPARE(panel(), "silent, " + none);

    // A station with a modem starts listening.
    den.hide();
    ModemStation kitchen(broker, "kitchen");
    QVERIFY(kitchen.connects());
    kitchen.setUp();
    QTRY_COMPARE_WITH_TIMEOUT(den.windowTitle(), listening, 10000);
    QCOMPARE(heard.states.last(), WatchState::Listening);
    QCOMPARE(panel(), "listening, " + listening);

    // Its modem is lost in the middle of a call, and comes back. The
    // status goes from ringing to modem lost, not by listening.
    Subscriber watcher(broker.port(), { "ringwarden/kitchen/status" });
    QVERIFY(watcher.waitForOn("ringwarden/kitchen/status"));
    kitchen.alert.setReceivedText(kPlainRing);
    kitchen.alert.linkLost();
    QVERIFY(watcher.waitForOn("ringwarden/kitchen/status", 2));
    QCOMPARE(payloads(watcher.on("ringwarden/kitchen/status")),
        (QList<QByteArray> { "listening", "ringing", "modem lost" }));
    // (Also when it came while the ring's window came into view.)
    QTRY_COMPARE_WITH_TIMEOUT(den.windowTitle(), none, 10000);
    QVERIFY(den.isVisible());
    QCOMPARE(panel(), "silent, " + none);
    kitchen.alert.linkRestored();
    // The caption the station's own state calls for: it has rung.
    QTRY_COMPARE_WITH_TIMEOUT(den.windowTitle(), QStringLiteral("The Phone is ringing now"), 10000);

    // A station that knew of it before connecting finds it from the
    // broker's retained state, without a warning in between.
    Alert attic;
    attic.Load();
    Recorder atticHeard;
    attic.addCallListener(&atticHeard);
    HomeNetwork second(
        attic, settingsFor(broker, "attic"), HomeNetwork::Role::NetworkStation, quick());
    QTRY_COMPARE_WITH_TIMEOUT(attic.windowTitle(), listening, 10000);
    QTest::qWait(150);
    QCOMPARE(attic.windowTitle(), listening);
    QCOMPARE(atticHeard.states, QList<WatchState> { WatchState::Listening });
    attic.removeCallListener(&atticHeard);

    // The broker goes away: the station says so and comes into view, once;
    // when it is back, the caption returns.
    den.hide();
    broker.stop();
    const QString gone = QStringLiteral("Home network disconnected - reconnecting...");
    QTRY_COMPARE_WITH_TIMEOUT(den.windowTitle(), gone, 10000);
    QVERIFY(den.isVisible());
    QCOMPARE(heard.states.last(), WatchState::HomeNetworkLost);
    QCOMPARE(panel(), "silent, " + gone);
    den.hide();
    QTest::qWait(150);
    QVERIFY2(!den.isVisible(), "every try again must not bring the window back");
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    QTRY_COMPARE_WITH_TIMEOUT(den.windowTitle(), QStringLiteral("The Phone is ringing now"), 10000);
    QCOMPARE(heard.states.last(), WatchState::Listening);
    // The kitchen's ring has not been clicked away.
    QCOMPARE(panel(), QStringLiteral("ringing, The Phone is ringing now"));
    den.removeCallListener(&heard);
    den.hide();
}

void HomeNetworkTest::whatIsNotWellFormedNeverRings_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("reason");
    HomeMessages::Ring ring { "attic", 1, 1, "5550002", "JANE ROE", "5550002 JANE ROE",
        QDateTime::currentDateTime() };
    QByteArray good = HomeMessages::ringPayload(ring);
    QTest::newRow("not JSON") << QByteArray("RING") << "not a JSON object";
    QTest::newRow("oversized") << QByteArray(200000, ' ') + good << "longer than 1024 bytes";
    HomeMessages::Ring longNumber = ring;
    longNumber.number = QString(16, '5');
    QTest::newRow("number of 16") << HomeMessages::ringPayload(longNumber)
                                  << "\"number\" is longer";
    HomeMessages::Ring control = ring;
    control.caller = "5550002\r\nJANE";
    QTest::newRow("control characters")
        << HomeMessages::ringPayload(control) << "control character";
    QTest::newRow("wrong type") << QByteArray(good).replace("\"call\":1", "\"call\":\"1\"")
                                << "\"call\"";
}

void HomeNetworkTest::whatIsNotWellFormedNeverRings()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, reason);
    CapturedLog log;
    TestBroker broker(m_folder->path());
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    Alert den;
    den.setPlayer(std::make_unique<RecordingMediaPlayer>());
    den.Load();
    Recorder heard;
    den.addCallListener(&heard);
    HomeNetwork network(
        den, settingsFor(broker, "den"), HomeNetwork::Role::NetworkStation, quick());
    QSignalSpy subscribed(&network.link(), &BrokerLink::subscribed);
    QVERIFY(subscribed.wait(10000));

    QVERIFY(Subscriber::publish(broker.port(), "ringwarden/attic/ring", payload));
    // A good one after it, to know the bad one has been dealt with.
    HomeMessages::Ring good { "attic", 2, 1, "5550003", "", "5550003",
        QDateTime::currentDateTime() };
    QVERIFY(Subscriber::publish(
        broker.port(), "ringwarden/attic/ring", HomeMessages::ringPayload(good)));
    QTRY_COMPARE_WITH_TIMEOUT(heard.rings.size(), 1, 10000);
    QCOMPARE(heard.rings.first().serial, 2);
    QCOMPARE(den.visual()->Text1->text(), QStringLiteral("The phone is ringing: 5550003"));

    // Said in the log (a warning, shown without any rule), without the
    // caller; never in the call log.
    const QStringList lines = log.messages("ringwarden.network");
    QCOMPARE(lines.filter("dropped a ring message on \"ringwarden/attic/ring\"").size(), 1);
    QVERIFY2(lines.filter(reason).size() == 1, qPrintable(lines.join('\n')));
    QVERIFY(lines.filter("5550002").isEmpty());
    QFile callLog(CallLog::path());
    QVERIFY(callLog.open(QIODevice::ReadOnly));
    const QByteArray records = callLog.readAll();
    QVERIFY(!records.contains("5550002"));
    QCOMPARE(records.count("5550003"), 1);
    den.removeCallListener(&heard);
    den.hide();
}

void HomeNetworkTest::aNetworkStationWithoutABrokerSaysSo_data()
{
    QTest::addColumn<bool>("atLogIn");
    QTest::newRow("Start Listening with network in the port box") << false;
    QTest::newRow("--listen --port network, as at log-in") << true;
}

void HomeNetworkTest::aNetworkStationWithoutABrokerSaysSo()
{
    QFETCH(bool, atLogIn);
    CapturedLog log;
    QVERIFY(Runtime::ClaimInstance());
    RegModule::SetRegValue(
        RegModule::HKEY_CURRENT_USER, Eula::kFlagKeyPath, Eula::kFlagValueName, "^");
    StartOptions options;
    options.listen = atLogIn;
    options.port = "network";
    welcome start(options);
    start.Load();
    if (atLogIn) {
        // Nothing is shown until the queued start has run.
        QVERIFY(!start.isVisible());
        QCoreApplication::sendPostedEvents(&start, QEvent::MetaCall);
    } else {
        start.mnuHidelisten_Click();
    }
    // Said, without waiting for an answer, over the settings window, where
    // the broker can be set; and in the log, for a start nobody watched.
    QCOMPARE(m_runtime->messageBox.texts(), QStringList { "No home network is set up" });
    const RecordingMessageBox::Notice& notice = m_runtime->messageBox.notices().first();
    QVERIFY(notice.detail.contains("Start > Home network..."));
    QVERIFY(!notice.waited);
    QVERIFY(start.isVisible());
    QVERIFY(!start.alert()->isVisible());
    QVERIFY(!start.homeNetwork());
    QVERIFY(!Module2::PortIsOpen());
    QCOMPARE(log.messages("ringwarden.network"),
        QStringList { "not listening: No home network is set up" });

    // Settings someone broke by hand are said too.
    RegModule::SetRegValue(
        RegModule::HKEY_CURRENT_USER, NetworkSettings::kKeyPath, "Broker", "pi:1883");
    start.mnuHidelisten_Click();
    QCOMPARE(m_runtime->messageBox.texts().last(),
        QStringLiteral("The home network's settings are not right"));
    QVERIFY(!start.alert()->isVisible());

    // Once a broker is set, Start Listening listens, and a run started to
    // listen at log-in keeps watching after a call.
    NetworkSettings settings;
    settings.broker = QStringLiteral("mqtt://127.0.0.1:%1").arg(TestBroker::freePort());
    settings.station = "den";
    QCOMPARE(settings.store(), QString());
    start.mnuHidelisten_Click();
    QVERIFY(start.homeNetwork());
    QVERIFY(start.alert()->isVisible());
    QVERIFY(!start.isVisible());
    QCOMPARE(start.alert()->alwaysOn(), atLogIn);
    QCOMPARE(m_runtime->messageBox.notices().size(), 2);
}

void HomeNetworkTest::theDialogStoresOnlyGoodSettingsAndTriesTheBroker()
{
    TestBroker broker(m_folder->path());
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    RegModule::SetRegValue(
        RegModule::HKEY_CURRENT_USER, Eula::kFlagKeyPath, Eula::kFlagValueName, "^");
    welcome start;
    start.Load();
    start.mnuNetwork->trigger();
    auto* dialog = start.findChild<NetworkDialog*>();
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->station->text(), NetworkSettings::defaultStation());
    const auto stored = [](const QString& name) {
        return RegModule::GetRegValue(
            RegModule::HKEY_CURRENT_USER, NetworkSettings::kKeyPath, name);
    };
    QAbstractButton* save = dialog->buttons->button(QDialogButtonBox::Save);

    // Wrong input is said in the dialog, and nothing is stored.
    dialog->broker->setText("homeassistant.local");
    save->click();
    QVERIFY(dialog->isVisible());
    QVERIFY2(dialog->message().startsWith("The broker must be given as mqtt://host"),
        qPrintable(dialog->message()));
    QCOMPARE(stored("Broker"), QString());

    // Trying the broker leaves the window free: the answer comes later.
    dialog->broker->setText(broker.url());
    dialog->station->setText("Den");
    dialog->test->click();
    QVERIFY(dialog->testing());
    QCOMPARE(dialog->message(), "Trying " + broker.url() + " ...");
    QVERIFY(!dialog->test->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(
        dialog->message(), "The broker at " + broker.url() + " answers.", 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!dialog->testing(), 10000);
    QVERIFY(dialog->test->isEnabled());
    QCOMPARE(stored("Broker"), QString());
    // A broker that is not there: the dialog says why.
    broker.stop();
    dialog->test->click();
    QTRY_COMPARE_WITH_TIMEOUT(dialog->message(),
        "The broker at " + broker.url() + " does not answer: connection refused.", 10000);

    // Good input is stored, all of it, and the dialog closes.
    dialog->user->setText("ha");
    dialog->password->setText("secret");
    save->click();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(stored("Broker"), broker.url());
    QCOMPARE(stored("User"), QStringLiteral("ha"));
    QCOMPARE(stored("Password"), QStringLiteral("secret"));
    QCOMPARE(stored("Station"), QStringLiteral("den"));
}

void HomeNetworkTest::aNetworkStationStartedAtLogInKeepsWatching()
{
    TestBroker broker(m_folder->path());
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    QVERIFY(Runtime::ClaimInstance());
    RegModule::SetRegValue(
        RegModule::HKEY_CURRENT_USER, Eula::kFlagKeyPath, Eula::kFlagValueName, "^");
    QCOMPARE(settingsFor(broker, "den").store(), QString());
    ModemStation kitchen(broker, "kitchen");
    QVERIFY(kitchen.connects());
    kitchen.setUp();

    // The user ticks "Start listening when I log in" with network in the
    // port box ...
    {
        welcome settings;
        settings.Load();
        settings.Text1->setText("network");
        settings.mnuAutostart->trigger();
    }
    QFile entry(Autostart::path());
    QVERIFY(entry.open(QIODevice::ReadOnly));
    QString exec;
    for (const QString& line : QString::fromUtf8(entry.readAll()).split('\n'))
        if (line.startsWith("Exec="))
            exec = line.mid(5);
    QVERIFY2(exec.endsWith(" --listen --port network"), qPrintable(exec));

    // ... and at the next log-in the session starts what the entry says.
    // (A plain word needs no quoting: what other port texts go through is
    // checked with the desktop's own launcher in tst_autostart.)
    const StartOptions::Parsed parsed = StartOptions::parse(QProcess::splitCommand(exec));
    QVERIFY(!parsed.exit);
    welcome start(parsed.options);
    start.Load();
    Alert& den = *start.alert();
    Recorder heard;
    den.addCallListener(&heard);
    QCoreApplication::sendPostedEvents(&start, QEvent::MetaCall);
    QVERIFY(!start.isVisible());
    QVERIFY(start.homeNetwork());
    QVERIFY(den.alwaysOn());
    QVERIFY(Module2::LastPortName().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(den.windowTitle(), kNetworkListening, 10000);
    StatusIcon* icon = den.statusIcon();
    QVERIFY(icon);
    QStringList seen;
    const auto look = [&](const QString& when) {
        static const char* const pictures[] = { "listening", "ringing", "silent" };
        seen << QStringLiteral("%1: %2 | band %3 | icon %4, %5")
                    .arg(when, den.windowTitle(),
                        den.visual() ? den.visual()->Text1->text() : QStringLiteral("gone"),
                        pictures[int(icon->picture())], icon->toolTip());
    };
    look("listening");

    // John calls the kitchen; the click puts the den's band away and the
    // den goes on watching.
    kitchen.alert.setReceivedText(kJohnsCall);
    QTRY_COMPARE_WITH_TIMEOUT(heard.rings.size(), 1, 10000);
    look("ring");
    emit den.visual()->picScr->Click();
    look("clicked");
    QCOMPARE(heard.dismissed.size(), 1);
    QCOMPARE(heard.dismissed.first().station, QStringLiteral("kitchen"));
    QCOMPARE(heard.dismissed.first().serial, 1);
    // The kitchen's next ring of that call brings the band back, as the
    // modem's next ring does on a station with a modem.
    kitchen.alert.setReceivedText(QString());
    QTRY_COMPARE_WITH_TIMEOUT(heard.rings.size(), 2, 10000);
    look("its next ring");
    emit den.visual()->picScr->Click();
    // Jane's call, the next one, with her own caller.
    kitchen.alert.callEnded();
    QTRY_COMPARE_WITH_TIMEOUT(heard.ended.size(), 1, 10000);
    kitchen.alert.setReceivedText(kJanesCall);
    QTRY_COMPARE_WITH_TIMEOUT(heard.rings.size(), 3, 10000);
    QCOMPARE(heard.rings.last().serial, 2);
    look("next call");
    emit den.visual()->picScr->Click();

    QCOMPARE(seen,
        QStringList({
            "listening: " + kNetworkListening + " | band gone | icon listening, "
                + kNetworkListening,
            "ring: The Phone is ringing now | band The phone is ringing: 5551234 JOHN DOE | icon "
            "ringing, The Phone is ringing now",
            "clicked: " + kNetworkListening + " | band gone | icon listening, " + kNetworkListening,
            "its next ring: The Phone is ringing now | band The phone is ringing: 5551234 JOHN "
            "DOE | icon ringing, The Phone is ringing now",
            "next call: The Phone is ringing now | band The phone is ringing: 5559876 JANE ROE | "
            "icon ringing, The Phone is ringing now",
        }));
    QCOMPARE(m_runtime->programEnd.count(), 0);

    // Closing asks first; "Keep listening" keeps the den on the broker,
    // and the next ring still shows.
    RecordingMessageBox& box = m_runtime->messageBox;
    den.close();
    QCOMPARE(box.unanswered(), 1);
    box.answer(false);
    QVERIFY(den.isVisible());
    QVERIFY(start.homeNetwork()->link().isConnected());
    kitchen.alert.setReceivedText(kJohnsCall);
    QTRY_COMPARE_WITH_TIMEOUT(heard.rings.size(), 4, 10000);
    den.close();
    den.removeCallListener(&heard);
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, box.answer(true));
}

void HomeNetworkTest::anAlwaysOnModemStationSaysOfflineOnlyAtTheEnd_data()
{
    QTest::addColumn<bool>("fromThePanel");
    QTest::newRow("Stop listening in the close question") << false;
    QTest::newRow("Stop listening in the panel's menu") << true;
}

void HomeNetworkTest::anAlwaysOnModemStationSaysOfflineOnlyAtTheEnd()
{
    QFETCH(bool, fromThePanel);
    TestBroker broker(m_folder->path());
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    Subscriber watcher(broker.port(), { "ringwarden/kitchen/status", "ringwarden/kitchen/ring" });
    QVERIFY(watcher.ready());
    ModemStation kitchen(broker, "kitchen");
    Alert& alert = kitchen.alert;
    alert.setAlwaysOn(true);
    QVERIFY(kitchen.connects());
    kitchen.setUp();
    const QString status = "ringwarden/kitchen/status";
    const QString ring = "ringwarden/kitchen/ring";

    // A ring clicked away: the phone still rings for the other rooms, and
    // the emptied text that the click keeps from ringing here sends no
    // ring. The modem's next RING of that call rings again, as ring 2, and
    // with the band back, its text emptying is ring 3, as before any
    // click. The last ring's message, sent after anything the click could
    // have sent, shows that the status said nothing in between.
    alert.setReceivedText(kJohnsCall);
    emit alert.visual()->picScr->Click();
    QVERIFY(!alert.visual());
    alert.setReceivedText(QString());
    alert.setReceivedText(kJohnsCall);
    alert.setReceivedText(QString());
    QCOMPARE(kitchen.heard.rings.size(), 3);
    QVERIFY(watcher.waitForOn(ring, 2));
    QCOMPARE(object(watcher.on(ring).last().payload).value("ring").toInt(), 3);
    QCOMPARE(payloads(watcher.on(status)), (QList<QByteArray> { "listening", "ringing" }));
    alert.callEnded();
    QVERIFY(watcher.waitForOn(status, 2));
    QCOMPARE(watcher.on(status).last().payload, QByteArray("listening"));
    QCOMPARE(watcher.on(ring).size(), 3);

    // "Keep listening" is no end: nothing goes out until the next call.
    RecordingMessageBox& box = m_runtime->messageBox;
    alert.close();
    box.answer(false);
    alert.setReceivedText(kPlainRing);
    QVERIFY(watcher.waitForOn(status, 3));
    QVERIFY(watcher.waitForOn(ring, 3));
    QCOMPARE(payloads(watcher.on(status)),
        (QList<QByteArray> { "listening", "ringing", "listening", "ringing" }));

    // Stopping is the end: "offline".
    if (fromThePanel) {
        QVERIFY_THROWS_EXCEPTION(ProgramEnded, alert.statusIcon()->stopAction->trigger());
    } else {
        alert.close();
        QVERIFY_THROWS_EXCEPTION(ProgramEnded, box.answer(true));
    }
    QVERIFY(watcher.waitForOn(status, 4));
    QCOMPARE(watcher.on(status).last().payload, QByteArray("offline"));
}

QTEST_MAIN(HomeNetworkTest)
#include "tst_homenetwork.moc"
