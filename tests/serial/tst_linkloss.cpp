// Never silently deaf: the listening loop and the Alert window when the
// modem goes away and comes back, never answers, or is not ours to use.
// The test plays the modem on pseudo-terminals reached through the user's
// ports folder, with a clock that only moves when the program waits.

#include "Alert.h"
#include "Fakes.h"
#include "LoadedAlert.h"
#include "ModemLink.h"
#include "Module2.h"
#include "PictureBox.h"
#include "PortUse.h"
#include "PtyPair.h"
#include "RecordingMediaPlayer.h"
#include "TextBox.h"
#include "Visual.h"

#include <QFile>
#include <QProcess>
#include <QtTest>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QString kLost = QStringLiteral("Modem disconnected - reconnecting...");
const QString kListening = QStringLiteral("Listening for calls");
const QString kRinging = QStringLiteral("The Phone is ringing now");

// Hands every pass on to the Alert window and notes what the user sees
// right after it: "<time> <what> | <caption> | count <n> | shown/hidden".
class Tap final : public ModemLink::Listener
{
public:
    Tap(Alert& alert, const TestClock& clock)
        : m_alert(alert)
        , m_clock(clock)
    { }
    void setReceivedText(const QString& text) override
    {
        m_alert.setReceivedText(text);
        note(text.isEmpty() ? QStringLiteral("pass empty") : QStringLiteral("pass text"));
        if (!text.isEmpty())
            texts << text;
    }
    void setNmbrPos(qint16 position) override { m_alert.setNmbrPos(position); }
    void linkLost() override
    {
        m_alert.linkLost();
        note(QStringLiteral("lost"));
    }
    void linkRestored() override
    {
        m_alert.linkRestored();
        note(QStringLiteral("restored"));
    }
    void noAnswer(const QString& portName) override
    {
        m_alert.noAnswer(portName);
        note(QStringLiteral("no answer"));
    }
    void callEnded() override { m_alert.callEnded(); }

    struct Note
    {
        double time;
        QString what;
        QString caption;
        int count;
        bool shown;
    };
    QList<Note> notes;
    QStringList texts;

    // The first note of `what` at or after `from`, or null.
    const Note* find(const QString& what, double from = 0) const
    {
        for (const Note& n : notes) {
            if (n.what == what && n.time >= from)
                return &n;
        }
        return nullptr;
    }

private:
    void note(const QString& what)
    {
        notes.append({ m_clock.now(), what, m_alert.windowTitle(), m_alert.Text1->text().toInt(),
            m_alert.isVisible() });
    }
    Alert& m_alert;
    const TestClock& m_clock;
};

// What the Alert window tells its call listeners, as "state <n>",
// "ring <call>/<ring> <caller>", "caller <call> <caller>", "ended <call>".
class CallRecord final : public CallListener
{
public:
    void ringReaction(const Call& call) override
    {
        heard << QStringLiteral("ring %1/%2 %3").arg(call.serial).arg(call.rings).arg(call.caller);
    }
    void callerIdentified(const Call& call) override
    {
        heard << QStringLiteral("caller %1 %2").arg(call.serial).arg(call.caller);
    }
    void callEnded(const Call& call) override
    {
        heard << QStringLiteral("ended %1").arg(call.serial);
    }
    void watchStateChanged(WatchState state) override
    {
        heard << QStringLiteral("state %1").arg(int(state));
    }
    QStringList heard;
};

// The modem on one pseudo-terminal: every tenth of a second it takes what
// the program sent, notes each command with its time and, unless mute,
// answers OK.
class Modem
{
public:
    Modem(TestClock& clock, bool mute, double from, double until)
    {
        for (double t = from; t < until; t += 0.1) {
            clock.at(t, [this, &clock, mute] {
                if (!m_pty)
                    return;
                const QByteArray bytes = m_pty->read(0, 20);
                if (bytes.isEmpty())
                    return;
                heard += bytes;
                times.append(clock.now());
                if (!mute)
                    m_pty->write(ModemReply::kOk);
            });
        }
    }
    PtyPair& pty() { return *m_pty; }
    void plugIn() { m_pty = std::make_unique<PtyPair>(); }
    void unplug() { m_pty.reset(); }

    QByteArray heard;
    QList<double> times;

private:
    std::unique_ptr<PtyPair> m_pty;
};

QByteArray allSetupStrings()
{
    QByteArray all;
    for (const QString& command : ModemLink::setupStrings())
        all += command.toLatin1();
    return all;
}

} // namespace

class LinkLossTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void lostModemIsShownAndListeningRecovers_data();
    void lostModemIsShownAndListeningRecovers();
    void modemThatComesLaterIsHeard_data();
    void modemThatComesLaterIsHeard();
    void muteModemIsShownAndTheFirstTextRings();
    void bandClickWhileTheModemIsGone_data();
    void bandClickWhileTheModemIsGone();
    void portHeldByAnotherProcessIsInvalidNamingIt();
    void holderIsNamedWhereItCanBeSeen_data();
    void holderIsNamedWhereItCanBeSeen();
    void onlyTerminalsAreOpened_data();
    void onlyTerminalsAreOpened();
    void closingPutsTheTerminalSettingsBack();

private:
    // Points the ports folder's COM4 at `device` ("" removes the link).
    void linkCom4(const QString& device);
    // Runs the loop until the clock reaches `until`.
    void listenUntil(ModemLink::Listener& listener, double until);
    // At `time`, plugs `modem` in again as a fresh pseudo-terminal behind
    // COM4, forgetting what it heard before; `back` receives the time.
    void plugInAt(Modem& modem, double time, double& back);
    // At `time`, the modem reports a call; `called` receives the time.
    void callAt(Modem& modem, double time, double& called);

    std::unique_ptr<TestRuntime> m_runtime;
    std::unique_ptr<Alert> m_alert;
};

void LinkLossTest::init()
{
    m_runtime = std::make_unique<TestRuntime>();
    QVERIFY(QDir().mkpath(m_runtime->configHome() + QStringLiteral("/ringwarden/ports")));
    m_alert = loadedAlert();
}

void LinkLossTest::cleanup()
{
    Module2::ClosePort();
    m_alert.reset();
    m_runtime.reset();
}

void LinkLossTest::linkCom4(const QString& device)
{
    const QString link = m_runtime->configHome() + QStringLiteral("/ringwarden/ports/COM4");
    QFile::remove(link);
    if (!device.isEmpty())
        QVERIFY(QFile::link(device, link));
}

void LinkLossTest::listenUntil(ModemLink::Listener& listener, double until)
{
    m_runtime->clock.at(until, [] { Runtime::End(); });
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, ModemLink::Listen(listener));
}

void LinkLossTest::plugInAt(Modem& modem, double time, double& back)
{
    m_runtime->clock.at(time, [this, &modem, &back] {
        back = m_runtime->clock.now();
        modem.heard.clear();
        modem.times.clear();
        modem.plugIn();
        linkCom4(modem.pty().slavePath());
    });
}

void LinkLossTest::callAt(Modem& modem, double time, double& called)
{
    m_runtime->clock.at(time, [this, &modem, &called] {
        called = m_runtime->clock.now();
        modem.pty().write(ModemReply::kCall);
    });
}

void LinkLossTest::lostModemIsShownAndListeningRecovers_data()
{
    QTest::addColumn<bool>("linkRemoved");
    QTest::newRow("link left pointing at the gone device") << false;
    QTest::newRow("link removed while the modem is gone") << true;
}

void LinkLossTest::lostModemIsShownAndListeningRecovers()
{
    QFETCH(bool, linkRemoved);
    TestClock& clock = m_runtime->clock;
    Modem modem(clock, false, 0.1, 60.0);
    modem.plugIn();
    linkCom4(modem.pty().slavePath());
    ModemLink::SetUpModem(QStringLiteral("COM4"));
    QCOMPARE(modem.heard, allSetupStrings());

    // Listening, hidden by "Stealth mode"; then the modem goes away, and
    // comes back as another pseudo-terminal behind the same name.
    Tap tap(*m_alert, clock);
    CallRecord record;
    m_alert->addCallListener(&record);
    m_alert->setVisible(false);
    clock.at(13.0, [&] {
        modem.unplug();
        if (linkRemoved)
            linkCom4({});
    });
    double back = 0;
    plugInAt(modem, 19.0, back);
    double called = 0;
    callAt(modem, 36.0, called);
    listenUntil(tap, 40.0);

    // Listening before the loss.
    const Tap::Note* listening = tap.find(QStringLiteral("pass empty"));
    QVERIFY(listening);
    QCOMPARE(listening->caption, kListening);
    QCOMPARE(listening->count, 2);

    // The loss is shown at the next pass, with the window back in view.
    const Tap::Note* lost = tap.find(QStringLiteral("lost"));
    QVERIFY(lost);
    QVERIFY(lost->time > 13.0 && lost->time <= 15.0);
    QCOMPARE(lost->caption, kLost);
    QVERIFY(lost->shown);
    for (const Tap::Note& n : tap.notes) {
        if (n.time > lost->time && n.time < back)
            QCOMPARE(n.caption, kLost);
    }
    // Reopen attempts are quiet.
    QVERIFY2(m_runtime->messageBox.notices().isEmpty(),
        qPrintable(m_runtime->messageBox.texts().join('|')));

    // Back: the same five strings, paced as at the start, within one pass
    // and the set-up of the return.
    QCOMPARE(modem.heard, allSetupStrings());
    QCOMPARE(modem.times.size(), 5);
    QVERIFY(modem.times.first() - back <= 2.0 + 0.2 + 0.1);
    for (int i = 1; i < modem.times.size(); ++i)
        QVERIFY(qAbs(modem.times.at(i) - modem.times.at(i - 1) - 2.0) < 0.15);
    const Tap::Note* restored = tap.find(QStringLiteral("restored"));
    QVERIFY(restored);
    QCOMPARE(restored->caption, kListening);
    // The replies were dropped: no text reached the window, nothing counted.
    for (const Tap::Note& n : tap.notes) {
        if (&n > restored && n.time < called) {
            QCOMPARE(n.what, QStringLiteral("pass empty"));
            QCOMPARE(n.count, 2);
            QCOMPARE(n.caption, kListening);
        }
    }

    // A call after the return rings at the next pass.
    const Tap::Note* ring = tap.find(QStringLiteral("pass text"), called);
    QVERIFY(ring);
    QVERIFY(ring->time - called <= 2.0);
    QCOMPARE(ring->caption, kRinging);
    QCOMPARE(ring->count, 3);
    QCOMPARE(tap.texts.last(), QString::fromLatin1(ModemReply::kCall));
    QVERIFY(m_alert->visual());

    // The listeners heard the same: listening, lost, listening again, then
    // the call's first ring with its caller.
    const QString john = QStringLiteral("5551234 JOHN DOE");
    QCOMPARE(record.heard.mid(0, 5),
        QStringList({ QStringLiteral("state %1").arg(int(WatchState::Listening)),
            QStringLiteral("state %1").arg(int(WatchState::ModemLost)),
            QStringLiteral("state %1").arg(int(WatchState::Listening)), "ring 1/1 " + john,
            "caller 1 " + john }));
    m_alert->removeCallListener(&record);
}

void LinkLossTest::modemThatComesLaterIsHeard_data()
{
    QTest::addColumn<bool>("missingAtStart");
    QTest::newRow("no modem when listening starts") << true;
    QTest::newRow("modem lost during the set-up") << false;
}

void LinkLossTest::modemThatComesLaterIsHeard()
{
    QFETCH(bool, missingAtStart);
    TestClock& clock = m_runtime->clock;
    Modem modem(clock, false, 0.1, 60.0);
    if (missingAtStart) {
        linkCom4(m_runtime->home() + QStringLiteral("/no-modem-here"));
    } else {
        modem.plugIn();
        linkCom4(modem.pty().slavePath());
        clock.at(4.0, [&] { modem.unplug(); });
    }
    ModemLink::SetUpModem(QStringLiteral("COM4"));
    // The start says it once; the attempts after it are quiet.
    QCOMPARE(m_runtime->messageBox.notices().size(), missingAtStart ? 1 : 0);

    Tap tap(*m_alert, clock);
    double back = 0;
    plugInAt(modem, 16.0, back);
    double called = 0;
    callAt(modem, 34.0, called);
    listenUntil(tap, 38.0);

    const Tap::Note* lost = tap.find(QStringLiteral("lost"));
    QVERIFY(lost);
    QCOMPARE(lost->caption, kLost);
    QVERIFY(lost->shown);
    const Tap::Note* restored = tap.find(QStringLiteral("restored"), back);
    QVERIFY(restored);
    QCOMPARE(restored->caption, kListening);
    // The set-up's replies never came through, so the call's first text is
    // a ring.
    const Tap::Note* ring = tap.find(QStringLiteral("pass text"), called);
    QVERIFY(ring);
    QVERIFY(ring->time - called <= 2.0);
    QCOMPARE(ring->caption, kRinging);
    QCOMPARE(m_runtime->messageBox.notices().size(), missingAtStart ? 1 : 0);
}

void LinkLossTest::muteModemIsShownAndTheFirstTextRings()
{
    TestClock& clock = m_runtime->clock;
    Modem modem(clock, true, 0.1, 20.0);
    modem.plugIn();
    linkCom4(modem.pty().slavePath());
    ModemLink::SetUpModem(QStringLiteral("COM4"));
    QCOMPARE(modem.heard, allSetupStrings());

    Tap tap(*m_alert, clock);
    CallRecord record;
    m_alert->addCallListener(&record);
    m_alert->setVisible(false);
    double called = 0;
    clock.at(15.0, [&] {
        called = clock.now();
        modem.pty().write(ModemReply::kCall);
    });
    listenUntil(tap, 21.0);

    QVERIFY(!tap.notes.isEmpty());
    const Tap::Note* mute = tap.find(QStringLiteral("no answer"));
    QVERIFY(mute);
    QCOMPARE(mute, &tap.notes.at(1));
    QCOMPARE(mute->caption, QStringLiteral("No answer from the modem on COM4"));
    QVERIFY(mute->shown);
    // The first text that arrives is a ring, and so is the next change.
    const Tap::Note* ring = tap.find(QStringLiteral("pass text"));
    QVERIFY(ring);
    QVERIFY(ring->time > called && ring->time - called <= 2.0);
    QCOMPARE(ring->caption, kRinging);
    QCOMPARE(ring->count, 3);
    QVERIFY(m_alert->visual());
    const Tap::Note* again = tap.find(QStringLiteral("pass empty"), ring->time + 0.1);
    QVERIFY(again);
    QCOMPARE(again->count, 4);
    QVERIFY(m_runtime->messageBox.notices().isEmpty());
    // The modem that said nothing is heard after all: listening again.
    QCOMPARE(record.heard.mid(0, 3),
        QStringList({ QStringLiteral("state %1").arg(int(WatchState::NoAnswer)),
            QStringLiteral("state %1").arg(int(WatchState::Listening)),
            "ring 1/1 5551234 JOHN DOE" }));
    QCOMPARE(record.heard.at(4), QStringLiteral("ring 1/2 5551234 JOHN DOE"));
    m_alert->removeCallListener(&record);
}

void LinkLossTest::bandClickWhileTheModemIsGone_data()
{
    QTest::addColumn<bool>("opened");
    QTest::addColumn<int>("ends");
    QTest::newRow("modem gone while listening: the click still ends") << true << 1;
    QTest::newRow("port never opened: the click does nothing") << false << 0;
}

void LinkLossTest::bandClickWhileTheModemIsGone()
{
    QFETCH(bool, opened);
    QFETCH(int, ends);
    PtyPair modem;
    if (opened) {
        Module2::OpenPort(QStringLiteral("COM") + modem.slavePath());
        modem.closeMaster();
        Module2::ReadPort();
        QVERIFY(Module2::PortLost());
    } else {
        Module2::OpenPort(QStringLiteral("COM/dev/ringwarden-no-modem"));
    }
    // A ring has put the band up.
    for (const char* text : { "OK", "", "RING" })
        m_alert->setReceivedText(QString::fromLatin1(text));
    Visual* band = m_alert->visual();
    QVERIFY(band);
    try {
        QTest::mouseClick(band->picScr, Qt::LeftButton, {}, QPoint(10, 10));
    } catch (const ProgramEnded&) { }
    QCOMPARE(m_runtime->programEnd.count(), ends);
}

void LinkLossTest::portHeldByAnotherProcessIsInvalidNamingIt()
{
    PtyPair pty;
    // Another program that has the port open, without any lock.
    QProcess other;
    other.start(QStringLiteral("/bin/sh"),
        { QStringLiteral("-c"), QStringLiteral("exec sleep 30 <>") + pty.slavePath() });
    QVERIFY(other.waitForStarted());
    const auto stop = qScopeGuard([&] {
        other.kill();
        other.waitForFinished();
    });
    const QString held = QStringLiteral("/proc/%1/fd/0").arg(other.processId());
    QTRY_COMPARE(QFile::symLinkTarget(held), pty.slavePath());
    QTRY_COMPARE(QFile(QStringLiteral("/proc/%1/comm").arg(other.processId())).exists(), true);

    const QString name = QStringLiteral("COM") + pty.slavePath();
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            m_runtime->messageBox.clear();
            Module2::OpenPort(name);
            return m_runtime->messageBox.notices().size() == 1
                && m_runtime->messageBox.notices().first().detail.contains(
                    QStringLiteral("in use by sleep (pid %1)").arg(other.processId()));
        }(),
        5000);
    QCOMPARE(m_runtime->messageBox.texts(), QStringList { name + " invalid" });
    QCOMPARE(Module2::PortHandle, Module2::kInvalidHandle);

    // Once the other program lets go, the port is ours.
    other.kill();
    other.waitForFinished();
    m_runtime->messageBox.clear();
    Module2::OpenPort(name);
    QVERIFY(m_runtime->messageBox.notices().isEmpty());
    QVERIFY(Module2::PortIsOpen());
}

void LinkLossTest::holderIsNamedWhereItCanBeSeen_data()
{
    // A process table and udev records of our own making: process 77 with
    // the device among its open files, or process 812 (ModemManager, whose
    // files we may not read) and what udev says about the device.
    QTest::addColumn<QString>("holder");
    QTest::addColumn<QByteArray>("udev");
    QTest::addColumn<QString>("named");
    QTest::newRow("a terminal program")
        << "minicom" << QByteArray() << "in use by minicom (pid 77)";
    QTest::newRow("ModemManager will probe it")
        << "ModemManager" << QByteArray("E:ID_BUS=usb\nE:ID_MM_CANDIDATE=1\n")
        << "in use by ModemManager (pid 812)";
    QTest::newRow("ModemManager told to leave it")
        << "ModemManager"
        << QByteArray("E:ID_BUS=usb\nE:ID_MM_CANDIDATE=1\nE:ID_MM_DEVICE_IGNORE=1\n") << "";
    // udev marks every terminal a candidate, but ModemManager leaves built-in
    // serial ports alone unless told otherwise.
    QTest::newRow("ModemManager and a built-in serial port")
        << "ModemManager" << QByteArray("E:ID_MM_CANDIDATE=1\n") << "";
    QTest::newRow("ModemManager, no udev record") << "ModemManager" << QByteArray() << "";
}

void LinkLossTest::holderIsNamedWhereItCanBeSeen()
{
    QFETCH(QString, holder);
    QFETCH(QByteArray, udev);
    QFETCH(QString, named);
    PtyPair pty;
    struct stat device
    {
    };
    QCOMPARE(::stat(pty.slavePath().toLocal8Bit().constData(), &device), 0);
    const QString proc = m_runtime->home() + QStringLiteral("/proc");
    const QString records = m_runtime->home() + QStringLiteral("/udev");
    const QString pid = holder == QLatin1String("minicom") ? "77" : "812";
    QVERIFY(QDir().mkpath(proc + '/' + pid));
    QVERIFY(QDir().mkpath(records));
    QFile comm(proc + '/' + pid + QStringLiteral("/comm"));
    QVERIFY(comm.open(QIODevice::WriteOnly));
    comm.write(holder.toLatin1() + '\n');
    comm.close();
    if (pid == QLatin1String("77")) {
        QVERIFY(QDir().mkpath(proc + QStringLiteral("/77/fd")));
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), proc + QStringLiteral("/77/fd/0")));
        QVERIFY(QFile::link(pty.slavePath(), proc + QStringLiteral("/77/fd/3")));
    }
    if (!udev.isEmpty()) {
        QFile record(records
            + QStringLiteral("/c%1:%2").arg(major(device.st_rdev)).arg(minor(device.st_rdev)));
        QVERIFY(record.open(QIODevice::WriteOnly));
        record.write(udev);
    }
    QCOMPARE(PortUse::holder(device.st_rdev, proc, records), named);
}

void LinkLossTest::onlyTerminalsAreOpened_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("pseudo-terminal multiplexer") << "/dev/ptmx"
                                                 << "multiplexer";
    QTest::newRow("console") << "/dev/console"
                             << "console";
    QTest::newRow("own terminal") << "/dev/tty"
                                  << "own terminal";
    QTest::newRow("FIFO") << "fifo"
                          << "FIFO";
    QTest::newRow("regular file") << "file"
                                  << "regular file";
}

void LinkLossTest::onlyTerminalsAreOpened()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QString path = kind;
    int lockHolder = -1;
    const auto release = qScopeGuard([&] {
        if (lockHolder >= 0)
            ::close(lockHolder);
    });
    const QByteArray content = "not a modem\n";
    if (!kind.startsWith('/')) {
        path = m_runtime->home() + QLatin1Char('/') + kind;
        if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(path.toLocal8Bit().constData(), 0600), 0);
        else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        // Held locked here: a program that tried to lock it would be told
        // "in use" instead of what it is.
        lockHolder = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(lockHolder >= 0);
        QCOMPARE(::flock(lockHolder, LOCK_EX | LOCK_NB), 0);
    }
    const QString name = QStringLiteral("COM") + path;
    Module2::OpenPort(name);
    QCOMPARE(Module2::PortHandle, Module2::kInvalidHandle);
    QCOMPARE(m_runtime->messageBox.texts(), QStringList { name + " invalid" });
    const QString detail = m_runtime->messageBox.notices().first().detail;
    QVERIFY2(detail.contains(reason), qPrintable(detail));
    QVERIFY2(!detail.contains(QStringLiteral("in use")), qPrintable(detail));
    if (kind == QLatin1String("file")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
    }
}

void LinkLossTest::closingPutsTheTerminalSettingsBack()
{
    PtyPair pty;
    // The device as another tool left it: 9600 baud, line editing, echo.
    const int probe = ::open(pty.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    QVERIFY(probe >= 0);
    const auto closeProbe = qScopeGuard([&] { ::close(probe); });
    termios before {};
    QCOMPARE(::tcgetattr(probe, &before), 0);
    before.c_lflag |= ICANON | ECHO;
    before.c_cflag &= ~CRTSCTS;
    QCOMPARE(::cfsetspeed(&before, B9600), 0);
    QCOMPARE(::tcsetattr(probe, TCSANOW, &before), 0);
    QCOMPARE(::tcgetattr(probe, &before), 0);

    Module2::OpenPort(QStringLiteral("COM") + pty.slavePath());
    QVERIFY(m_runtime->messageBox.notices().isEmpty());
    termios during {};
    QCOMPARE(::tcgetattr(probe, &during), 0);
    QCOMPARE(::cfgetospeed(&during), speed_t(B57600));
    QCOMPARE(during.c_lflag & ICANON, tcflag_t(0));

    Module2::ClosePort();
    termios after {};
    QCOMPARE(::tcgetattr(probe, &after), 0);
    QCOMPARE(::cfgetospeed(&after), speed_t(B9600));
    QCOMPARE(after.c_lflag, before.c_lflag);
    QCOMPARE(after.c_iflag, before.c_iflag);
    QCOMPARE(after.c_cflag, before.c_cflag);
    QCOMPARE(after.c_oflag, before.c_oflag);
}

QTEST_MAIN(LinkLossTest)
#include "tst_linkloss.moc"
