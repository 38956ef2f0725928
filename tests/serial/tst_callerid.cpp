// Caller ID from every kind of modem: the command a modem takes is found
// after the set-up, caller-ID mode is renewed after every call and every
// reconnect, and a caller reported before the first ring, or together with
// the reply to one of our commands, still reaches the band, the call
// listeners and the call log. The simulator plays the modem, reached as
// COM4, ringing on the test's clock, with the Alert window listening.

#include "Alert.h"
#include "CallLog.h"
#include "CommandReply.h"
#include "Fakes.h"
#include "LoadedAlert.h"
#include "Logging.h"
#include "ModemLink.h"
#include "ModemSim.h"
#include "Module2.h"
#include "RecordingMediaPlayer.h"
#include "TextBox.h"
#include "Visual.h"

#include <QtTest>
#include <optional>

namespace {

using Command = ModemSim::CallerIdCommand;

const QString kRinging = QStringLiteral("The phone is ringing");

// Hands every pass on to the Alert window and notes what the user sees:
// the band's text per call, and the ring count and caption of each pass.
class Watcher final : public ModemLink::Listener, public CallListener
{
public:
    Watcher(Alert& alert, const TestClock& clock)
        : m_alert(alert)
        , m_clock(clock)
    {
        m_alert.addCallListener(this);
    }
    ~Watcher() override { m_alert.removeCallListener(this); }

    struct Pass
    {
        double time;
        QString text;
        int count;
        QString caption;
    };
    QList<Pass> passes;
    // By call: the band's text at the call's last pass, and the caller the
    // call listeners (the desktop notification) last heard.
    QMap<int, QString> band;
    QMap<int, QString> heard;
    QStringList checks;

    void setReceivedText(const QString& text) override
    {
        m_alert.setReceivedText(text);
        passes.append(
            { m_clock.now(), text, m_alert.Text1->text().toInt(), m_alert.windowTitle() });
        if (m_alert.callInProgress() && m_alert.visual())
            band[m_alert.currentCall().serial] = m_alert.visual()->Text1->text();
    }
    void setNmbrPos(qint16 position) override { m_alert.setNmbrPos(position); }
    void linkLost() override { m_alert.linkLost(); }
    void linkRestored() override { m_alert.linkRestored(); }
    void noAnswer(const QString& portName) override { m_alert.noAnswer(portName); }
    void callEnded() override { m_alert.callEnded(); }
    void callerIdChecked(const QString& command, const QStringList& tried) override
    {
        checks << command + QLatin1Char('/') + tried.join(QLatin1Char(' '));
        m_alert.callerIdChecked(command, tried);
    }

    void ringReaction(const Call& call) override { heard[call.serial] = call.caller; }
    void callerIdentified(const Call& call) override { heard[call.serial] = call.caller; }

    // The last pass before `time`.
    const Pass* before(double time) const
    {
        const Pass* found = nullptr;
        for (const Pass& pass : passes) {
            if (pass.time < time)
                found = &pass;
        }
        return found;
    }

private:
    Alert& m_alert;
    const TestClock& m_clock;
};

// The numbers in the call log, in order.
QStringList loggedNumbers()
{
    QFile log(CallLog::path());
    QStringList numbers;
    if (!log.open(QIODevice::ReadOnly))
        return numbers;
    for (const QByteArray& record : log.readAll().split('\n')) {
        if (!record.trimmed().isEmpty())
            numbers << QString::fromLatin1(record.mid(CallLog::kNumberColumn - 1).trimmed());
    }
    return numbers;
}

// The command lines a simulator heard after its five set-up strings.
QStringList commandsAfterSetUp(const ModemSim& sim)
{
    QStringList commands;
    for (const ModemSim::LogEntry& entry : sim.log()) {
        if (entry.kind == ModemSim::Kind::Cmd)
            commands << QString::fromStdString(entry.data);
    }
    return commands.mid(5);
}

} // namespace

class CallerIdTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void repliesAreTakenOutOfWhatTheModemSays_data();
    void repliesAreTakenOutOfWhatTheModemSays();
    void everyKindOfModemShowsItsCallers_data();
    void everyKindOfModemShowsItsCallers();
    void aRingThatComesWithTheReplyRings();
    void callerIdDuringTheTriesIsKept();
    void aModemBackFromALossIsAskedAgain_data();
    void aModemBackFromALossIsAskedAgain();

private:
    // Options for a simulator behind COM4 that rings on the test's clock.
    ModemSim::Options simulator(Command kind) const;
    // Serves `sim` (while there is one) every tenth of a second until
    // `until`; `afterEach` runs after each round.
    void serve(std::optional<ModemSim>& sim, double until, std::function<void()> afterEach = {});
    // Sets the modem up, then listens until the clock reaches `until`.
    void listenUntil(ModemLink::Listener& listener, double until);
    void callAt(std::optional<ModemSim>& sim, double time, ModemSim::CallerId caller);

    std::unique_ptr<TestRuntime> m_runtime;
    std::unique_ptr<Alert> m_alert;
};

void CallerIdTest::init()
{
    m_runtime = std::make_unique<TestRuntime>();
    QVERIFY(QDir().mkpath(m_runtime->configHome() + QStringLiteral("/ringwarden/ports")));
    m_alert = loadedAlert();
}

void CallerIdTest::cleanup()
{
    Module2::ClosePort();
    m_alert.reset();
    m_runtime.reset();
}

ModemSim::Options CallerIdTest::simulator(Command kind) const
{
    ModemSim::Options options;
    options.linkPath
        = (m_runtime->configHome() + QStringLiteral("/ringwarden/ports/COM4")).toStdString();
    options.callerIdCommand = kind;
    const TestClock* clock = &m_runtime->clock;
    options.clock = [clock] {
        return std::chrono::steady_clock::time_point(
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(clock->now())));
    };
    return options;
}

void CallerIdTest::serve(
    std::optional<ModemSim>& sim, double until, std::function<void()> afterEach)
{
    for (double t = 0.05; t < until; t += 0.1) {
        m_runtime->clock.at(t, [&sim, afterEach] {
            if (!sim)
                return;
            sim->service(0);
            if (afterEach)
                afterEach();
        });
    }
}

void CallerIdTest::listenUntil(ModemLink::Listener& listener, double until)
{
    ModemLink::SetUpModem(QStringLiteral("COM4"));
    m_runtime->clock.at(until, [] { Runtime::End(); });
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, ModemLink::Listen(listener));
}

void CallerIdTest::callAt(std::optional<ModemSim>& sim, double time, ModemSim::CallerId caller)
{
    m_runtime->clock.at(time, [&sim, caller] { sim->startCall(caller, 2); });
}

void CallerIdTest::repliesAreTakenOutOfWhatTheModemSays_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("rest");
    const QString ring = QStringLiteral("\r\nRING\r\n");
    const QString callerId = QStringLiteral("\r\nDATE = 1208\r\nNMBR = 01632 960123\r\n\r\n");
    QTest::newRow("OK") << "\r\nOK\r\n"
                        << "OK"
                        << "";
    QTest::newRow("ERROR") << "\r\nERROR\r\n"
                           << "ERROR"
                           << "";
    QTest::newRow("numeric OK") << "0\r"
                                << "OK"
                                << "";
    QTest::newRow("numeric ERROR") << "4\r"
                                   << "ERROR"
                                   << "";
    QTest::newRow("echoed") << "AT#CID=1\r\r\nOK\r\n"
                            << "OK"
                            << "";
    QTest::newRow("RING after the reply") << "\r\nOK\r\n" + ring << "OK" << ring;
    QTest::newRow("RING before the reply") << ring + "\r\nERROR\r\n"
                                           << "ERROR" << ring;
    QTest::newRow("caller ID around the reply")
        << ring + "\r\nOK\r\n" + callerId << "OK" << ring + callerId;
    QTest::newRow("a number 0 is no result code") << "\r\nNMBR = 0\r\n"
                                                  << ""
                                                  << "\r\nNMBR = 0\r\n";
    QTest::newRow("no reply yet") << ring << "" << ring;
    QTest::newRow("a code not yet ended") << "\r\nOK"
                                          << ""
                                          << "\r\nOK";
    QTest::newRow("only line ends left") << "\r\n\r\nOK\r\n\r\n"
                                         << "OK"
                                         << "";
}

void CallerIdTest::repliesAreTakenOutOfWhatTheModemSays()
{
    QFETCH(QString, text);
    QFETCH(QString, code);
    QFETCH(QString, rest);
    const CommandReply::Parted parted = CommandReply::part(text, QStringLiteral("AT#CID=1"));
    QCOMPARE(parted.code, code);
    QCOMPARE(parted.rest, rest);
}

void CallerIdTest::everyKindOfModemShowsItsCallers_data()
{
    QTest::addColumn<Command>("kind");
    QTest::addColumn<bool>("forgets");
    QTest::addColumn<bool>("first");
    // What the modem heard after its set-up: the commands tried after the
    // first pass, then the one it took again after each call.
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<bool>("numbers");

    const QString vcid = QStringLiteral("at+vcid=1");
    const QString cid = QStringLiteral("AT#CID=1");
    const QString ccid = QStringLiteral("AT%CCID=1");
    QTest::newRow("takes at+vcid=1")
        << Command::Vcid << false << false << QStringList { vcid, vcid } << true;
    QTest::newRow("takes AT#CID=1")
        << Command::Cid << false << false << QStringList { cid, cid, cid } << true;
    QTest::newRow("takes AT%CCID=1")
        << Command::Ccid << false << false << QStringList { cid, ccid, ccid, ccid } << true;
    QTest::newRow("takes none") << Command::None << false << false << QStringList { cid, ccid }
                                << false;
    QTest::newRow("forgets caller ID after each call")
        << Command::Vcid << true << false << QStringList { vcid, vcid } << true;
    QTest::newRow("caller ID before the first ring, no name")
        << Command::Vcid << false << true << QStringList { vcid, vcid } << true;
}

void CallerIdTest::everyKindOfModemShowsItsCallers()
{
    QFETCH(Command, kind);
    QFETCH(bool, forgets);
    QFETCH(bool, first);
    QFETCH(QStringList, commands);
    QFETCH(bool, numbers);
    ModemSim::Options options = simulator(kind);
    options.forgetCallerId = forgets;
    options.callerIdFirst = first;
    std::optional<ModemSim> sim(std::in_place, options);
    serve(sim, 60.0);

    // Two calls, each two rings 6 s apart; lines before the first ring come
    // from the UK, in groups and without a name.
    const ModemSim::CallerId john { first ? "01632 960123" : "5551234", "JOHN DOE", {}, {} };
    const ModemSim::CallerId jane { first ? "01632 960456" : "5550002", "JANE ROE", {}, {} };
    const double firstCall = 14.0;
    callAt(sim, firstCall, john);
    callAt(sim, 36.0, jane);
    Watcher watcher(*m_alert, m_runtime->clock);
    listenUntil(watcher, 60.0);

    // Listening as with any modem: the set-up's replies were change 1,
    // their clearing change 2; the replies to the commands tried counted
    // for nothing.
    const Watcher::Pass* listening = watcher.before(firstCall);
    QVERIFY(listening);
    QCOMPARE(listening->count, 2);
    QCOMPARE(listening->caption, QStringLiteral("Listening for calls"));
    for (const Watcher::Pass& pass : watcher.passes.mid(1))
        QVERIFY2(
            !pass.text.contains(QLatin1String("OK")) && !pass.text.contains(QLatin1String("ERROR")),
            qPrintable(Logging::escaped(pass.text)));

    // The fallback and the renewals, as the modem heard them.
    QCOMPARE(commandsAfterSetUp(*sim), commands);

    // Each call's own caller on the band, to the listeners and in the log.
    const auto describe = [&](const ModemSim::CallerId& caller) {
        return QString::fromStdString(caller.number + (first ? "" : " " + caller.name));
    };
    const QString johnText = numbers ? kRinging + ": " + describe(john) : kRinging;
    const QString janeText = numbers ? kRinging + ": " + describe(jane) : kRinging;
    QCOMPARE(watcher.band.keys(), QList<int>({ 1, 2 }));
    QCOMPARE(watcher.band.value(1), johnText);
    QCOMPARE(watcher.band.value(2), janeText);
    QCOMPARE(watcher.heard.value(1), numbers ? describe(john) : QString());
    QCOMPARE(watcher.heard.value(2), numbers ? describe(jane) : QString());
    QCOMPARE(loggedNumbers(),
        numbers ? QStringList(
            { QString::fromStdString(john.number), QString::fromStdString(jane.number) })
                : QStringList());

    // A modem that takes none is named once, without holding the loop, and
    // the window says so above its output; the alert itself went on.
    if (numbers) {
        QCOMPARE(m_runtime->messageBox.notices().size(), 0);
        QVERIFY(m_alert->noCallerId->isHidden());
    } else {
        QCOMPARE(m_runtime->messageBox.texts(),
            QStringList { "This modem does not report callers' numbers" });
        QVERIFY(!m_runtime->messageBox.notices().first().waited);
        QVERIFY(m_runtime->messageBox.notices().first().detail.contains(
            QStringLiteral("at+vcid=1, AT#CID=1, AT%CCID=1")));
        QVERIFY(!m_alert->noCallerId->isHidden());
        QVERIFY(m_alert->noCallerId->text().contains(QStringLiteral("AT%CCID=1")));
    }
    QCOMPARE(watcher.checks.size(), kind == Command::Vcid ? 0 : 1);
}

void CallerIdTest::aRingThatComesWithTheReplyRings()
{
    std::optional<ModemSim> sim(std::in_place, simulator(Command::Vcid));
    // The next call's first RING follows the OK to the renewed command at
    // once, so both are in the same read.
    bool rung = false;
    serve(sim, 60.0, [&] {
        if (!rung && commandsAfterSetUp(*sim).size() == 1) {
            rung = true;
            sim->writeRaw("\r\nRING\r\n");
        }
    });
    callAt(sim, 20.0, { "5551234", "JOHN DOE", {}, {} });
    Watcher watcher(*m_alert, m_runtime->clock);
    listenUntil(watcher, 50.0);

    QVERIFY(rung);
    // The RING is the text of the pass after the renewal, without the OK,
    // and is a ring reaction of a call of its own.
    QStringList texts;
    for (const Watcher::Pass& pass : watcher.passes)
        texts << pass.text;
    const qsizetype ring = texts.lastIndexOf(QStringLiteral("\r\nRING\r\n"));
    QVERIFY2(ring > 0, qPrintable(Logging::escaped(texts.join('|'))));
    QVERIFY(watcher.passes.at(ring).count > watcher.passes.at(ring - 1).count);
    QCOMPARE(watcher.passes.at(ring).caption, QStringLiteral("The Phone is ringing now"));
    QCOMPARE(m_alert->currentCall().serial, 2);
    for (const QString& text : texts.mid(1))
        QVERIFY(!text.contains(QLatin1String("OK")));
}

void CallerIdTest::callerIdDuringTheTriesIsKept()
{
    // A modem that takes AT%CCID=1 reports a caller, before the first ring
    // as in the UK, while the commands are tried after the first pass: the
    // caller comes right after the ERROR to AT#CID=1.
    std::optional<ModemSim> sim(std::in_place, simulator(Command::Ccid));
    serve(sim, 40.0);
    bool early = false;
    m_runtime->clock.at(10.25, [&] {
        early = commandsAfterSetUp(*sim) == QStringList { "AT#CID=1" };
        sim->writeRaw("\r\nDATE = 1208\r\nTIME = 1405\r\nNMBR = 01632 960123\r\n\r\n");
    });
    m_runtime->clock.at(12.25, [&] { sim->writeRaw("\r\nRING\r\n"); });
    Watcher watcher(*m_alert, m_runtime->clock);
    listenUntil(watcher, 30.0);

    QVERIFY(early);
    QCOMPARE(commandsAfterSetUp(*sim).mid(0, 2), QStringList({ "AT#CID=1", "AT%CCID=1" }));
    // The caller was the second change (no ring yet), the RING the third.
    QVERIFY(watcher.passes.size() >= 3);
    QVERIFY(watcher.passes.at(1).text.contains(QLatin1String("NMBR = 01632 960123")));
    QCOMPARE(watcher.passes.at(1).count, 2);
    QCOMPARE(watcher.passes.at(2).text, QStringLiteral("\r\nRING\r\n"));
    QCOMPARE(watcher.passes.at(2).count, 3);
    QCOMPARE(watcher.band.value(1), kRinging + QStringLiteral(": 01632 960123"));
    QCOMPARE(loggedNumbers(), QStringList { "01632 960123" });
}

void CallerIdTest::aModemBackFromALossIsAskedAgain_data()
{
    QTest::addColumn<Command>("kind");
    QTest::addColumn<QStringList>("commands");
    // The command taken before is tried first.
    QTest::newRow("takes AT#CID=1") << Command::Cid << QStringList { "AT#CID=1" };
    QTest::newRow("takes AT%CCID=1") << Command::Ccid << QStringList { "AT%CCID=1" };
}

void CallerIdTest::aModemBackFromALossIsAskedAgain()
{
    QFETCH(Command, kind);
    QFETCH(QStringList, commands);
    const ModemSim::Options options = simulator(kind);
    std::optional<ModemSim> sim(std::in_place, options);
    serve(sim, 60.0);
    // Unplugged, and back a few seconds later (powered down: caller ID off).
    m_runtime->clock.at(15.0, [&] { sim.reset(); });
    m_runtime->clock.at(19.0, [&] { sim.emplace(options); });
    callAt(sim, 42.0, { "5551234", "JOHN DOE", {}, {} });
    Watcher watcher(*m_alert, m_runtime->clock);
    listenUntil(watcher, 50.0);

    QVERIFY(sim);
    QCOMPARE(commandsAfterSetUp(*sim), commands);
    QVERIFY(sim->callerIdOn());
    QCOMPARE(watcher.band.value(1), kRinging + QStringLiteral(": 5551234 JOHN DOE"));
    QCOMPARE(m_alert->watchState(), WatchState::Listening);
    // Told once, when the first modem was found to take it.
    QCOMPARE(watcher.checks.size(), 1);
}

QTEST_MAIN(CallerIdTest)
#include "tst_callerid.moc"
