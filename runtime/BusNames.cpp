#include "BusNames.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>

BusNames::BusNames(const QDBusConnection& bus, const QStringList& names, QObject* parent)
    : QObject(parent)
{
    if (!bus.isConnected()) {
        for (const QString& name : names)
            m_owned.insert(name, false);
        return;
    }
    // Watched before asking, so no change between the question and its
    // answer is missed; a change seen first wins over the older answer.
    m_watcher
        = new QDBusServiceWatcher(QString(), bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    m_watcher->setWatchedServices(names);
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
        [this](const QString& name, const QString&, const QString& newOwner) {
            learn(name, !newOwner.isEmpty());
        });

    for (const QString& name : names) {
        QDBusMessage question = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
        question << name;
        auto* answer = new QDBusPendingCallWatcher(bus.asyncCall(question), this);
        connect(answer, &QDBusPendingCallWatcher::finished, this,
            [this, name](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                if (m_owned.contains(name))
                    return;
                const QDBusPendingReply<bool> reply = *call;
                learn(name, !reply.isError() && reply.value());
            });
    }
}

BusNames::~BusNames() = default;

std::optional<bool> BusNames::hasOwner(const QString& name) const
{
    const auto known = m_owned.constFind(name);
    if (known == m_owned.cend())
        return std::nullopt;
    return *known;
}

void BusNames::whenKnown(const QString& name, std::function<void(bool)> action)
{
    if (const std::optional<bool> owned = hasOwner(name)) {
        action(*owned);
        return;
    }
    if (!m_watcher || !m_watcher->watchedServices().contains(name)) {
        action(false);
        return;
    }
    m_waiting[name].push_back(std::move(action));
}

void BusNames::learn(const QString& name, bool owned)
{
    m_owned.insert(name, owned);
    const std::vector<std::function<void(bool)>> waiting = m_waiting.take(name);
    for (const std::function<void(bool)>& action : waiting)
        action(owned);
}
