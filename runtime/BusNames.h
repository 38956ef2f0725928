#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

class QDBusServiceWatcher;

// Which of a few well-known names on a bus have an owner, known without ever
// waiting: asked once, asynchronously, with NameHasOwner when made, and
// followed through the bus's NameOwnerChanged signals afterwards.
//
// A desktop service is only called while its name has an owner, so that a
// call never starts a service through D-Bus activation on a desktop that
// does not use it (GNOME's screen saver helper on KDE, say).
class BusNames final : public QObject
{
    Q_OBJECT

public:
    // Watches `names` on `bus`. On a bus that is not connected every name
    // is known at once to have no owner.
    BusNames(const QDBusConnection& bus, const QStringList& names, QObject* parent = nullptr);
    ~BusNames() override;

    // Whether `name` has an owner; nullopt while the first answer is awaited
    // (and for a name not watched).
    std::optional<bool> hasOwner(const QString& name) const;

    // Runs `action` with whether `name` has an owner: now when that is
    // known, else when the first answer comes (in the order asked). Never
    // waits. A name not watched counts as without an owner.
    void whenKnown(const QString& name, std::function<void(bool)> action);

private:
    void learn(const QString& name, bool owned);

    QDBusServiceWatcher* m_watcher = nullptr;
    QHash<QString, bool> m_owned;
    QHash<QString, std::vector<std::function<void(bool)>>> m_waiting;
};
