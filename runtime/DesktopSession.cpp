#include "DesktopSession.h"

#include "BusNames.h"
#include "Logging.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QVariantMap>
#include <utility>

// Xlib's macros (Bool, Status, None...) clash with Qt's names: its headers
// come last.
#include <X11/Xlib.h>
#include <X11/extensions/dpms.h>

namespace {

const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");
const QString kNotificationsPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kScreenSaver = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kGnomeScreenSaver = QStringLiteral("org.gnome.ScreenSaver");
const QString kLogin = QStringLiteral("org.freedesktop.login1");
const QString kSessionManager = QStringLiteral("org.gnome.SessionManager");
// GsmInhibitorFlag: "inhibit the session being marked as idle".
constexpr uint kInhibitIdle = 8;
// The notifications' "urgency" hint.
constexpr uchar kLow = 0;
constexpr uchar kCritical = 2;

// A call to a desktop service that must never start it.
QDBusMessage serviceCall(
    const QString& service, const QString& path, const QString& interface, const QString& method)
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setAutoStartService(false);
    return message;
}

// The icon as the "image-data" hint: (iiibiiay) width, height, row stride,
// alpha, bits per sample, channels, RGBA bytes.
QDBusArgument imageData(const QImage& icon)
{
    const QImage rgba = icon.convertToFormat(QImage::Format_RGBA8888);
    QDBusArgument argument;
    argument.beginStructure();
    argument << rgba.width() << rgba.height() << int(rgba.bytesPerLine()) << true << 8 << 4
             << QByteArray(reinterpret_cast<const char*>(rgba.constBits()), rgba.sizeInBytes());
    argument.endStructure();
    return argument;
}

} // namespace

SystemDesktopSession::SystemDesktopSession(
    const QString& appName, const QImage& icon, QObject* parent)
    : QObject(parent)
    , m_appName(appName)
    , m_icon(icon)
    , m_sessionBus(QDBusConnection::sessionBus())
    , m_systemBus(QDBusConnection::systemBus())
{
    // Only a local X server named in the environment; without one the
    // X11 part is skipped.
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        m_display = XOpenDisplay(nullptr);
    // Xlib's default error handler ends the process. An error from a wake
    // (the DPMS setting changed meanwhile, a server without the extension's
    // full support) must cost that wake only. Qt's own X11 platform
    // installs a handler of the same kind.
    if (m_display)
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    m_names
        = new BusNames(m_sessionBus, { kScreenSaver, kGnomeScreenSaver, kSessionManager }, this);
}

SystemDesktopSession::~SystemDesktopSession()
{
    // An inhibitor left behind would keep the screen on; the session
    // manager also drops it once our bus connection is gone.
    m_awakeWanted = false;
    uninhibitIdle();
    if (m_display)
        XCloseDisplay(m_display);
}

void SystemDesktopSession::wakeScreen()
{
    wakeX11();

    // The freedesktop screen saver, at both paths desktops export it on.
    // The answers are not examined: a desktop without it just says no.
    m_names->whenKnown(kScreenSaver, [this](bool owned) {
        if (!owned)
            return;
        for (const QString& path :
            { QStringLiteral("/org/freedesktop/ScreenSaver"), QStringLiteral("/ScreenSaver") }) {
            m_sessionBus.asyncCall(serviceCall(
                kScreenSaver, path, kScreenSaver, QStringLiteral("SimulateUserActivity")));
        }
    });

    m_names->whenKnown(kGnomeScreenSaver, [this](bool owned) {
        if (owned)
            liftGnomeCurtain();
    });

    // The rings of a call come seconds apart, but the idle time runs
    // between them on GNOME: hold the session awake until the call ends.
    m_awakeWanted = true;
    m_names->whenKnown(kSessionManager, [this](bool owned) {
        if (owned)
            inhibitIdle();
    });
}

void SystemDesktopSession::letScreenSleep()
{
    m_awakeWanted = false;
    uninhibitIdle();
}

void SystemDesktopSession::inhibitIdle()
{
    if (!m_awakeWanted || m_inhibitAsked || m_inhibitCookie)
        return;
    QDBusMessage inhibit = serviceCall(kSessionManager, QStringLiteral("/org/gnome/SessionManager"),
        kSessionManager, QStringLiteral("Inhibit"));
    inhibit << QStringLiteral("org.ringwarden.Ringwarden") << uint(0)
            << QStringLiteral("The phone is ringing") << kInhibitIdle;
    m_inhibitAsked = true;
    auto* watcher = new QDBusPendingCallWatcher(m_sessionBus.asyncCall(inhibit), this);
    connect(
        watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
            call->deleteLater();
            m_inhibitAsked = false;
            const QDBusPendingReply<uint> reply = *call;
            if (reply.isError()) {
                qCDebug(lcDesktop).noquote()
                    << "the session manager refused the idle inhibitor:" << reply.error().message();
                return;
            }
            m_inhibitCookie = reply.value();
            qCDebug(lcDesktop) << "idle inhibited while the call lasts, cookie" << *m_inhibitCookie;
            // The call ended while the answer was on its way.
            if (!m_awakeWanted)
                uninhibitIdle();
        });
}

void SystemDesktopSession::uninhibitIdle()
{
    if (!m_inhibitCookie)
        return;
    QDBusMessage uninhibit = serviceCall(kSessionManager,
        QStringLiteral("/org/gnome/SessionManager"), kSessionManager, QStringLiteral("Uninhibit"));
    uninhibit << *m_inhibitCookie;
    m_sessionBus.asyncCall(uninhibit);
    qCDebug(lcDesktop) << "idle inhibitor" << *m_inhibitCookie << "released";
    m_inhibitCookie.reset();
}

void SystemDesktopSession::liftGnomeCurtain()
{
    // GNOME: SetActive(false) lifts the curtain, but on a locked session it
    // unlocks too, so ask logind first and only go on when it says
    // "not locked". No answer, or any doubt, leaves GNOME alone (its lock
    // screen still wakes for the critical notification).
    QDBusMessage lockedHint = QDBusMessage::createMethodCall(kLogin,
        QStringLiteral("/org/freedesktop/login1/session/auto"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    lockedHint << QStringLiteral("org.freedesktop.login1.Session") << QStringLiteral("LockedHint");
    auto* watcher = new QDBusPendingCallWatcher(m_systemBus.asyncCall(lockedHint), this);
    connect(
        watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
            call->deleteLater();
            const QDBusPendingReply<QDBusVariant> reply = *call;
            if (reply.isError())
                return;
            const QVariant locked = reply.value().variant();
            if (locked.metaType() != QMetaType::fromType<bool>() || locked.toBool())
                return;
            QDBusMessage setActive
                = serviceCall(kGnomeScreenSaver, QStringLiteral("/org/gnome/ScreenSaver"),
                    kGnomeScreenSaver, QStringLiteral("SetActive"));
            setActive << false;
            m_sessionBus.asyncCall(setActive);
        });
}

void SystemDesktopSession::wakeX11()
{
    if (!m_display)
        return;
    // Ends the screen saver and restarts its idle count, like a key press.
    XForceScreenSaver(m_display, ScreenSaverReset);
    // Forcing a level while DPMS is disabled is an X error (BadMatch), so
    // ask first.
    int eventBase = 0;
    int errorBase = 0;
    if (DPMSQueryExtension(m_display, &eventBase, &errorBase) && DPMSCapable(m_display)) {
        CARD16 level = 0;
        BOOL enabled = False;
        if (DPMSInfo(m_display, &level, &enabled) && enabled && level != DPMSModeOn)
            DPMSForceLevel(m_display, DPMSModeOn);
    }
    XFlush(m_display);
}

DesktopSession::NotificationKey SystemDesktopSession::notify(
    const QString& summary, const QString& body)
{
    const NotificationKey key = ++m_lastKey;
    m_shown.insert(key, Shown {});
    sendNotify(key, summary, body);
    return key;
}

void SystemDesktopSession::updateNotification(
    NotificationKey key, const QString& summary, const QString& body)
{
    const auto shown = m_shown.find(key);
    if (shown == m_shown.end() || shown->ended)
        return;
    if (shown->awaiting) {
        shown->heldUpdate.emplace(summary, body);
        return;
    }
    sendNotify(key, summary, body);
}

void SystemDesktopSession::endNotification(
    NotificationKey key, const QString& summary, const QString& body)
{
    const auto shown = m_shown.find(key);
    if (shown == m_shown.end() || shown->ended)
        return;
    if (shown->awaiting) {
        // Closed when the answer comes: the id it carries is the one to
        // close. The record goes out now either way.
        shown->ended = true;
        shown->heldUpdate.reset();
    } else {
        closeNotification(shown->id);
        m_shown.erase(shown);
    }
    // The server handles the close and the record in turn. -1: the server's
    // own timeout. Nothing refers to the record later.
    m_sessionBus.asyncCall(notifyMessage(0, summary, body, kLow, -1));
}

QDBusMessage SystemDesktopSession::notifyMessage(
    uint replacesId, const QString& summary, const QString& body, uchar urgency, int timeout) const
{
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(urgency));
    hints.insert(QStringLiteral("category"), QStringLiteral("x-ringwarden.call"));
    if (!m_icon.isNull())
        hints.insert(QStringLiteral("image-data"), QVariant::fromValue(imageData(m_icon)));

    QDBusMessage message = QDBusMessage::createMethodCall(
        kNotifications, kNotificationsPath, kNotifications, QStringLiteral("Notify"));
    // The body is the caller as the modem gave it: servers read it as markup,
    // so a name such as "AT&T" or "<B>" must reach the user as text. The
    // icon by its installed name, for servers that ignore image-data.
    message << m_appName << replacesId << QStringLiteral("org.ringwarden.Ringwarden") << summary
            << body.toHtmlEscaped() << QStringList() << hints << qint32(timeout);
    return message;
}

void SystemDesktopSession::sendNotify(
    NotificationKey key, const QString& summary, const QString& body)
{
    Shown& shown = m_shown[key];
    // Critical and without a timeout: it stays until the person dismisses
    // it or the event ends. Replaces the notification the server showed for
    // this key, if any.
    const QDBusMessage message = notifyMessage(shown.id, summary, body, kCritical, 0);
    shown.awaiting = true;
    auto* watcher = new QDBusPendingCallWatcher(m_sessionBus.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
        [this, key](QDBusPendingCallWatcher* call) {
            call->deleteLater();
            const QDBusPendingReply<uint> reply = *call;
            notifyAnswered(key, reply.isError() ? 0u : reply.value());
        });
}

void SystemDesktopSession::closeNotification(uint id)
{
    // An id the server no longer knows (the person dismissed the
    // notification) is no error worth a word.
    if (id == 0)
        return;
    QDBusMessage close = QDBusMessage::createMethodCall(
        kNotifications, kNotificationsPath, kNotifications, QStringLiteral("CloseNotification"));
    close << id;
    m_sessionBus.asyncCall(close);
}

void SystemDesktopSession::notifyAnswered(NotificationKey key, uint id)
{
    const auto shown = m_shown.find(key);
    if (shown == m_shown.end())
        return;
    shown->awaiting = false;
    // An error for an answer (none within D-Bus's timeout) keeps what was
    // known: a failed replace leaves the notification as it was.
    if (id != 0)
        shown->id = id;
    if (shown->ended) {
        closeNotification(shown->id);
        m_shown.erase(shown);
        return;
    }
    if (const auto held = std::exchange(shown->heldUpdate, std::nullopt))
        sendNotify(key, held->first, held->second);
}
