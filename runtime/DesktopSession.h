#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>
#include <optional>

class BusNames;
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
    // would, and keeps the screen from going idle until letScreenSleep where
    // the desktop needs to be asked for that. A locked screen stays locked:
    // this never unlocks anything.
    virtual void wakeScreen() = 0;

    // The call is over: what wakeScreen holds is let go, so the screen
    // blanks again when the desktop's idle time says so. Does nothing when
    // nothing is held.
    virtual void letScreenSleep() = 0;

    // Shows a new notification with `summary` and `body` that stays until
    // the person dismisses it or endNotification takes it away, marked
    // critical so that it shows over full-screen windows and, where the
    // desktop allows, on the lock screen.
    virtual void notify(const QString& summary, const QString& body) = 0;

    // Changes the notification the last `notify` showed, in place. When
    // there is none (no notify yet, or the desktop never answered) a new one
    // is shown.
    virtual void updateNotification(const QString& summary, const QString& body) = 0;

    // The event the last `notify` told of is over: that notification is
    // taken away, so that it no longer holds the screen (a desktop that
    // shows one banner at a time keeps a critical one up until it goes, and
    // holds every later one back meanwhile), and a quiet one with `summary`
    // and `body` takes its place as the record of the event: low urgency,
    // which GNOME keeps in its list of notifications without a banner, and
    // servers that show every notification (mako) show as usual. The record
    // is not changed later: an `updateNotification` after this shows a new
    // notification, as when there is none.
    virtual void endNotification(const QString& summary, const QString& body) = 0;
};

// The real session, through the X server named by $DISPLAY and the D-Bus
// session bus (and the system bus for the lock state). A service on the
// session bus is called only while its name has an owner (BusNames), and
// never started by D-Bus activation:
// - wakeScreen: the X server's screen saver is reset (XForceScreenSaver with
//   ScreenSaverReset) and, when the server has the DPMS extension and DPMS is
//   on, the monitor is forced on; org.freedesktop.ScreenSaver
//   SimulateUserActivity is sent on /org/freedesktop/ScreenSaver and on
//   /ScreenSaver (KDE, Xfce, Cinnamon, MATE, LXQt); GNOME's curtain is
//   lifted with org.gnome.ScreenSaver SetActive(false), but only after
//   logind has said that the session is not locked, since GNOME Shell
//   unlocks a locked session on that call. Where org.gnome.SessionManager
//   runs (GNOME, which has no SimulateUserActivity, and the session managers
//   that speak its interface), an Inhibit with the idle flag keeps the
//   session from going idle until letScreenSleep calls Uninhibit: one
//   inhibitor at a time, however many rings.
// - notify / updateNotification: org.freedesktop.Notifications Notify with
//   the program's name and icon (the "image-data" hint), urgency critical,
//   category "x-ringwarden.call" and no timeout. The server's id for the
//   notification comes back asynchronously; an update asked for before it
//   has come is sent as soon as it arrives, so it still replaces the right
//   notification, and a notification whose end came first is closed then.
//   Notifications may start their server by D-Bus activation (Xfce's and
//   LXQt's start that way).
// - endNotification: CloseNotification with that id, then a new Notify of
//   urgency low with the server's own timeout.
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
    void letScreenSleep() override;
    void notify(const QString& summary, const QString& body) override;
    void updateNotification(const QString& summary, const QString& body) override;
    void endNotification(const QString& summary, const QString& body) override;

private:
    void wakeX11();
    void liftGnomeCurtain();
    void inhibitIdle();
    void uninhibitIdle();
    QDBusMessage notifyMessage(uint replacesId, const QString& summary, const QString& body,
        uchar urgency, int timeout) const;
    void sendNotify(uint replacesId, const QString& summary, const QString& body);
    void sendEnd(const QString& summary, const QString& body);
    void closeNotification(uint id);
    void notifyAnswered(quint64 request, uint id);

    QString m_appName;
    QImage m_icon;
    QDBusConnection m_sessionBus;
    QDBusConnection m_systemBus;
    _XDisplay* m_display = nullptr;
    // Owners of the session bus's screen saver and session services.
    BusNames* m_names = nullptr;

    // GNOME's idle inhibitor: whether one is wanted (from wakeScreen to
    // letScreenSleep), asked for, and its cookie once held.
    bool m_awakeWanted = false;
    bool m_inhibitAsked = false;
    std::optional<uint> m_inhibitCookie;

    // The server's id of the notification shown last (0: none known).
    uint m_notificationId = 0;
    // The number of the last Notify sent, and whether its answer is awaited.
    quint64 m_request = 0;
    bool m_awaitingId = false;
    // An update held back until the id of the notification it changes is in.
    bool m_updateHeld = false;
    QString m_heldSummary;
    QString m_heldBody;
    // Notify requests whose notification is to be closed as soon as its id
    // comes: the event ended before the server answered.
    QSet<quint64> m_closeWhenAnswered;
};
