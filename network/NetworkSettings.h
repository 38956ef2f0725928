#pragma once

#include <QString>
#include <optional>

// Where the home network's broker is and how this computer appears on it:
// the four values of the settings store's "Software\Ringwarden\Network"
// (the same private file as the other settings):
//   Broker    "mqtt://host[:port]" (port 1883 when left out) or
//             "mqtts://host[:port]" (8883; TLS, the broker's certificate
//             checked against the system's certificate store and its name);
//             empty or missing: the home network is off;
//   User      the broker's user name, "" for none;
//   Password  its password, "" for none; it never appears in the log;
//   Station   this computer's name in the topics, a to z, 0 to 9, "-" and
//             "_" only; empty or missing: the host name, made to fit.
struct NetworkSettings
{
    QString broker;
    QString user;
    QString password;
    QString station;

    // The broker's address taken apart.
    struct Address
    {
        QString host;
        int port = 0;
        bool tls = false;
        // "mqtt://host:port" again, for the log and messages.
        QString display() const;
    };

    // A station's name is at most this long.
    static constexpr int kMaxStationLength = 32;

    // The stored values; a missing Station reads as defaultStation().
    static NetworkSettings load();
    // Checks every value (see check) and, only when all are good, stores
    // them. Returns "" when stored, else the message for the user, and
    // stores nothing. The station is stored as checked (lower case).
    QString store() const;
    // Whether the values are good: "" when they are, else one sentence for
    // the user that says what is wrong and what would be right.
    QString check() const;

    // True when a broker is given: the home network is on.
    bool enabled() const { return !broker.trimmed().isEmpty(); }
    // The broker's address, or nothing when it is not a good one.
    std::optional<Address> address() const;

    // Parses "mqtt://host[:port]" or "mqtts://host[:port]" (blanks around
    // it are ignored, the scheme's case too; an IPv6 host goes in
    // brackets). Nothing for any other text, a port outside 1..65535, or
    // a host with blanks, "/", "@" or control characters.
    static std::optional<Address> parseBroker(const QString& text);
    // `name` lower case; true when it is a good station name then: 1 to
    // kMaxStationLength characters of a-z, 0-9, "-" and "_".
    static bool isStationName(const QString& name);
    // This computer's host name made into a station name: its first label,
    // lower case, every other character as "-", cut to kMaxStationLength;
    // "ringwarden" when nothing is left.
    static QString defaultStation();
    static QString stationFromHostName(const QString& hostName);

    // The store's key path.
    static const QString kKeyPath;
};
