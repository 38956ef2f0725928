#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QHash>
#include <QImage>
#include <QObject>
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

    // Which notification of this session a call means (never 0).
    using NotificationKey = quint64;

    // Shows a new notification with `summary` and `body` that stays until
    // the person dismisses it or endNotification takes it away, marked
    // critical so that it shows over full-screen windows and, where the
    // desktop allows, on the lock screen. Several may be up at once (two
    // stations' calls); the key names this one.
    virtual NotificationKey notify(const QString& summary, const QString& body) = 0;

    // Changes the notification `key` names, in place. When the desktop
    // never showed it (no answer, an error) a new one is shown in its place.
    // Does nothing for a key that was ended.
    virtual void updateNotification(
        NotificationKey key, const QString& summary, const QString& body)
        = 0;

    // The event the notification `key` told of is over: that notification is
    // taken away, so that it no longer holds the screen (a desktop that
    // shows one banner at a time keeps a critical one up until it goes, and
    // holds every later one back meanwhile), and a quiet one with `summary`
    // and `body` takes its place as the record of the event: low urgency,
    // which GNOME keeps in its list of notifications without a banner, and
    // servers that show every notification (mako) show as usual. The record
    // is not changed later, and the key means nothing afterwards.
    virtual void endNotification(NotificationKey key, const QString& summary, const QString& body)
        = 0;
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
//   notification. Notifications may start their server by D-Bus activation
//   (Xfce's and LXQt's start that way).
// - endNotification: CloseNotification with the notification's id, then a
//   new Notify of urgency low with the server's own timeout. While a Notify
//   for it is still unanswered the record goes out at once and the close
//   waits for the answer, with the id the server gives then (a replace of a
//   notification the person had dismissed gets a new one).
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
    NotificationKey notify(const QString& summary, const QString& body) override;
    void updateNotification(
        NotificationKey key, const QString& summary, const QString& body) override;
    void endNotification(NotificationKey key, const QString& summary, const QString& body) override;

private:
    void wakeX11();
    void liftGnomeCurtain();
    void inhibitIdle();
    void uninhibitIdle();
    QDBusMessage notifyMessage(uint replacesId, const QString& summary, const QString& body,
        uchar urgency, int timeout) const;
    void sendNotify(NotificationKey key, const QString& summary, const QString& body);
    void closeNotification(uint id);
    void notifyAnswered(NotificationKey key, uint id);

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

    // A notification that has not ended yet.
    struct Shown
    {
        // The server's id (0: none known yet, or the server never answered).
        uint id = 0;
        // Whether the answer to a Notify for it is awaited; at most one is
        // on its way at a time.
        bool awaiting = false;
        // An update held back until that answer is in.
        std::optional<std::pair<QString, QString>> heldUpdate;
        // Ended while the answer was awaited: closed as soon as it comes.
        bool ended = false;
    };
    QHash<NotificationKey, Shown> m_shown;
    NotificationKey m_lastKey = 0;
};
