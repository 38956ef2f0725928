// How a ring reaches the desktop: the screen is woken at every ring reaction
// and each call gets one notification, kept up to date with the caller, that
// gives way to a quiet record of the call when the call ends; a call's
// caller is never shown for another call.
// Runs against a private D-Bus daemon with this test's own notification
// server, screen savers and logind session registered on it, and the modem
// simulator on a pseudo-terminal.

#include "Alert.h"
#include "CallListener.h"
#include "CallLog.h"
#include "CallNotifier.h"
#include "DesktopSession.h"
#include "Fakes.h"
#include "LoadedAlert.h"
#include "ModemLink.h"
#include "ModemSim.h"
#include "Module2.h"
#include "PictureBox.h"
#include "RecordingMediaPlayer.h"
#include "RegModule.h"
#include "TextBox.h"
#include "Visual.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

const QString kSummary = QStringLiteral("The phone is ringing");
const QString kJohn = QStringLiteral("5551234 JOHN DOE");

// A D-Bus daemon of the test's own, serving as session and system bus.
// Made before the application, so the program's bus connections find it.
// Its only activatable services are the desktop services the program may
// call, each of which, when the bus starts it, writes its name into
// activated() and exits: a service started that way shows there.
class PrivateBus
{
public:
    PrivateBus()
    {
        if (!m_folder.isValid())
            return;
        const QString services = m_folder.filePath(QStringLiteral("services"));
        QDir().mkpath(services);
        for (const char* name : { "org.freedesktop.ScreenSaver", "org.gnome.ScreenSaver",
                 "org.gnome.SessionManager", "org.ringwarden.test.Activatable" }) {
            QFile service(services + QStringLiteral("/%1.service").arg(QLatin1String(name)));
            if (!service.open(QIODevice::WriteOnly))
                return;
            service.write(QStringLiteral("[D-BUS Service]\nName=%1\nExec=/bin/sh -c 'echo %1 "
                                         ">> %2'\n")
                              .arg(QLatin1String(name), activatedPath())
                              .toUtf8());
        }
        QFile config(m_folder.filePath(QStringLiteral("bus.conf")));
        if (!config.open(QIODevice::WriteOnly))
            return;
        config.write(QStringLiteral(
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig><type>session</type><listen>unix:tmpdir=%1</listen>"
            "<servicedir>%2</servicedir><auth>EXTERNAL</auth>"
            "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
            "<allow eavesdrop=\"true\"/><allow own=\"*\"/>"
            "</policy></busconfig>\n")
                         .arg(m_folder.path(), services)
                         .toUtf8());
        config.close();
        const QByteArray command = "dbus-daemon --config-file="
            + QFile::encodeName(config.fileName()) + " --fork --print-address=1 --print-pid=1";
        FILE* out = popen(command.constData(), "r");
        if (!out)
            return;
        char line[512] = {};
        if (fgets(line, sizeof line, out))
            m_address = QByteArray(line).trimmed();
        if (fgets(line, sizeof line, out))
            m_pid = QByteArray(line).trimmed().toInt();
        pclose(out);
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_address);
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_address);
    }
    ~PrivateBus()
    {
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGTERM);
        // Gone before its folder is removed, socket and all.
        for (int i = 0; i < 200 && kill(m_pid, 0) == 0; ++i)
            usleep(10000);
    }
    bool started() const { return !m_address.isEmpty() && m_pid > 0; }
    QString address() const { return QString::fromLatin1(m_address); }
    // The services the bus started by activation, in order.
    QStringList activated() const
    {
        QFile file(activatedPath());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    void forgetActivated() const { QFile::remove(activatedPath()); }

private:
    QString activatedPath() const { return m_folder.filePath(QStringLiteral("activated")); }

    QTemporaryDir m_folder;
    QByteArray m_address;
    pid_t m_pid = 0;
};

PrivateBus* g_bus = nullptr;

} // namespace

// A notification server that records every Notify and CloseNotification,
// in order, and may answer Notify late.
class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call
    {
        uint replacesId;
        uint id;
        QString appName;
        QString summary;
        QString body;
        QVariantMap hints;
        int timeout;
        // A CloseNotification of `id`.
        bool closes = false;
    };
    QList<Call> calls;
    int replyDelayMs = 0;

public slots:
    uint Notify(const QString& appName, uint replacesId, const QString&, const QString& summary,
        const QString& body, const QStringList&, const QVariantMap& hints, int timeout,
        const QDBusMessage& message)
    {
        const uint id = replacesId ? replacesId : ++m_lastId;
        calls.append({ replacesId, id, appName, summary, body, hints, timeout });
        if (replyDelayMs > 0) {
            message.setDelayedReply(true);
            QTimer::singleShot(replyDelayMs, this, [message, id] {
                QDBusConnection(QStringLiteral("desktop")).send(message.createReply(id));
            });
        }
        return id;
    }
    void CloseNotification(uint id) { calls.append({ 0, id, {}, {}, {}, {}, 0, true }); }
    // Answered in turn with the program's other calls: once it returns,
    // everything the program sent before has been handled.
    void Ping() { }

private:
    uint m_lastId = 40;
};

// org.freedesktop.ScreenSaver: records the path of each SimulateUserActivity.
class FakeScreenSaver : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

public:
    QStringList activity;

public slots:
    void SimulateUserActivity(const QDBusMessage& message) { activity << message.path(); }
};

// GNOME's screen saver: records each SetActive.
class FakeGnomeScreenSaver : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.ScreenSaver")

public:
    QList<bool> setActive;

public slots:
    void SetActive(bool active) { setActive << active; }
};

// GNOME's session manager: records each Inhibit and Uninhibit, and may
// answer Inhibit late.
class FakeSessionManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.SessionManager")

public:
    // "inhibit <app id> <flags> -> <cookie>", "uninhibit <cookie>".
    QStringList calls;
    int replyDelayMs = 0;

public slots:
    uint Inhibit(
        const QString& appId, uint, const QString&, uint flags, const QDBusMessage& message)
    {
        const uint cookie = ++m_lastCookie;
        calls << QStringLiteral("inhibit %1 %2 -> %3").arg(appId).arg(flags).arg(cookie);
        if (replyDelayMs > 0) {
            message.setDelayedReply(true);
            QTimer::singleShot(replyDelayMs, this, [message, cookie] {
                QDBusConnection(QStringLiteral("desktop")).send(message.createReply(cookie));
            });
        }
        return cookie;
    }
    void Uninhibit(uint cookie) { calls << QStringLiteral("uninhibit %1").arg(cookie); }

public:
    void reset()
    {
        calls.clear();
        replyDelayMs = 0;
        m_lastCookie = 70;
    }

private:
    uint m_lastCookie = 70;
};

// logind's view of this session.
class FakeLoginSession : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Session")
    Q_PROPERTY(bool LockedHint MEMBER locked)

public:
    bool locked = false;
};

class CallNotifierTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void ringsReachTheDesktop_data();
    void ringsReachTheDesktop();
    void aSlowOrMissingDesktopNeverHoldsARing_data();
    void aSlowOrMissingDesktopNeverHoldsARing();
    void gnomeCurtainLiftsOnlyWhenUnlocked_data();
    void gnomeCurtainLiftsOnlyWhenUnlocked();
    void theAlertWindowNotifiesAtEachRingReaction();
    void onlyTheDesktopsRunningServicesAreAsked_data();
    void onlyTheDesktopsRunningServicesAreAsked();
    void aCallOverBeforeTheInhibitorCameStillLetsGo();
    void theAlertWindowKeepsTheScreenAwakeForTheCall();
    void aNewCallNeverShowsTheLastCaller_data();
    void aNewCallNeverShowsTheLastCaller();

private:
    // Registers (or drops) the test's services on the bus.
    enum Service
    {
        Notifications = 1,
        FreedesktopScreenSaver = 2,
        GnomeScreenSaver = 4,
        Login = 8,
        SessionManager = 16,
        Everything = 31,
    };
    void publish(int services);
    // Returns once the bus has carried everything the program sent so far.
    void settle();
    // What the notification server was asked, in order: "new:<body>" or
    // "same:<body>" (replacing the one before; "same#<n>:<body>" replacing
    // the n-th shown) for a critical notification,
    // "closed" for the end of the critical one shown last ("closed:#<n>" of
    // the n-th shown, "closed:#0" of one never shown), "record:<summary>/<body>" for a notification
    // of low urgency. Times of day ("14:05") read "<time>" unless `withTimes`.
    QStringList notices(bool withTimes = true) const;

    std::unique_ptr<TestRuntime> m_runtime;
    FakeNotifications m_notifications;
    FakeScreenSaver m_screenSaver;
    FakeGnomeScreenSaver m_gnome;
    FakeLoginSession m_login;
    FakeSessionManager m_sessionManager;
};

void CallNotifierTest::initTestCase()
{
    QVERIFY2(g_bus && g_bus->started(), "dbus-daemon could not start: run tools/install-deps");
    // Times of day as "14:05".
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    // The bus does start its services when asked without NO_AUTO_START:
    // what the tests below find in activated() would show.
    QDBusConnection::sessionBus().asyncCall(QDBusMessage::createMethodCall(
        "org.ringwarden.test.Activatable", "/", "org.ringwarden.test", "Start"));
    QTRY_COMPARE_WITH_TIMEOUT(
        g_bus->activated(), QStringList { "org.ringwarden.test.Activatable" }, 10000);
}

void CallNotifierTest::init()
{
    QVERIFY2(g_bus && g_bus->started(), "dbus-daemon could not start: run tools/install-deps");
    m_runtime = std::make_unique<TestRuntime>();
    m_notifications.calls.clear();
    m_notifications.replyDelayMs = 0;
    m_screenSaver.activity.clear();
    m_gnome.setActive.clear();
    m_login.locked = false;
    m_sessionManager.reset();
    g_bus->forgetActivated();
    publish(Everything);
}

void CallNotifierTest::cleanup()
{
    settle();
    publish(0);
    m_runtime.reset();
}

void CallNotifierTest::publish(int services)
{
    QDBusConnection desktop = QDBusConnection::connectToBus(g_bus->address(), "desktop");
    QVERIFY(desktop.isConnected());
    const auto offer = [&](bool on, const QString& service, const QStringList& paths,
                           QObject* object, QDBusConnection::RegisterOptions options) {
        for (const QString& path : paths)
            desktop.unregisterObject(path);
        desktop.unregisterService(service);
        if (!on)
            return;
        for (const QString& path : paths)
            QVERIFY(desktop.registerObject(path, object, options));
        QVERIFY(desktop.registerService(service));
    };
    offer(services & Notifications, "org.freedesktop.Notifications",
        { "/org/freedesktop/Notifications" }, &m_notifications, QDBusConnection::ExportAllSlots);
    offer(services & FreedesktopScreenSaver, "org.freedesktop.ScreenSaver",
        { "/org/freedesktop/ScreenSaver", "/ScreenSaver" }, &m_screenSaver,
        QDBusConnection::ExportAllSlots);
    offer(services & GnomeScreenSaver, "org.gnome.ScreenSaver", { "/org/gnome/ScreenSaver" },
        &m_gnome, QDBusConnection::ExportAllSlots);
    offer(services & Login, "org.freedesktop.login1", { "/org/freedesktop/login1/session/auto" },
        &m_login, QDBusConnection::ExportAllProperties);
    offer(services & SessionManager, "org.gnome.SessionManager", { "/org/gnome/SessionManager" },
        &m_sessionManager, QDBusConnection::ExportAllSlots);
}

void CallNotifierTest::settle()
{
    // Twice: an answer that arrives during the first round may send more.
    for (int round = 0; round < 2; ++round) {
        QDBusMessage ping = QDBusMessage::createMethodCall("org.freedesktop.Notifications",
            "/org/freedesktop/Notifications", "org.freedesktop.Notifications", "Ping");
        QDBusPendingCallWatcher watcher(QDBusConnection::sessionBus().asyncCall(ping));
        // As soon as the answer is in, rather than in QTRY's 50 ms steps.
        QEventLoop loop;
        connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        if (!watcher.isFinished())
            loop.exec();
        QVERIFY(watcher.isFinished());
        QCoreApplication::processEvents();
    }
}

QStringList CallNotifierTest::notices(bool withTimes) const
{
    QStringList list;
    uint lastId = 0;
    QList<uint> shown;
    for (const FakeNotifications::Call& call : m_notifications.calls) {
        if (call.closes) {
            list << (call.id == lastId
                    ? QStringLiteral("closed")
                    : QStringLiteral("closed:#%1").arg(shown.indexOf(call.id) + 1));
        } else if (call.hints.value("urgency").value<uchar>() == 0) {
            QString summary = call.summary;
            if (!withTimes)
                summary.replace(QRegularExpression("\\d\\d:\\d\\d"), "<time>");
            list << "record:" + summary + '/' + call.body;
        } else {
            if (call.replacesId == 0)
                list << "new:" + call.body;
            else if (call.replacesId == lastId)
                list << "same:" + call.body;
            else
                list << QStringLiteral("same#%1:").arg(shown.indexOf(call.replacesId) + 1)
                        + call.body;
            lastId = call.id;
            if (!shown.contains(call.id))
                shown << call.id;
        }
    }
    return list;
}

void CallNotifierTest::ringsReachTheDesktop_data()
{
    // A script of steps as the Alert window tells them: "ring:<call>:<caller>"
    // (a ring reaction of call number <call>, the n-th step at 14:0n),
    // "caller:<call>:<caller>" (its caller became known), "end:<call>" (the
    // call is over), "off" (notifications switched off), "settle" (let the
    // bus carry what was sent). "<call>@<station>" is another station's call.
    // Settings as "WakeScreen/Notify" values ("" for none).
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<QStringList>("expectedNotices");
    QTest::addColumn<int>("expectedWakes");

    const QStringList firstRing { "ring:1:" };
    QTest::newRow("one ring") << "/" << firstRing << QStringList { "new:" } << 1;
    QTest::newRow("caller known later, answer already in")
        << "/" << firstRing + QStringList { "settle", "caller:1:" + kJohn, "ring:1:" + kJohn }
        << QStringList { "new:", "same:" + kJohn } << 2;
    QTest::newRow("caller known before the server answered")
        << "/" << firstRing + QStringList { "caller:1:" + kJohn }
        << QStringList { "new:", "same:" + kJohn } << 1;
    QTest::newRow("caller with the first ring")
        << "/" << QStringList { "ring:1:" + kJohn, "caller:1:" + kJohn, "ring:1:" + kJohn }
        << QStringList { "new:" + kJohn } << 2;
    QTest::newRow("a name joined later changes the notification")
        << "/"
        << QStringList { "ring:1:5551234", "caller:1:5551234", "settle", "caller:1:" + kJohn }
        << QStringList { "new:5551234", "same:" + kJohn } << 1;
    QTest::newRow("each call its own notification, without the last caller")
        << "/"
        << QStringList { "ring:1:" + kJohn, "caller:1:" + kJohn, "settle", "ring:2:", "settle",
               "caller:2:private number" }
        << QStringList { "new:" + kJohn, "new:", "same:private number" } << 2;
    QTest::newRow("a caller of an ended call changes nothing")
        << "/" << QStringList { "ring:1:", "settle", "end:1", "caller:1:" + kJohn }
        << QStringList { "new:", "closed", "record:The phone rang at 14:00/" } << 1;
    QTest::newRow("another station's call 1 is a call of its own")
        << "/"
        << QStringList { "ring:1:" + kJohn, "ring:1@attic:", "settle",
               "caller:1@attic:private number", "settle", "caller:1:5550002" }
        << QStringList { "new:" + kJohn, "new:", "same:private number", "same#1:5550002" } << 2;
    QTest::newRow("two stations' calls at once each end their own")
        << "/"
        << QStringList { "ring:1:" + kJohn, "ring:1@attic:", "settle", "ring:1:" + kJohn,
               "ring:1@attic:", "end:1", "settle", "end:1@attic" }
        << QStringList { "new:" + kJohn, "new:", "closed:#1",
               "record:The phone rang at 14:00/" + kJohn, "closed",
               "record:The phone rang at 14:01/" }
        << 4;
    QTest::newRow("a station that started again gets a new notification")
        << "/" << QStringList { "ring:1@attic:", "end:1@attic", "ring:1@attic:", "ring:1@attic:" }
        << QStringList { "new:", "record:The phone rang at 14:00/", "new:", "closed:#1" } << 3;
    QTest::newRow("both off") << "0/0" << firstRing << QStringList {} << 0;
    QTest::newRow("wake off") << "0/1" << firstRing << QStringList { "new:" } << 0;
    QTest::newRow("notify off") << "/0" << firstRing + QStringList { "caller:1:" + kJohn }
                                << QStringList {} << 1;

    // The end of a call: its notification goes and a record of it, with its
    // first ring's time and its caller, takes its place.
    QTest::newRow("the call's end leaves its record")
        << "/"
        << QStringList { "ring:1:", "settle", "ring:1:" + kJohn, "caller:1:" + kJohn, "settle",
               "end:1" }
        << QStringList { "new:", "same:" + kJohn, "closed",
               "record:The phone rang at 14:00/" + kJohn }
        << 2;
    QTest::newRow("the end while the caller's update is on its way")
        << "/" << QStringList { "ring:1:", "settle", "caller:1:" + kJohn, "end:1" }
        << QStringList { "new:", "same:" + kJohn, "record:The phone rang at 14:00/" + kJohn,
               "closed" }
        << 1;
    QTest::newRow("a call without caller ID")
        << "/" << QStringList { "ring:1:", "settle", "end:1" }
        << QStringList { "new:", "closed", "record:The phone rang at 14:00/" } << 1;
    QTest::newRow("the end before the server answered")
        << "/" << QStringList { "ring:1:", "caller:1:" + kJohn, "end:1" }
        << QStringList { "new:", "record:The phone rang at 14:00/" + kJohn, "closed" } << 1;
    QTest::newRow("the next call is critical again, without the last caller")
        << "/" << QStringList { "ring:1:" + kJohn, "settle", "end:1", "ring:2:", "settle", "end:2" }
        << QStringList { "new:" + kJohn, "closed", "record:The phone rang at 14:00/" + kJohn,
               "new:", "closed", "record:The phone rang at 14:03/" }
        << 2;
    QTest::newRow("the end of another call, or a second end, changes nothing")
        << "/" << QStringList { "ring:2:", "settle", "end:1", "end:2", "settle", "end:2" }
        << QStringList { "new:", "closed", "record:The phone rang at 14:00/" } << 1;
    QTest::newRow("notify switched off during the call")
        << "/" << QStringList { "ring:1:", "settle", "off", "end:1" }
        << QStringList { "new:", "closed", "record:The phone rang at 14:00/" } << 1;
    QTest::newRow("notify off: nothing to end")
        << "/0" << QStringList { "ring:1:", "settle", "end:1" } << QStringList {} << 1;
}

void CallNotifierTest::ringsReachTheDesktop()
{
    QFETCH(QString, settings);
    QFETCH(QStringList, script);
    QFETCH(QStringList, expectedNotices);
    QFETCH(int, expectedWakes);

    const QString key = QStringLiteral("Software\\Ringwarden\\Alert");
    RegModule::SetRegValue(
        RegModule::HKEY_CURRENT_USER, key, "WakeScreen", settings.section('/', 0, 0));
    RegModule::SetRegValue(
        RegModule::HKEY_CURRENT_USER, key, "Notify", settings.section('/', 1, 1));

    SystemDesktopSession session(
        QStringLiteral("Ringwarden"), QImage(16, 16, QImage::Format_ARGB32));
    CallNotifier notifier(session);
    for (int i = 0; i < script.size(); ++i) {
        const QString& step = script.at(i);
        Call call;
        call.serial = step.section(':', 1, 1).section('@', 0, 0).toInt();
        call.station = step.section(':', 1, 1).section('@', 1);
        call.caller = step.section(':', 2);
        call.time = QDateTime(QDate(2026, 12, 8), QTime(14, i));
        if (step.startsWith("ring:"))
            notifier.ringReaction(call);
        else if (step.startsWith("caller:"))
            notifier.callerIdentified(call);
        else if (step.startsWith("end:"))
            notifier.callEnded(call);
        else if (step == "off")
            RegModule::SetRegValue(RegModule::HKEY_CURRENT_USER, key, "Notify", "0");
        else
            settle();
    }
    settle();

    QCOMPARE(notices(), expectedNotices);
    QCOMPARE(m_screenSaver.activity.count("/org/freedesktop/ScreenSaver"), expectedWakes);
    QCOMPARE(m_screenSaver.activity.count("/ScreenSaver"), expectedWakes);
    // The ringing ones critical until dismissed or ended, the records low
    // with the server's own timeout.
    for (const FakeNotifications::Call& call : m_notifications.calls) {
        if (call.closes)
            continue;
        const bool record = !call.summary.startsWith(kSummary);
        QCOMPARE(call.appName, QStringLiteral("Ringwarden"));
        QCOMPARE(call.summary.startsWith("The phone rang at "), record);
        QCOMPARE(call.timeout, record ? -1 : 0);
        QCOMPARE(call.hints.value("urgency").metaType(), QMetaType::fromType<uchar>());
        QCOMPARE(call.hints.value("urgency").value<uchar>(), uchar(record ? 0 : 2));
        QCOMPARE(call.hints.value("category").toString(), QStringLiteral("x-ringwarden.call"));
        QVERIFY(call.hints.contains("image-data"));
    }
}

void CallNotifierTest::aSlowOrMissingDesktopNeverHoldsARing_data()
{
    QTest::addColumn<bool>("servicesThere");
    QTest::newRow("services answer after 3 s") << true;
    QTest::newRow("no services on the bus") << false;
}

void CallNotifierTest::aSlowOrMissingDesktopNeverHoldsARing()
{
    QFETCH(bool, servicesThere);
    m_notifications.replyDelayMs = 3000;
    publish(servicesThere ? Everything : 0);

    SystemDesktopSession session(QStringLiteral("Ringwarden"), QImage());
    CallNotifier notifier(session);
    QElapsedTimer elapsed;
    elapsed.start();
    Call call;
    call.serial = 1;
    notifier.ringReaction(call);
    m_runtime->clock.wait(2);
    call.caller = kJohn;
    notifier.callerIdentified(call);
    notifier.ringReaction(call);
    const qint64 took = elapsed.elapsed();
    // A reaction that waited for an answer would take the 3 s at least.
    QVERIFY2(took < 1000, qPrintable(QString::number(took)));

    if (servicesThere) {
        // The caller still lands in the same notification once the id is in.
        QTRY_COMPARE_WITH_TIMEOUT(m_notifications.calls.size(), 2, 10000);
        QCOMPARE(notices(), (QStringList { "new:", "same:" + kJohn }));
    }
}

void CallNotifierTest::gnomeCurtainLiftsOnlyWhenUnlocked_data()
{
    QTest::addColumn<bool>("loginThere");
    QTest::addColumn<bool>("locked");
    QTest::addColumn<QList<bool>>("expected");
    QTest::newRow("unlocked") << true << false << QList<bool> { false };
    // GNOME Shell unlocks on SetActive(false): never while locked.
    QTest::newRow("locked") << true << true << QList<bool> {};
    QTest::newRow("lock state unknown") << false << false << QList<bool> {};
}

void CallNotifierTest::gnomeCurtainLiftsOnlyWhenUnlocked()
{
    QFETCH(bool, loginThere);
    QFETCH(bool, locked);
    QFETCH(QList<bool>, expected);
    publish(Everything & ~(loginThere ? 0 : Login));
    m_login.locked = locked;

    SystemDesktopSession session(QStringLiteral("Ringwarden"), QImage());
    session.wakeScreen();
    settle();
    settle();
    QCOMPARE(m_gnome.setActive, expected);
    QCOMPARE(m_screenSaver.activity.size(), 2);
}

void CallNotifierTest::theAlertWindowNotifiesAtEachRingReaction()
{
    const std::unique_ptr<Alert> loaded = loadedAlert();
    Alert& alert = *loaded;
    // The set-up's replies and their clearing are no rings.
    alert.setReceivedText("OK");
    alert.setReceivedText(QString());
    settle();
    QCOMPARE(m_notifications.calls.size(), 0);
    QCOMPARE(m_screenSaver.activity.size(), 0);

    // A call: two ring reactions, one notification.
    const QString ring = QStringLiteral("\r\nRING\r\n");
    alert.setReceivedText(ring);
    m_runtime->clock.wait(2);
    alert.setReceivedText(QString());
    settle();
    QCOMPARE(m_notifications.calls.size(), 1);
    QCOMPARE(m_notifications.calls.at(0).summary, kSummary);
    QCOMPARE(m_screenSaver.activity.count("/org/freedesktop/ScreenSaver"), 2);

    // Once the loop has said the call ended, its notification gives way to
    // its record, and the modem's next text is a new call; a caller ID in
    // the ringing pass is in that pass's notification.
    alert.callEnded();
    alert.setReceivedText(ring + QStringLiteral("NMBR = 5551234\r\nNAME = AT&T <B>\r\n"));
    settle();
    // Servers read the body as markup: the name must stay text.
    QCOMPARE(notices(false),
        (QStringList { "new:", "closed", "record:The phone rang at <time>/",
            "new:5551234 AT&amp;T &lt;B&gt;" }));
    // The program's own icon goes with it.
    QVERIFY(m_notifications.calls.at(0).hints.contains(QStringLiteral("image-data")));
    alert.hide();
}

void CallNotifierTest::onlyTheDesktopsRunningServicesAreAsked_data()
{
    // Two calls, as the Alert window tells them, on a bus where only some
    // of the desktop services run; all of them could be started by D-Bus
    // activation. SimulateUserActivity is counted on its first path.
    QTest::addColumn<int>("services");
    QTest::addColumn<QString>("wake");
    QTest::addColumn<int>("expectedActivity");
    QTest::addColumn<QList<bool>>("expectedSetActive");
    QTest::addColumn<QStringList>("expectedInhibits");

    const int gnome = Notifications | GnomeScreenSaver | SessionManager | Login;
    const QStringList twoInhibitors { "inhibit org.ringwarden.Ringwarden 8 -> 71", "uninhibit 71",
        "inhibit org.ringwarden.Ringwarden 8 -> 72", "uninhibit 72" };
    QTest::newRow("GNOME") << gnome << QString() << 0 << QList<bool> { false, false, false }
                           << twoInhibitors;
    QTest::newRow("GNOME, wake switched off")
        << gnome << QStringLiteral("0") << 0 << QList<bool> {} << QStringList {};
    QTest::newRow("KDE") << int(Notifications | FreedesktopScreenSaver | Login) << QString() << 3
                         << QList<bool> {} << QStringList {};
    QTest::newRow("a session manager beside SimulateUserActivity")
        << int(Everything) << QString() << 3 << QList<bool> { false, false, false }
        << twoInhibitors;
    QTest::newRow("no desktop services")
        << int(Notifications) << QString() << 0 << QList<bool> {} << QStringList {};
}

void CallNotifierTest::onlyTheDesktopsRunningServicesAreAsked()
{
    QFETCH(int, services);
    QFETCH(QString, wake);
    QFETCH(int, expectedActivity);
    QFETCH(QList<bool>, expectedSetActive);
    QFETCH(QStringList, expectedInhibits);
    publish(services);
    RegModule::SetRegValue(RegModule::HKEY_CURRENT_USER,
        QStringLiteral("Software\\Ringwarden\\Alert"), "WakeScreen", wake);

    SystemDesktopSession session(QStringLiteral("Ringwarden"), QImage());
    CallNotifier notifier(session);
    Call call;
    call.serial = 1;
    notifier.ringReaction(call);
    settle();
    notifier.ringReaction(call);
    notifier.callEnded(call);
    settle();
    call.serial = 2;
    notifier.ringReaction(call);
    settle();
    notifier.callEnded(call);
    settle();
    settle();

    QCOMPARE(m_screenSaver.activity.count("/org/freedesktop/ScreenSaver"), expectedActivity);
    QCOMPARE(m_gnome.setActive, expectedSetActive);
    QCOMPARE(m_sessionManager.calls, expectedInhibits);
    // Nothing was started for a desktop that does not run it.
    QCOMPARE(g_bus->activated(), QStringList {});
}

void CallNotifierTest::aCallOverBeforeTheInhibitorCameStillLetsGo()
{
    m_sessionManager.replyDelayMs = 300;
    SystemDesktopSession session(QStringLiteral("Ringwarden"), QImage());
    CallNotifier notifier(session);
    // The session knows by now which services run.
    settle();
    Call call;
    call.serial = 1;
    notifier.ringReaction(call);
    notifier.callEnded(call);
    QTRY_COMPARE_WITH_TIMEOUT(m_sessionManager.calls,
        (QStringList { "inhibit org.ringwarden.Ringwarden 8 -> 71", "uninhibit 71" }), 10000);
}

void CallNotifierTest::theAlertWindowKeepsTheScreenAwakeForTheCall()
{
    const std::unique_ptr<Alert> loaded = loadedAlert();
    Alert& alert = *loaded;
    alert.setReceivedText("OK");
    alert.setReceivedText(QString());
    QVERIFY(!alert.heldAbove());

    // A ring: the window is held above the others and the screen awake.
    const QString ring = QStringLiteral("\r\nRING\r\n");
    alert.setReceivedText(ring);
    settle();
    QVERIFY(alert.isVisible());
    QVERIFY(alert.heldAbove());
    QCOMPARE(m_sessionManager.calls, QStringList { "inhibit org.ringwarden.Ringwarden 8 -> 71" });

    // In an always-on run the user clicks the band away while the call goes
    // on: both end, and the window stays shown.
    alert.setAlwaysOn(true);
    QTest::mouseClick(alert.visual()->picScr, Qt::LeftButton);
    QVERIFY(!alert.visual());
    settle();
    QVERIFY(alert.isVisible());
    QVERIFY(!alert.heldAbove());
    QCOMPARE(m_sessionManager.calls.size(), 2);
    QCOMPARE(m_sessionManager.calls.last(), QStringLiteral("uninhibit 71"));

    // The modem's next text of the same call rings again and puts both
    // back; the call's end ends them again.
    alert.setReceivedText(QStringLiteral("RING"));
    settle();
    QVERIFY(alert.heldAbove());
    alert.callEnded();
    settle();
    QVERIFY(!alert.heldAbove());
    QVERIFY(alert.isVisible());
    QCOMPARE(m_sessionManager.calls,
        (QStringList { "inhibit org.ringwarden.Ringwarden 8 -> 71", "uninhibit 71",
            "inhibit org.ringwarden.Ringwarden 8 -> 72", "uninhibit 72" }));

    // Another station's call rings here while this modem's next call does:
    // the window stays above until neither rings any more.
    alert.setReceivedText(QStringLiteral("\r\nRING\r\n"));
    Call kitchen;
    kitchen.station = QStringLiteral("kitchen");
    kitchen.serial = 4;
    kitchen.rings = 1;
    alert.remoteRing(kitchen);
    alert.callEnded();
    QVERIFY(alert.heldAbove());
    alert.remoteCallEnded(kitchen);
    QVERIFY(!alert.heldAbove());
    alert.hide();
}

void CallNotifierTest::aNewCallNeverShowsTheLastCaller_data()
{
    QTest::addColumn<bool>("lateCallerId");
    QTest::newRow("second call's caller ID comes late") << true;
    QTest::newRow("second call without caller ID") << false;
}

void CallNotifierTest::aNewCallNeverShowsTheLastCaller()
{
    QFETCH(bool, lateCallerId);
    TestClock& clock = m_runtime->clock;
    const QString ports = m_runtime->configHome() + QStringLiteral("/ringwarden/ports");
    QVERIFY(QDir().mkpath(ports));
    ModemSim::Options options;
    options.linkPath = (ports + QStringLiteral("/COM4")).toStdString();
    ModemSim sim(options);
    for (double t = 0.05; t < 80.0; t += 0.1)
        clock.at(t, [&sim] { sim.service(0); });

    const std::unique_ptr<Alert> loaded = loadedAlert();
    Alert& alert = *loaded;
    ModemLink::SetUpModem(QStringLiteral("COM4"));
    QVERIFY(sim.callerIdOn());

    // Call 1 from John Doe, as the simulator reports it: RING and caller ID
    // together, a second RING 6 s later. The modem then falls silent, which
    // ends the call. Call 2 rings twice; its caller ID, when it comes, comes
    // 7 s after its first ring.
    clock.at(20.0, [&] { sim.startCall({ "5551234", "JOHN DOE", "1208", "0500" }, 1); });
    clock.at(26.0, [&] { sim.writeRaw("\r\nRING\r\n"); });
    const double secondCall = 50.0;
    clock.at(secondCall, [&] { sim.writeRaw("\r\nRING\r\n"); });
    clock.at(secondCall + 6.0, [&] { sim.writeRaw("\r\nRING\r\n"); });
    if (lateCallerId) {
        clock.at(secondCall + 7.0, [&] {
            sim.writeRaw("\r\nDATE = 1208\r\nTIME = 0510\r\nNMBR = 5550002\r\nNAME = JANE "
                         "ROE\r\n\r\n");
        });
    }

    // What the band says after each pass of call 2, and what the Alert
    // window holds as the caller.
    struct Seen : ModemLink::Listener
    {
        Alert& alert;
        const TestClock& clock;
        double from;
        QStringList band;
        QStringList callers;
        Seen(Alert& a, const TestClock& c, double f)
            : alert(a)
            , clock(c)
            , from(f)
        { }
        void setReceivedText(const QString& text) override
        {
            alert.setReceivedText(text);
            if (clock.now() >= from && alert.visual()) {
                band << alert.visual()->Text1->text();
                callers << alert.callerDescription();
            }
        }
        void setNmbrPos(qint16 position) override { alert.setNmbrPos(position); }
        void linkLost() override { alert.linkLost(); }
        void linkRestored() override { alert.linkRestored(); }
        void noAnswer(const QString& port) override { alert.noAnswer(port); }
        void callEnded() override { alert.callEnded(); }
    } seen(alert, clock, secondCall);
    clock.at(secondCall + 20.0, [] { Runtime::End(); });
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, ModemLink::Listen(seen));
    settle();

    // The band: plain until call 2's own caller ID, then that caller, never
    // call 1's.
    const QString plain = QStringLiteral("The phone is ringing");
    const QString jane = QStringLiteral("The phone is ringing: 5550002 JANE ROE");
    QVERIFY(seen.band.size() >= 8);
    QCOMPARE(seen.band.first(), plain);
    for (int i = 0; i < seen.band.size(); ++i) {
        QVERIFY2(!seen.band.at(i).contains("JOHN") && !seen.callers.at(i).contains("JOHN"),
            qPrintable(seen.band.join('|')));
    }
    QVERIFY2(seen.band.contains(jane) == lateCallerId, qPrintable(seen.band.join("|")));
    // Once call 2 is over, its caller is forgotten too.
    QCOMPARE(seen.band.last(), plain);
    QCOMPARE(seen.callers.last(), QString());

    // The notifications: one per call, the second changed in place only by
    // its own caller, each giving way to its record at the call's end.
    QStringList expected { "new:" + kJohn, "closed", "record:The phone rang at <time>/" + kJohn,
        "new:" };
    if (lateCallerId)
        expected << "same:5550002 JANE ROE";
    expected << "closed"
             << QStringLiteral("record:The phone rang at <time>/")
            + (lateCallerId ? "5550002 JANE ROE" : "");
    QCOMPARE(notices(false), expected);

    // The call log: each number once, from its own call's text.
    QFile log(CallLog::path());
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> records = log.readAll().split('\n');
    QStringList numbers;
    for (const QByteArray& record : records) {
        if (!record.trimmed().isEmpty())
            numbers << QString::fromLatin1(record.mid(23, 7));
    }
    QCOMPARE(
        numbers, lateCallerId ? QStringList({ "5551234", "5550002" }) : QStringList({ "5551234" }));
    Module2::ClosePort();
    alert.hide();
}

int main(int argc, char** argv)
{
    PrivateBus bus;
    g_bus = &bus;
    QApplication application(argc, argv);
    CallNotifierTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_callnotifier.moc"
