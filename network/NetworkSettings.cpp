#include "NetworkSettings.h"

#include "RegModule.h"

#include <QRegularExpression>
#include <QSysInfo>
#include <algorithm>

const QString NetworkSettings::kKeyPath = QStringLiteral("Software\\Ringwarden\\Network");

namespace {

QString read(const QString& valueName)
{
    return RegModule::GetRegValue(
        RegModule::HKEY_CURRENT_USER, NetworkSettings::kKeyPath, valueName);
}

void write(const QString& valueName, const QString& value)
{
    RegModule::SetRegValue(
        RegModule::HKEY_CURRENT_USER, NetworkSettings::kKeyPath, valueName, value);
}

bool isStationChar(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u'-' || u == u'_';
}

bool hasControl(const QString& text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

} // namespace

QString NetworkSettings::Address::display() const
{
    const QString shownHost
        = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return (tls ? QStringLiteral("mqtts://") : QStringLiteral("mqtt://")) + shownHost
        + QLatin1Char(':') + QString::number(port);
}

NetworkSettings NetworkSettings::load()
{
    NetworkSettings settings;
    settings.broker = read(QStringLiteral("Broker"));
    settings.user = read(QStringLiteral("User"));
    settings.password = read(QStringLiteral("Password"));
    settings.station = read(QStringLiteral("Station"));
    if (settings.station.isEmpty())
        settings.station = defaultStation();
    return settings;
}

QString NetworkSettings::check() const
{
    if (enabled() && !parseBroker(broker)) {
        return QStringLiteral("The broker must be given as mqtt://host or mqtts://host, with "
                              "\":port\" after the host when it is not the usual one (1883, "
                              "or 8883 for mqtts), for example mqtt://homeassistant.local:1883.");
    }
    if (hasControl(user) || hasControl(password))
        return QStringLiteral("The user name and the password cannot hold control characters.");
    if (user.isEmpty() && !password.isEmpty())
        return QStringLiteral("A password needs a user name: give both, or neither.");
    if (!isStationName(station.trimmed().toLower())) {
        return QStringLiteral("The station's name must be 1 to %1 characters of a to z, 0 to 9, "
                              "\"-\" and \"_\", for example \"kitchen\".")
            .arg(kMaxStationLength);
    }
    return {};
}

QString NetworkSettings::store() const
{
    const QString problem = check();
    if (!problem.isEmpty())
        return problem;
    write(QStringLiteral("Broker"), broker.trimmed());
    write(QStringLiteral("User"), user);
    write(QStringLiteral("Password"), password);
    write(QStringLiteral("Station"), station.trimmed().toLower());
    return {};
}

std::optional<NetworkSettings::Address> NetworkSettings::address() const
{
    return parseBroker(broker);
}

std::optional<NetworkSettings::Address> NetworkSettings::parseBroker(const QString& text)
{
    // scheme, then a bracketed IPv6 address or a plain host, then an
    // optional port; nothing after it (no path, no user part).
    static const QRegularExpression form(
        QStringLiteral(
            "^(mqtts?)://(?:\\[([0-9A-Fa-f:.]+)\\]|([^\\s/@:\\[\\]]+))(?::(\\d{1,5}))?/?$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    Address address;
    address.tls = match.captured(1).compare(QLatin1String("mqtts"), Qt::CaseInsensitive) == 0;
    address.host = match.captured(2).isEmpty() ? match.captured(3) : match.captured(2);
    if (hasControl(address.host))
        return std::nullopt;
    address.port = address.tls ? 8883 : 1883;
    if (!match.captured(4).isEmpty()) {
        address.port = match.captured(4).toInt();
        if (address.port < 1 || address.port > 65535)
            return std::nullopt;
    }
    return address;
}

bool NetworkSettings::isStationName(const QString& name)
{
    if (name.isEmpty() || name.size() > kMaxStationLength)
        return false;
    return std::all_of(name.begin(), name.end(), isStationChar);
}

QString NetworkSettings::stationFromHostName(const QString& hostName)
{
    QString name = hostName.section(QLatin1Char('.'), 0, 0).toLower();
    for (QChar& c : name) {
        if (!isStationChar(c))
            c = QLatin1Char('-');
    }
    name.truncate(kMaxStationLength);
    // Only dashes left is no name.
    if (name.count(QLatin1Char('-')) == name.size())
        return QStringLiteral("ringwarden");
    return name;
}

QString NetworkSettings::defaultStation()
{
    return stationFromHostName(QSysInfo::machineHostName());
}
