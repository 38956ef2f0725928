#pragma once

#include <QDBusConnection>
#include <QImage>
#include <QObject>
#include <QString>

struct _XDisplay;

// The user's desktop session as the program reaches it on a ring: the screen
// (screen saver and monitor power) and the desktop's notifications.
//
// Every call returns at once. Whatever the desktop lacks (no X server, no
// session bus, no screen saver or notification service) is skipped without a
// word; nothing here waits on another process.
class DesktopSession
{
public:
    virtual ~DesktopSession() = default;

    // Ends a running screen saver and switches the monitor on, as a key press
    // would. A locked screen stays locked: this never unlocks anything.
    virtual void wakeScreen() = 0;

    // Shows a new notification with `summary` and `body` that stays until
    // the person dismisses it, marked critical so that it shows over
    // full-screen windows and, where the desktop allows, on the lock screen.
    virtual void notify(const QString& summary, const QString& body) = 0;

    // Changes the notification the last `notify` showed, in place. When
    // there is none (no notify yet, or the desktop never answered) a new one
    // is shown.
    virtual void updateNotification(const QString& summary, const QString& body) = 0;
};

// The real session, through the X server named by $DISPLAY and the D-Bus
// session bus (and the system bus for the lock state):
// - wakeScreen: the X server's screen saver is reset (XForceScreenSaver with
//   ScreenSaverReset) and, when the server has the DPMS extension and DPMS is
//   on, the monitor is forced on; org.freedesktop.ScreenSaver
//   SimulateUserActivity is sent on /org/freedesktop/ScreenSaver and on
//   /ScreenSaver (KDE, Xfce, Cinnamon, MATE, LXQt); GNOME's curtain is
//   lifted with org.gnome.ScreenSaver SetActive(false), but only after
//   logind has said that the session is not locked, since GNOME Shell
//   unlocks a locked session on that call.
// - notify / updateNotification: org.freedesktop.Notifications Notify with
//   the program's name and icon (the "image-data" hint), urgency critical,
//   category "x-ringwarden.call" and no timeout. The server's id for the
//   notification comes back asynchronously; an update asked for before it
//   has come is sent as soon as it arrives, so it still replaces the right
//   notification.
class SystemDesktopSession final : public QObject, public DesktopSession
{
    Q_OBJECT

public:
    // `appName` and `icon` are shown with every notification. The bus
    // connections are made here, not at the first ring, so a ring never
    // waits for them.
    SystemDesktopSession(const QString& appName, const QImage& icon, QObject* parent = nullptr);
    ~SystemDesktopSession() override;

    void wakeScreen() override;
    void notify(const QString& summary, const QString& body) override;
    void updateNotification(const QString& summary, const QString& body) override;

private:
    void wakeX11();
    void sendNotify(uint replacesId, const QString& summary, const QString& body);
    void notifyAnswered(quint64 request, uint id);

    QString m_appName;
    QImage m_icon;
    QDBusConnection m_sessionBus;
    QDBusConnection m_systemBus;
    _XDisplay* m_display = nullptr;

    // The server's id of the notification shown last (0: none known).
    uint m_notificationId = 0;
    // The number of the last Notify sent, and whether its answer is awaited.
    quint64 m_request = 0;
    bool m_awaitingId = false;
    // An update held back until the id of the notification it changes is in.
    bool m_updateHeld = false;
    QString m_heldSummary;
    QString m_heldBody;
};
