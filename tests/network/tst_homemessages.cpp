// What stations say on the broker, read back as another station reads it,
// and the home network's settings as the user types them: messages that
// are not well formed are dropped whole, and wrong settings store nothing.

#include "Fakes.h"
#include "HomeMessages.h"
#include "NetworkSettings.h"
#include "RegModule.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace HomeMessages;

namespace {

const QString kTopic = QStringLiteral("ringwarden/kitchen/ring");

QJsonObject goodRing()
{
    return QJsonObject {
        { "station", "kitchen" },
        { "call", 3 },
        { "ring", 2 },
        { "number", "5551234" },
        { "name", "JOHN DOE" },
        { "caller", "5551234 JOHN DOE" },
        { "time", "2026-12-08T05:04:03+01:00" },
    };
}

QByteArray json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QJsonObject parse(const QByteArray& payload)
{
    return QJsonDocument::fromJson(payload).object();
}

QString storedNetwork(const QString& name)
{
    return RegModule::GetRegValue(RegModule::HKEY_CURRENT_USER, NetworkSettings::kKeyPath, name);
}

} // namespace

class HomeMessagesTest : public QObject
{
    Q_OBJECT

private slots:
    void aRingReadsBackAsItWasSent_data();
    void aRingReadsBackAsItWasSent();
    void badRingsAreDropped_data();
    void badRingsAreDropped();
    void onlyTheFiveStatesAreTaken_data();
    void onlyTheFiveStatesAreTaken();
    void discoveryNamesTheEntitiesAndTheirTopics();
    void brokerAddresses_data();
    void brokerAddresses();
    void wrongSettingsStoreNothing_data();
    void wrongSettingsStoreNothing();
    void stationNameFromTheHostName_data();
    void stationNameFromTheHostName();
};

void HomeMessagesTest::aRingReadsBackAsItWasSent_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caller");
    QTest::newRow("caller ID") << "5551234"
                               << "JOHN DOE"
                               << "5551234 JOHN DOE";
    QTest::newRow("private caller") << "P"
                                    << ""
                                    << "private number";
    QTest::newRow("ring before caller ID") << ""
                                           << ""
                                           << "";
    QTest::newRow("longest fields")
        << QString(15, '9') << QString(64, 'N') << QString(15, '9') + ' ' + QString(64, 'N');
    QTest::newRow("a name beyond Latin-1") << "5550002" << QString::fromUtf8("ZOË ŁUKASZ 王")
                                           << QString::fromUtf8("5550002 ZOË ŁUKASZ 王");
}

void HomeMessagesTest::aRingReadsBackAsItWasSent()
{
    QFETCH(QString, number);
    QFETCH(QString, name);
    QFETCH(QString, caller);
    Ring ring;
    ring.station = "kitchen";
    ring.call = 7;
    ring.ring = 3;
    ring.number = number;
    ring.name = name;
    ring.caller = caller;
    ring.time = QDateTime(QDate(2026, 12, 8), QTime(5, 4, 3), QTimeZone(3600));

    const QByteArray payload = ringPayload(ring);
    // The fields other programs read (Home Assistant, Node-RED).
    const QJsonObject object = parse(payload);
    QCOMPARE(object.value("station").toString(), QStringLiteral("kitchen"));
    QCOMPARE(object.value("call").toInt(), 7);
    QCOMPARE(object.value("ring").toInt(), 3);
    QCOMPARE(object.value("caller").toString(), caller);
    QCOMPARE(object.value("time").toString(), QStringLiteral("2026-12-08T05:04:03+01:00"));

    const RingReading reading = readRing(kTopic, payload);
    QVERIFY2(reading.ring, qPrintable(reading.problem));
    QCOMPARE(*reading.ring, ring);
    QVERIFY(reading.ring->time.offsetFromUtc() == 3600);
}

void HomeMessagesTest::badRingsAreDropped_data()
{
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("problem");

    const auto with = [](const char* key, const QJsonValue& value) {
        QJsonObject object = goodRing();
        if (value.isUndefined())
            object.remove(key);
        else
            object[key] = value;
        return json(object);
    };
    QTest::newRow("not JSON") << kTopic << QByteArray("RING 5551234") << "not a JSON object";
    QTest::newRow("an array") << kTopic << QByteArray("[1,2]") << "not a JSON object";
    QTest::newRow("trailing text") << kTopic << json(goodRing()) + "x"
                                   << "not a JSON object";
    QTest::newRow("not UTF-8") << kTopic << with("name", "JOHN").replace("JOHN", "JO\xff\xfeN")
                               << "not UTF-8";
    QTest::newRow("oversized") << kTopic << with("extra", QString(kMaxPayloadBytes, 'x'))
                               << "longer than 1024 bytes";
    QTest::newRow("station missing")
        << kTopic << with("station", QJsonValue::Undefined) << "\"station\" is missing";
    QTest::newRow("another station than the topic's")
        << kTopic << with("station", "den") << "not the topic's station";
    QTest::newRow("call as text") << kTopic << with("call", "3")
                                  << "\"call\" is not a whole number";
    QTest::newRow("call 0") << kTopic << with("call", 0) << "\"call\" is not a whole number";
    QTest::newRow("call 2.5") << kTopic << with("call", 2.5) << "\"call\" is not a whole number";
    QTest::newRow("call past 2^31")
        << kTopic << with("call", 4294967296.0) << "\"call\" is not a whole number";
    QTest::newRow("ring negative")
        << kTopic << with("ring", -1) << "\"ring\" is not a whole number";
    QTest::newRow("number as a number")
        << kTopic << with("number", 5551234) << "\"number\" is not a text";
    QTest::newRow("number of 16") << kTopic << with("number", QString(16, '5'))
                                  << "\"number\" is longer than 15";
    QTest::newRow("name of 65") << kTopic << with("name", QString(65, 'N'))
                                << "\"name\" is longer than 64";
    QTest::newRow("caller of 81") << kTopic << with("caller", QString(81, 'C'))
                                  << "\"caller\" is longer than 80";
    QTest::newRow("name with a line feed")
        << kTopic << with("name", "JOHN\nDOE") << "\"name\" holds a control character";
    QTest::newRow("caller with an escape")
        << kTopic << with("caller", "555\x1b[2J") << "\"caller\" holds a control character";
    QTest::newRow("number with NUL") << kTopic << with("number", QString("555") + QChar(0) + "1")
                                     << "\"number\" holds a control character";
    QTest::newRow("name with a right-to-left override")
        << kTopic << with("name", QString("JOHN") + QChar(0x202e) + "EOD")
        << "\"name\" holds a control character";
    QTest::newRow("caller with a line separator")
        << kTopic << with("caller", QString("555") + QChar(0x2028)) << "\"caller\" holds a control";
    QTest::newRow("time without offset")
        << kTopic << with("time", "2026-12-08T05:04:03") << "\"time\" is not an ISO 8601";
    QTest::newRow("time nonsense")
        << kTopic << with("time", "yesterday+01:00") << "\"time\" is not an ISO 8601";
    QTest::newRow("time too long")
        << kTopic << with("time", QString(41, '1')) << "\"time\" is longer than 40";
    QTest::newRow("topic of no station")
        << "ringwarden//ring" << json(goodRing()) << "the topic is not";
    QTest::newRow("topic with upper case")
        << "ringwarden/Kitchen/ring" << json(goodRing()) << "the topic is not";
    QTest::newRow("topic one level deeper")
        << "ringwarden/kitchen/x/ring" << json(goodRing()) << "the topic is not";
}

void HomeMessagesTest::badRingsAreDropped()
{
    QFETCH(QString, topic);
    QFETCH(QByteArray, payload);
    QFETCH(QString, problem);
    const RingReading reading = readRing(topic, payload);
    QVERIFY(!reading.ring);
    QVERIFY2(reading.problem.contains(problem), qPrintable(reading.problem));
    // The log line never repeats what the sender wrote.
    QVERIFY(!reading.problem.contains("5551234"));
    QVERIFY(!reading.problem.contains("JOHN"));
}

void HomeMessagesTest::onlyTheFiveStatesAreTaken_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("taken");
    for (const char* state : { "listening", "ringing", "modem lost", "no answer", "offline" })
        QTest::newRow(state) << QByteArray(state) << true;
    QTest::newRow("upper case") << QByteArray("RINGING") << false;
    QTest::newRow("with a line feed") << QByteArray("ringing\n") << false;
    QTest::newRow("empty (retained message removed)") << QByteArray() << false;
    QTest::newRow("JSON") << QByteArray("{\"state\":\"ringing\"}") << false;
}

void HomeMessagesTest::onlyTheFiveStatesAreTaken()
{
    QFETCH(QByteArray, payload);
    QFETCH(bool, taken);
    const std::optional<QString> state = readStatus(payload);
    QCOMPARE(bool(state), taken);
    if (taken)
        QCOMPARE(state->toUtf8(), payload);
}

void HomeMessagesTest::discoveryNamesTheEntitiesAndTheirTopics()
{
    const QJsonObject ringing = parse(ringingConfig("den", "0.1"));
    const QJsonObject caller = parse(callerConfig("den", "0.1"));
    QCOMPARE(ringingConfigTopic("den"),
        QStringLiteral("homeassistant/binary_sensor/ringwarden_den/ringing/config"));
    QCOMPARE(callerConfigTopic("den"),
        QStringLiteral("homeassistant/sensor/ringwarden_den/caller/config"));

    QCOMPARE(ringing.value("name").toString(), QStringLiteral("Phone ringing"));
    QCOMPARE(ringing.value("device_class").toString(), QStringLiteral("sound"));
    QCOMPARE(ringing.value("state_topic").toString(), QStringLiteral("ringwarden/den/status"));
    QCOMPARE(caller.value("name").toString(), QStringLiteral("Last caller"));
    QCOMPARE(caller.value("state_topic").toString(), QStringLiteral("ringwarden/den/caller"));
    QCOMPARE(
        caller.value("json_attributes_topic").toString(), QStringLiteral("ringwarden/den/caller"));
    QVERIFY(caller.value("value_template").toString().contains("value_json.caller"));
    // The binary sensor is on for "ringing" alone.
    QCOMPARE(ringing.value("value_template").toString(),
        QStringLiteral("{{ 'ON' if value == 'ringing' else 'OFF' }}"));

    // Two entities, two ids, one device.
    QVERIFY(!ringing.value("unique_id").toString().isEmpty());
    QVERIFY(ringing.value("unique_id") != caller.value("unique_id"));
    QCOMPARE(ringing.value("device"), caller.value("device"));
    const QJsonObject device = ringing.value("device").toObject();
    QCOMPARE(device.value("identifiers").toArray(), QJsonArray { "ringwarden_den" });
    QCOMPARE(device.value("name").toString(), QStringLiteral("Ringwarden den"));
    QCOMPARE(device.value("sw_version").toString(), QStringLiteral("0.1"));
    QVERIFY(!device.value("model").toString().isEmpty());

    // Unavailable on "offline" only: the state goes through the template,
    // whose answer is compared with the two payloads.
    for (const QJsonObject& entity : { ringing, caller }) {
        const QJsonObject availability = entity.value("availability").toArray().at(0).toObject();
        QCOMPARE(availability.value("topic").toString(), QStringLiteral("ringwarden/den/status"));
        QCOMPARE(availability.value("value_template").toString(),
            QStringLiteral("{{ 'offline' if value == 'offline' else 'online' }}"));
        QCOMPARE(availability.value("payload_not_available").toString(), QStringLiteral("offline"));
        QCOMPARE(availability.value("payload_available").toString(), QStringLiteral("online"));
    }
}

void HomeMessagesTest::brokerAddresses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("tls");
    QTest::newRow("mqtt, usual port") << "mqtt://homeassistant.local"
                                      << "homeassistant.local" << 1883 << false;
    QTest::newRow("mqtts, usual port") << "mqtts://broker.example.org"
                                       << "broker.example.org" << 8883 << true;
    QTest::newRow("port given") << " MQTT://192.168.1.5:11883 "
                                << "192.168.1.5" << 11883 << false;
    QTest::newRow("IPv6") << "mqtt://[fd00::5]:1884"
                          << "fd00::5" << 1884 << false;
    QTest::newRow("trailing slash") << "mqtt://pi/"
                                    << "pi" << 1883 << false;
    QTest::newRow("no scheme") << "homeassistant.local"
                               << "" << 0 << false;
    QTest::newRow("http") << "http://pi"
                          << "" << 0 << false;
    QTest::newRow("port 0") << "mqtt://pi:0"
                            << "" << 0 << false;
    QTest::newRow("port 65536") << "mqtt://pi:65536"
                                << "" << 0 << false;
    QTest::newRow("user in the address") << "mqtt://me@pi"
                                         << "" << 0 << false;
    QTest::newRow("a path") << "mqtt://pi/topic"
                            << "" << 0 << false;
    QTest::newRow("blank in the host") << "mqtt://my pi"
                                       << "" << 0 << false;
}

void HomeMessagesTest::brokerAddresses()
{
    QFETCH(QString, text);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(bool, tls);
    const auto address = NetworkSettings::parseBroker(text);
    QCOMPARE(bool(address), !host.isEmpty());
    if (!address)
        return;
    QCOMPARE(address->host, host);
    QCOMPARE(address->port, port);
    QCOMPARE(address->tls, tls);
}

void HomeMessagesTest::wrongSettingsStoreNothing_data()
{
    QTest::addColumn<QStringList>("values"); // broker, user, password, station
    QTest::addColumn<QString>("problem");
    QTest::newRow("good") << QStringList { "mqtt://pi", "ha", "secret", "Kitchen" } << "";
    QTest::newRow("off, station only") << QStringList { "", "", "", "den" } << "";
    QTest::newRow("broker without scheme")
        << QStringList { "pi:1883", "", "", "den" } << "The broker must be given as mqtt://host";
    QTest::newRow("password without user")
        << QStringList { "mqtt://pi", "", "secret", "den" } << "A password needs a user name";
    QTest::newRow("station with a blank")
        << QStringList { "mqtt://pi", "", "", "living room" } << "The station's name must be";
    QTest::newRow("station with a slash")
        << QStringList { "mqtt://pi", "", "", "a/b" } << "The station's name must be";
    QTest::newRow("station with a wildcard")
        << QStringList { "mqtt://pi", "", "", "+" } << "The station's name must be";
    QTest::newRow("station too long")
        << QStringList { "mqtt://pi", "", "", QString(33, 'a') } << "The station's name must be";
    QTest::newRow("user with a line feed")
        << QStringList { "mqtt://pi", "a\nb", "", "den" } << "cannot hold control characters";
}

void HomeMessagesTest::wrongSettingsStoreNothing()
{
    QFETCH(QStringList, values);
    QFETCH(QString, problem);
    TestRuntime runtime;
    const QString before = QStringLiteral("mqtt://old.example");
    RegModule::SetRegValue(
        RegModule::HKEY_CURRENT_USER, NetworkSettings::kKeyPath, "Broker", before);

    NetworkSettings settings;
    settings.broker = values.at(0);
    settings.user = values.at(1);
    settings.password = values.at(2);
    settings.station = values.at(3);
    const QString said = settings.store();
    if (problem.isEmpty()) {
        QCOMPARE(said, QString());
        const NetworkSettings stored = NetworkSettings::load();
        QCOMPARE(stored.broker, values.at(0));
        QCOMPARE(stored.user, values.at(1));
        QCOMPARE(stored.password, values.at(2));
        QCOMPARE(stored.station, values.at(3).toLower());
        QCOMPARE(stored.enabled(), !values.at(0).isEmpty());
    } else {
        QVERIFY2(said.startsWith(problem) || said.contains(problem), qPrintable(said));
        QCOMPARE(storedNetwork("Broker"), before);
        QCOMPARE(storedNetwork("Station"), QString());
        QCOMPARE(storedNetwork("Password"), QString());
    }
    QCOMPARE(runtime.messageBox.notices().size(), 0);
}

void HomeMessagesTest::stationNameFromTheHostName_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("station");
    QTest::newRow("plain") << "kitchen-pc"
                           << "kitchen-pc";
    QTest::newRow("upper case and domain") << "Den.Home.Arpa"
                                           << "den";
    QTest::newRow("odd characters") << "Anne's Laptop"
                                    << "anne-s-laptop";
    QTest::newRow("nothing usable") << "..."
                                    << "ringwarden";
    QTest::newRow("very long") << QString(40, 'x') << QString(32, 'x');
}

void HomeMessagesTest::stationNameFromTheHostName()
{
    QFETCH(QString, host);
    QFETCH(QString, station);
    QCOMPARE(NetworkSettings::stationFromHostName(host), station);
    QVERIFY(NetworkSettings::isStationName(NetworkSettings::defaultStation()));
}

QTEST_GUILESS_MAIN(HomeMessagesTest)
#include "tst_homemessages.moc"
