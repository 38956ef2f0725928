#include "HomeMessages.h"

#include "NetworkSettings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringDecoder>
#include <cmath>
#include <limits>

namespace HomeMessages {
namespace {

const QString kPrefix = QStringLiteral("ringwarden/");

QString topic(const QString& station, QLatin1String kind)
{
    return kPrefix + station + QLatin1Char('/') + kind;
}

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// What both entities share: where they find the station's state and the
// device they belong to.
QJsonObject entity(const QString& station, const QString& version)
{
    QJsonObject availability;
    availability[QStringLiteral("topic")] = statusTopic(station);
    // Every state but "offline" means the station is there.
    availability[QStringLiteral("value_template")]
        = QStringLiteral("{{ 'offline' if value == 'offline' else 'online' }}");
    availability[QStringLiteral("payload_available")] = QStringLiteral("online");
    availability[QStringLiteral("payload_not_available")] = QStringLiteral("offline");

    QJsonObject device;
    device[QStringLiteral("identifiers")] = QJsonArray { QStringLiteral("ringwarden_") + station };
    device[QStringLiteral("name")] = QStringLiteral("Ringwarden ") + station;
    device[QStringLiteral("model")] = QStringLiteral("Ringwarden telephone ring signaller");
    device[QStringLiteral("manufacturer")] = QStringLiteral("Ringwarden");
    device[QStringLiteral("sw_version")] = version;

    QJsonObject object;
    object[QStringLiteral("availability")] = QJsonArray { availability };
    object[QStringLiteral("device")] = device;
    object[QStringLiteral("qos")] = 1;
    return object;
}

// Keeps the first problem found.
void setProblem(QString& problem, const QString& text)
{
    if (problem.isEmpty())
        problem = text;
}

bool isWhole(const QJsonValue& value)
{
    if (!value.isDouble())
        return false;
    const double number = value.toDouble();
    return std::isfinite(number) && number == std::floor(number) && number >= 1.0
        && number <= double(std::numeric_limits<int>::max());
}

// The text field `key` of `object`, when it is a text within `limit`
// characters and safe to show; else says what is wrong in `problem`.
std::optional<QString> textField(
    const QJsonObject& object, const QString& key, qsizetype limit, QString& problem)
{
    const QJsonValue value = object.value(key);
    if (!value.isString()) {
        setProblem(problem,
            QStringLiteral("\"%1\" is %2")
                .arg(key,
                    value.isUndefined() ? QStringLiteral("missing")
                                        : QStringLiteral("not a text")));
        return std::nullopt;
    }
    const QString text = value.toString();
    if (text.size() > limit) {
        setProblem(
            problem, QStringLiteral("\"%1\" is longer than %2 characters").arg(key).arg(limit));
        return std::nullopt;
    }
    if (hasUnsafeCharacter(text)) {
        setProblem(problem, QStringLiteral("\"%1\" holds a control character").arg(key));
        return std::nullopt;
    }
    return text;
}

std::optional<int> countField(const QJsonObject& object, const QString& key, QString& problem)
{
    const QJsonValue value = object.value(key);
    if (!isWhole(value)) {
        setProblem(
            problem, QStringLiteral("\"%1\" is not a whole number from 1 to 2147483647").arg(key));
        return std::nullopt;
    }
    return static_cast<int>(value.toDouble());
}

std::optional<QDateTime> timeField(const QString& text)
{
    // An offset is required: a time without one means something else on
    // each computer.
    static const QRegularExpression withOffset(QStringLiteral("(Z|[+-]\\d\\d(:?\\d\\d)?)$"));
    if (!withOffset.match(text).hasMatch())
        return std::nullopt;
    const QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!time.isValid())
        return std::nullopt;
    return time;
}

} // namespace

QString statusTopic(const QString& station)
{
    return topic(station, QLatin1String("status"));
}

QString ringTopic(const QString& station)
{
    return topic(station, QLatin1String("ring"));
}

QString callerTopic(const QString& station)
{
    return topic(station, QLatin1String("caller"));
}

QString ringingConfigTopic(const QString& station)
{
    return QStringLiteral("homeassistant/binary_sensor/ringwarden_%1/ringing/config").arg(station);
}

QString callerConfigTopic(const QString& station)
{
    return QStringLiteral("homeassistant/sensor/ringwarden_%1/caller/config").arg(station);
}

QString stationOf(const QString& topic, QLatin1String kind)
{
    if (!topic.startsWith(kPrefix) || !topic.endsWith(QLatin1Char('/') + kind))
        return {};
    const QString station
        = topic.mid(kPrefix.size(), topic.size() - kPrefix.size() - kind.size() - 1);
    return NetworkSettings::isStationName(station) ? station : QString();
}

QString timeText(const QDateTime& time)
{
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate);
}

QByteArray ringPayload(const Ring& ring)
{
    QJsonObject object;
    object[QStringLiteral("station")] = ring.station;
    object[QStringLiteral("call")] = ring.call;
    object[QStringLiteral("ring")] = ring.ring;
    object[QStringLiteral("number")] = ring.number;
    object[QStringLiteral("name")] = ring.name;
    object[QStringLiteral("caller")] = ring.caller;
    object[QStringLiteral("time")] = timeText(ring.time);
    return compact(object);
}

QByteArray callerPayload(
    const QString& number, const QString& name, const QString& caller, const QDateTime& time)
{
    QJsonObject object;
    object[QStringLiteral("number")] = number;
    object[QStringLiteral("name")] = name;
    object[QStringLiteral("caller")] = caller;
    object[QStringLiteral("time")] = timeText(time);
    return compact(object);
}

QByteArray ringingConfig(const QString& station, const QString& version)
{
    QJsonObject object = entity(station, version);
    object[QStringLiteral("name")] = QStringLiteral("Phone ringing");
    object[QStringLiteral("unique_id")] = QStringLiteral("ringwarden_%1_ringing").arg(station);
    object[QStringLiteral("device_class")] = QStringLiteral("sound");
    object[QStringLiteral("state_topic")] = statusTopic(station);
    object[QStringLiteral("value_template")]
        = QStringLiteral("{{ 'ON' if value == 'ringing' else 'OFF' }}");
    object[QStringLiteral("payload_on")] = QStringLiteral("ON");
    object[QStringLiteral("payload_off")] = QStringLiteral("OFF");
    return compact(object);
}

QByteArray callerConfig(const QString& station, const QString& version)
{
    QJsonObject object = entity(station, version);
    object[QStringLiteral("name")] = QStringLiteral("Last caller");
    object[QStringLiteral("unique_id")] = QStringLiteral("ringwarden_%1_caller").arg(station);
    object[QStringLiteral("icon")] = QStringLiteral("mdi:phone-incoming");
    object[QStringLiteral("state_topic")] = callerTopic(station);
    object[QStringLiteral("value_template")] = QStringLiteral("{{ value_json.caller }}");
    object[QStringLiteral("json_attributes_topic")] = callerTopic(station);
    return compact(object);
}

bool hasUnsafeCharacter(const QString& text)
{
    for (const QChar c : text) {
        switch (c.category()) {
        case QChar::Other_Control:
        case QChar::Other_Format:
        case QChar::Other_Surrogate:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            return true;
        default:
            break;
        }
    }
    return false;
}

RingReading readRing(const QString& topic, const QByteArray& payload)
{
    RingReading reading;
    // The wrapper
    const QString station = stationOf(topic, QLatin1String("ring"));
    if (station.isEmpty()) {
        reading.problem = QStringLiteral("the topic is not ringwarden/<station>/ring with a good "
                                         "station name");
        return reading;
    }
    if (payload.size() > kMaxPayloadBytes) {
        reading.problem = QStringLiteral("it is longer than %1 bytes").arg(kMaxPayloadBytes);
        return reading;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(payload);
    if (utf8.hasError()) {
        reading.problem = QStringLiteral("it is not UTF-8");
        return reading;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        reading.problem = QStringLiteral("it is not a JSON object");
        return reading;
    }
    const QJsonObject object = document.object();

    // The fields
    Ring ring;
    QString problem;
    const auto from
        = textField(object, QStringLiteral("station"), NetworkSettings::kMaxStationLength, problem);
    const auto call = countField(object, QStringLiteral("call"), problem);
    const auto rings = countField(object, QStringLiteral("ring"), problem);
    const auto number = textField(object, QStringLiteral("number"), kMaxNumberLength, problem);
    const auto name = textField(object, QStringLiteral("name"), kMaxNameLength, problem);
    const auto caller = textField(object, QStringLiteral("caller"), kMaxCallerLength, problem);
    const auto time = textField(object, QStringLiteral("time"), kMaxTimeLength, problem);
    if (!problem.isEmpty()) {
        reading.problem = problem;
        return reading;
    }
    if (*from != station) {
        reading.problem = QStringLiteral("\"station\" is not the topic's station");
        return reading;
    }
    const std::optional<QDateTime> when = timeField(*time);
    if (!when) {
        reading.problem
            = QStringLiteral("\"time\" is not an ISO 8601 date and time with an offset");
        return reading;
    }
    ring.station = station;
    ring.call = *call;
    ring.ring = *rings;
    ring.number = *number;
    ring.name = *name;
    ring.caller = *caller;
    ring.time = *when;
    reading.ring = ring;
    return reading;
}

std::optional<QString> readStatus(const QByteArray& payload)
{
    for (const QLatin1String state : { kListening, kRinging, kModemLost, kNoAnswer, kOffline }) {
        if (payload == QByteArrayView(state.data(), state.size()))
            return QString(state);
    }
    return std::nullopt;
}

} // namespace HomeMessages
