#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

// What stations say to each other and to home automation on the broker:
// the topics, the JSON they carry (UTF-8 objects), and the reading of what
// other stations send, which trusts nothing.
//
// A station with a modem, `<s>` its name, publishes:
//   ringwarden/<s>/status  "listening", "ringing", "modem lost",
//                          "no answer" or "offline" (retained)
//   ringwarden/<s>/ring    one message per ring reaction (not retained):
//                          {"station", "call", "ring", "number", "name",
//                           "caller", "time"}
//   ringwarden/<s>/caller  the latest call's caller (retained):
//                          {"number", "name", "caller", "time"}
// and Home Assistant's discovery of two entities (retained):
//   homeassistant/binary_sensor/ringwarden_<s>/ringing/config
//   homeassistant/sensor/ringwarden_<s>/caller/config
namespace HomeMessages {

// The five states of a station's status topic.
inline constexpr QLatin1String kListening { "listening" };
inline constexpr QLatin1String kRinging { "ringing" };
inline constexpr QLatin1String kModemLost { "modem lost" };
inline constexpr QLatin1String kNoAnswer { "no answer" };
inline constexpr QLatin1String kOffline { "offline" };

// What the station listens to: every station's rings and states.
inline constexpr QLatin1String kRingFilter { "ringwarden/+/ring" };
inline constexpr QLatin1String kStatusFilter { "ringwarden/+/status" };

// Limits of a ring message from another station. Anything longer is
// dropped whole, never cut: a cut number would ring with a wrong caller.
constexpr qsizetype kMaxPayloadBytes = 1024;
constexpr qsizetype kMaxNumberLength = 15;
constexpr qsizetype kMaxNameLength = 64;
// A number, a blank and a name.
constexpr qsizetype kMaxCallerLength = kMaxNumberLength + 1 + kMaxNameLength;
constexpr qsizetype kMaxTimeLength = 40;

QString statusTopic(const QString& station);
QString ringTopic(const QString& station);
QString callerTopic(const QString& station);
QString ringingConfigTopic(const QString& station);
QString callerConfigTopic(const QString& station);

// The station `topic` names when it is "ringwarden/<station>/<kind>" with
// a good station name (NetworkSettings::isStationName), else "".
QString stationOf(const QString& topic, QLatin1String kind);

// One ring reaction as a station announces it.
struct Ring
{
    QString station;
    // The call's number in the station's run, counting from 1.
    int call = 0;
    // Ring reactions of that call so far, this one included.
    int ring = 0;
    // As the modem gave it: digits, "P" (withheld), "O" (not available);
    // "" before caller ID.
    QString number;
    QString name;
    // As the band shows it: "5551234 JOHN DOE", "private number",
    // "unknown number", or "" before caller ID.
    QString caller;
    QDateTime time;

    bool operator==(const Ring& other) const = default;
};

// `time` in ISO 8601 with its offset from UTC ("2026-12-08T05:04:03+01:00",
// "...Z" at UTC).
QString timeText(const QDateTime& time);

QByteArray ringPayload(const Ring& ring);
QByteArray callerPayload(
    const QString& number, const QString& name, const QString& caller, const QDateTime& time);
// Home Assistant's discovery: a binary sensor "Phone ringing" (device class
// sound, on while the status is "ringing") and a sensor "Last caller" (the
// caller topic's "caller", with the whole caller topic as its attributes),
// both unavailable while the status is "offline", and one device for the
// station. `version` is the program's.
QByteArray ringingConfig(const QString& station, const QString& version);
QByteArray callerConfig(const QString& station, const QString& version);

// A ring message read, or why it was dropped.
struct RingReading
{
    std::optional<Ring> ring;
    // "" when read; else what is wrong with it, for the log (never any of
    // the message's own text: it may be a caller's number).
    QString problem;
};

// Reads a message of another station's ring topic. It is taken only when
// everything holds: the topic is "ringwarden/<s>/ring" with a good station
// name; the payload is at most kMaxPayloadBytes of UTF-8 holding one JSON
// object with all seven fields; "station" is the topic's <s>; "call" and
// "ring" are whole numbers from 1 to 2^31 - 1; "number", "name" and
// "caller" are texts within their limits; "time" is an ISO 8601 date and
// time with an offset (or "Z"), within kMaxTimeLength; and no text holds a
// control character, a format character (such as a right-to-left
// override), a line or paragraph separator or a lone surrogate.
// Other fields are ignored.
RingReading readRing(const QString& topic, const QByteArray& payload);

// The state a status message gives: one of the five states, exactly; nothing
// for anything else.
std::optional<QString> readStatus(const QByteArray& payload);

// True when `text` holds a character that must never reach the band, the
// notification or the log (see readRing).
bool hasUnsafeCharacter(const QString& text);

} // namespace HomeMessages
