// Tests of the modem simulator, driven through the slave side of its pty the way the program
// drives a serial port. Waits have generous deadlines and assertions look at order and counts,
// never at how long something took.

#include "ModemSim.h"

#include <QtTest>
#include <fcntl.h>
#include <functional>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr auto kDeadline = 5s;
const std::string kSetup[] = { "ATZ\r", "AT&FE0V1W2&D2&C1S0=0-C0\r",
    "ATS7=60\\T0L1M1\\N3-J1%C1\"H3\\Q3B0N1X3\r", "at+vcid=1\r", "ATS0=0\r" };
const std::string kOk = "\r\nOK\r\n";

// Serves the simulator in short rounds until the condition holds or the deadline passes.
bool serveUntil(ModemSim& sim, const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (!condition() && std::chrono::steady_clock::now() < deadline)
        sim.service(5);
    return condition();
}

std::vector<std::string> events(const ModemSim& sim, std::string_view prefix = {})
{
    std::vector<std::string> found;
    for (const ModemSim::LogEntry& e : sim.log()) {
        if (e.kind == ModemSim::Kind::Event && std::string_view(e.data).starts_with(prefix))
            found.push_back(e.data);
    }
    return found;
}

// The events of a call, in order: "call ...", "ring n", "would-answer", "call-end".
std::vector<std::string> callEvents(const ModemSim& sim)
{
    std::vector<std::string> found;
    for (const std::string& e : events(sim)) {
        if (e.starts_with("call") || e.starts_with("ring") || e == "would-answer")
            found.push_back(e);
    }
    return found;
}

int count(const std::string& text, const std::string& word)
{
    int n = 0;
    for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++n;
    return n;
}

// The program's end of the line: the slave opened as the serial layer opens it.
class Line
{
public:
    explicit Line(const std::string& path, bool raw = true)
        : m_fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        termios settings {};
        if (raw && m_fd >= 0 && tcgetattr(m_fd, &settings) == 0) {
            cfmakeraw(&settings);
            tcsetattr(m_fd, TCSANOW, &settings);
        }
    }
    ~Line() { close(); }
    int fd() const { return m_fd; }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    bool send(std::string_view bytes)
    {
        return ::write(m_fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    }

    // Serves the simulator until what arrived satisfies `done` (or the deadline passes), then a
    // few rounds more so that stray extra bytes show up too. Returns everything that arrived.
    std::string collect(ModemSim& sim, const std::function<bool(const std::string&)>& done)
    {
        std::string got;
        auto pump = [&] {
            sim.service(5);
            char buffer[512];
            for (ssize_t n; (n = ::read(m_fd, buffer, sizeof buffer)) > 0;)
                got.append(buffer, std::size_t(n));
        };
        const auto deadline = std::chrono::steady_clock::now() + kDeadline;
        while (!done(got) && std::chrono::steady_clock::now() < deadline)
            pump();
        for (int i = 0; i < 5; ++i)
            pump();
        return got;
    }
    std::string collect(ModemSim& sim, std::size_t size)
    {
        return collect(sim, [size](const std::string& got) { return got.size() >= size; });
    }
    // Sends a command line and returns the reply, up to and including its OK.
    std::string command(ModemSim& sim, const std::string& line)
    {
        send(line);
        return collect(sim, [&](const std::string& got) { return got.ends_with(kOk); });
    }

private:
    int m_fd = -1;
};

ModemSim::CallerId fixedTime(ModemSim::CallerId caller)
{
    caller.date = "0321";
    caller.time = "1405";
    return caller;
}

} // namespace

class TestModemSim : public QObject
{
    Q_OBJECT

private slots:
    void setupStrings_data();
    void setupStrings();
    void replies_data();
    void replies();
    void callerIdBlock_data();
    void callerIdBlock();
    void noCallerIdUnlessEnabled_data();
    void noCallerIdUnlessEnabled();
    void unformattedCallerId();
    void eachKindTakesItsOwnCallerIdCommand_data();
    void eachKindTakesItsOwnCallerIdCommand();
    void forgetfulModemDropsCallerIdAfterACall();
    void callerIdTiming_data();
    void callerIdTiming();
    void ringCadence();
    void autoAnswerIsOnlyLogged();
    void logRecordsTraffic();
    void reopenKeepsServing();
    void linkFollowsRenewedPty();
};

// The program sends its five set-up strings without reading in between; the replies must be the
// same whether it reads after each one or only once at the end.
void TestModemSim::setupStrings_data()
{
    QTest::addColumn<bool>("readEachReply");
    QTest::newRow("reply read after each string") << true;
    QTest::newRow("replies read together") << false;
}

void TestModemSim::setupStrings()
{
    QFETCH(bool, readEachReply);
    // Echo is on at power-on, so the first two strings come back before their OK; the second
    // turns it off.
    const std::string expected[] = { kSetup[0] + kOk, kSetup[1] + kOk, kOk, kOk, kOk };
    ModemSim sim;
    Line line(sim.slavePath());
    QVERIFY(line.fd() >= 0);

    std::string all;
    for (int i = 0; i < 5; ++i) {
        QVERIFY(line.send(kSetup[i]));
        all += expected[i];
        if (readEachReply)
            QCOMPARE(line.collect(sim, expected[i].size()), expected[i]);
    }
    if (!readEachReply)
        QCOMPARE(line.collect(sim, all.size()), all);

    QVERIFY(!sim.echoOn());
    QVERIFY(sim.callerIdOn());
    QCOMPARE(sim.registerValue(0), 0);
    QCOMPARE(sim.registerValue(7), 60);
    QCOMPARE(sim.setting("&D"), 2);
    QCOMPARE(sim.setting("\\N"), 3);
    QCOMPARE(sim.setting("\"H"), 3);
    QCOMPARE(sim.setting("X"), 3);
}

// Input after ATE0, and the exact reply.
void TestModemSim::replies_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("reply");
    const QByteArray ok = "\r\nOK\r\n";
    const QByteArray error = "\r\nERROR\r\n";
    QTest::newRow("unknown command") << QByteArray("ATY\r") << error;
    QTest::newRow("value out of range") << QByteArray("ATE2\r") << error;
    QTest::newRow("no such register") << QByteArray("ATS100=1\r") << error;
    QTest::newRow("register value too big") << QByteArray("ATS7=256\r") << error;
    QTest::newRow("register set and read") << QByteArray("ATS7=60S7?\r") << "\r\n060\r\n" + ok;
    QTest::newRow("caller ID off at start") << QByteArray("AT+VCID?\r") << "\r\n+VCID: 0\r\n" + ok;
    QTest::newRow("caller ID set and read")
        << QByteArray("at+vcid=1;+VCID?\r") << "\r\n+VCID: 1\r\n" + ok;
    QTest::newRow("caller ID range") << QByteArray("AT+VCID=?\r") << "\r\n+VCID: (0-2)\r\n" + ok;
    QTest::newRow("caller ID bad value") << QByteArray("AT+VCID=3\r") << error;
    QTest::newRow("V.42bis option") << QByteArray("AT\"H3\r") << ok;
    QTest::newRow("numeric results") << QByteArray("ATV0\rATY\r") << QByteArray("0\r4\r");
    QTest::newRow("error keeps earlier commands")
        << QByteArray("ATV0Y\rAT\r") << QByteArray("4\r0\r");
    QTest::newRow("quiet") << QByteArray("ATQ1\rATY\rATQ0\r") << ok;
    QTest::newRow("not a command line") << QByteArray("hello\rAT\r") << ok;
    QTest::newRow("line feeds ignored") << QByteArray("\nA\nT\r\n") << ok;
    QTest::newRow("backspace") << QByteArray("ATE9\b0\r") << ok;
    QTest::newRow("reset turns echo on") << QByteArray("ATZ\rAT\r") << ok + "AT\r" + ok;
    QTest::newRow("answer finds no carrier")
        << QByteArray("ATA\r") << QByteArray("\r\nNO CARRIER\r\n");
    QTest::newRow("identification")
        << QByteArray("ATI\r") << "\r\nRINGWARDEN MODEM SIMULATOR\r\n" + ok;
}

void TestModemSim::replies()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, reply);
    ModemSim sim;
    Line line(sim.slavePath());
    QCOMPARE(line.command(sim, "ATE0\r"), "ATE0\r" + kOk);
    QVERIFY(line.send(input.toStdString()));
    QCOMPARE(QByteArray::fromStdString(line.collect(sim, std::size_t(reply.size()))), reply);
}

void TestModemSim::callerIdBlock_data()
{
    QTest::addColumn<bool>("compact");
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("lines");
    QTest::newRow("named caller")
        << false << QByteArray("5551234") << QByteArray("JOHN DOE")
        << QByteArray("DATE = 0321\r\nTIME = 1405\r\nNMBR = 5551234\r\nNAME = JOHN DOE\r\n");
    QTest::newRow("no name") << false << QByteArray("5551234") << QByteArray()
                             << QByteArray("DATE = 0321\r\nTIME = 1405\r\nNMBR = 5551234\r\n");
    QTest::newRow("withheld") << false << QByteArray("P") << QByteArray("P")
                              << QByteArray(
                                     "DATE = 0321\r\nTIME = 1405\r\nNMBR = P\r\nNAME = P\r\n");
    QTest::newRow("out of area") << false << QByteArray("O") << QByteArray("O")
                                 << QByteArray(
                                        "DATE = 0321\r\nTIME = 1405\r\nNMBR = O\r\nNAME = O\r\n");
    QTest::newRow("without blanks")
        << true << QByteArray("5551234") << QByteArray("JOHN DOE")
        << QByteArray("DATE=0321\r\nTIME=1405\r\nNMBR=5551234\r\nNAME=JOHN DOE\r\n");
}

// The first ring carries the caller-ID block; later rings are bare.
void TestModemSim::callerIdBlock()
{
    QFETCH(bool, compact);
    QFETCH(QByteArray, number);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, lines);
    ModemSim sim;
    sim.setCompactCallerId(compact);
    Line line(sim.slavePath());
    line.command(sim, "ATE0+VCID=1\r");
    sim.startCall(fixedTime({ number.toStdString(), name.toStdString(), {}, {} }), 2, 10ms);

    const QByteArray expected = "\r\nRING\r\n\r\n" + lines + "\r\n\r\nRING\r\n";
    QCOMPARE(QByteArray::fromStdString(line.collect(sim, std::size_t(expected.size()))), expected);
}

void TestModemSim::noCallerIdUnlessEnabled_data()
{
    QTest::addColumn<QByteArray>("setup");
    QTest::newRow("never enabled") << QByteArray("ATE0\r");
    QTest::newRow("switched off") << QByteArray("ATE0+VCID=1\rAT+VCID=0\r");
    QTest::newRow("reset by ATZ") << QByteArray("AT+VCID=1\rATZ\rATE0\r");
    QTest::newRow("factory settings") << QByteArray("ATE0+VCID=1&FE0\r");
}

void TestModemSim::noCallerIdUnlessEnabled()
{
    QFETCH(QByteArray, setup);
    ModemSim sim;
    Line line(sim.slavePath());
    QVERIFY(line.send(setup.toStdString()));
    const int lines = int(setup.count('\r'));
    line.collect(sim, [&](const std::string& got) { return count(got, "OK") == lines; });

    sim.startCall(fixedTime({}), 1, 10ms);
    QCOMPARE(line.collect(sim, 8), std::string("\r\nRING\r\n"));
}

// +VCID=2 sends the caller's data as one MDMF message in hex: type 80, length, parameters and
// a checksum that brings the byte sum to 0.
void TestModemSim::unformattedCallerId()
{
    ModemSim sim;
    Line line(sim.slavePath());
    line.command(sim, "ATE0+VCID=2\r");
    sim.startCall(fixedTime({}), 1, 10ms);
    const std::string got = line.collect(
        sim, [](const std::string& s) { return s.ends_with("\r\n\r\n") && s.size() > 12; });

    const std::string prefix = "\r\nRING\r\n\r\nMESG = ";
    QVERIFY2(got.starts_with(prefix), got.c_str());
    const QByteArray message
        = QByteArray::fromHex(QByteArray::fromStdString(got.substr(prefix.size())).trimmed());
    QCOMPARE(quint8(message.at(0)), quint8(0x80));
    QCOMPARE(message.size(), 2 + quint8(message.at(1)) + 1);
    unsigned sum = 0;
    for (char c : message)
        sum += quint8(c);
    QCOMPARE(sum % 256, 0u);
    QVERIFY(message.contains(QByteArray::fromHex("0108") + "03211405"));
    QVERIFY(message.contains(QByteArray::fromHex("0207") + "5551234"));
    QVERIFY(message.contains(QByteArray::fromHex("0708") + "JOHN DOE"));
}

void TestModemSim::eachKindTakesItsOwnCallerIdCommand_data()
{
    using Command = ModemSim::CallerIdCommand;
    QTest::addColumn<Command>("kind");
    QTest::addColumn<QByteArray>("taken");
    QTest::newRow("+VCID") << Command::Vcid << QByteArray("at+vcid=1");
    QTest::newRow("#CID") << Command::Cid << QByteArray("AT#CID=1");
    QTest::newRow("%CCID") << Command::Ccid << QByteArray("AT%CCID=1");
    QTest::newRow("none") << Command::None << QByteArray();
}

// Each kind answers OK to its own caller-ID command alone, and then reports callers.
void TestModemSim::eachKindTakesItsOwnCallerIdCommand()
{
    QFETCH(ModemSim::CallerIdCommand, kind);
    QFETCH(QByteArray, taken);
    ModemSim::Options options;
    options.callerIdCommand = kind;
    ModemSim sim(options);
    Line line(sim.slavePath());
    line.command(sim, "ATE0\r");
    QByteArray replies;
    QByteArray expected;
    for (const QByteArray command : { "at+vcid=1", "AT#CID=1", "AT%CCID=1" }) {
        QVERIFY(line.send((command + '\r').toStdString()));
        const QByteArray reply = command == taken ? "\r\nOK\r\n" : "\r\nERROR\r\n";
        expected += reply;
        replies += QByteArray::fromStdString(line.collect(sim, std::size_t(reply.size())));
    }
    QCOMPARE(replies, expected);
    QCOMPARE(sim.callerIdOn(), !taken.isEmpty());

    sim.startCall(fixedTime({}), 1, 10ms);
    const std::string call
        = line.collect(sim, [&](const std::string&) { return !sim.callInProgress(); });
    QCOMPARE(count(call, "NMBR = 5551234"), taken.isEmpty() ? 0 : 1);
}

// Caller ID switches itself off at the end of each call; sent again, it is on for the next.
void TestModemSim::forgetfulModemDropsCallerIdAfterACall()
{
    ModemSim::Options options;
    options.callerIdCommand = ModemSim::CallerIdCommand::Cid;
    options.forgetCallerId = true;
    ModemSim sim(options);
    Line line(sim.slavePath());
    line.command(sim, "ATE0#CID=1\r");
    std::vector<int> numbers;
    for (const char* between : { "", "AT\r", "AT#CID=1\r" }) {
        if (*between)
            line.command(sim, between);
        sim.startCall(fixedTime({}), 2, 10ms);
        const std::string call
            = line.collect(sim, [&](const std::string&) { return !sim.callInProgress(); });
        QCOMPARE(count(call, "RING"), 2);
        numbers.push_back(count(call, "NMBR"));
    }
    QCOMPARE(numbers, (std::vector<int> { 1, 0, 1 }));
    QCOMPARE(events(sim, "cid-off").size(), 2u);
    QVERIFY(!sim.callerIdOn());
}

void TestModemSim::callerIdTiming_data()
{
    QTest::addColumn<bool>("first");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<QStringList>("expected");
    const QString ring = "\r\nRING\r\n";
    const QString named = "\r\nDATE = 0321\r\nTIME = 1405\r\nNMBR = 5551234\r\nNAME = JOHN "
                          "DOE\r\n\r\n";
    const QString unnamed = "\r\nDATE = 0321\r\nTIME = 1405\r\nNMBR = 5551234\r\n\r\n";
    // What has come at 0, 1.9, 2, 2.9, 3, 6 s into the call.
    QTest::newRow("with the first ring")
        << false << 0 << QStringList { ring + named, "", "", "", "", ring };
    QTest::newRow("3 s after the first ring")
        << false << 3000 << QStringList { ring, "", "", "", named, ring };
    QTest::newRow("before the first ring, without a name")
        << true << 0 << QStringList { unnamed, "", ring, "", "", "" };
}

// When the caller-ID report comes, on the simulator's own clock (here the test's).
void TestModemSim::callerIdTiming()
{
    QFETCH(bool, first);
    QFETCH(int, delayMs);
    QFETCH(QStringList, expected);
    std::chrono::steady_clock::time_point now {};
    ModemSim::Options options;
    options.callerIdFirst = first;
    options.callerIdDelay = std::chrono::milliseconds(delayMs);
    options.clock = [&now] { return now; };
    ModemSim sim(options);
    Line line(sim.slavePath());
    line.command(sim, "ATE0+VCID=1\r");

    QStringList arrived;
    const auto start = now;
    for (const auto at : { 0ms, 1900ms, 2000ms, 2900ms, 3000ms, 6000ms }) {
        now = start + at;
        if (at == 0ms)
            sim.startCall(fixedTime({}), 2, 6s);
        // A few rounds of service: what is due arrives in the first.
        arrived << QString::fromStdString(
            line.collect(sim, [](const std::string&) { return true; }));
    }
    QCOMPARE(arrived, expected);
}

void TestModemSim::ringCadence()
{
    ModemSim sim;
    Line line(sim.slavePath());
    line.command(sim, "ATE0+VCID=1\r");
    const auto interval = 40ms;
    sim.startCall(fixedTime({}), 3, interval);
    QVERIFY(sim.callInProgress());
    const std::string got
        = line.collect(sim, [&](const std::string&) { return !sim.callInProgress(); });

    QCOMPARE(count(got, "RING"), 3);
    QCOMPARE(count(got, "NMBR = 5551234"), 1);
    QVERIFY(got.find("NMBR") < got.find("RING", got.find("RING") + 1));
    const std::vector<std::string> expected
        = { "call 5551234", "ring 1", "ring 2", "ring 3", "call-end" };
    QCOMPARE(callEvents(sim), expected);
    // Rings never come early: each is at least one interval after the one before
    std::vector<double> ringTimes;
    for (const ModemSim::LogEntry& e : sim.log()) {
        if (e.kind == ModemSim::Kind::Event && e.data.starts_with("ring"))
            ringTimes.push_back(e.seconds);
    }
    for (std::size_t i = 1; i < ringTimes.size(); ++i)
        QVERIFY(ringTimes[i] - ringTimes[i - 1]
            >= 0.999 * std::chrono::duration<double>(interval).count());
    QVERIFY(events(sim, "would-answer").empty());
    QCOMPARE(sim.registerValue(1), 0);
}

// With S0=2 a real modem would pick up at the second ring. The simulator only logs it, ends the
// call there, and never reports a connection.
void TestModemSim::autoAnswerIsOnlyLogged()
{
    ModemSim sim;
    Line line(sim.slavePath());
    line.command(sim, "ATE0S0=2\r");
    sim.startCall(fixedTime({}), 4, 10ms);
    const std::string got
        = line.collect(sim, [&](const std::string&) { return !sim.callInProgress(); });

    QCOMPARE(got, std::string("\r\nRING\r\n\r\nRING\r\n"));
    const std::vector<std::string> expected
        = { "call 5551234", "ring 1", "ring 2", "would-answer", "call-end" };
    QCOMPARE(callEvents(sim), expected);
}

// Each read from the program is one rx entry with exactly its bytes, in memory and in the file.
void TestModemSim::logRecordsTraffic()
{
    QTemporaryDir dir;
    const std::string logPath = dir.filePath("modem.log").toStdString();
    ModemSim sim({ {}, logPath, false });
    Line line(sim.slavePath());
    QVERIFY(line.send("AT"));
    QVERIFY(serveUntil(sim, [&] { return sim.received() == "AT"; }));
    QCOMPARE(line.command(sim, "Z\r"), "ATZ\r" + kOk);

    // In memory
    std::vector<std::string> rx, cmd;
    std::string tx;
    for (const ModemSim::LogEntry& e : sim.log()) {
        if (e.kind == ModemSim::Kind::Rx)
            rx.push_back(e.data);
        else if (e.kind == ModemSim::Kind::Tx)
            tx += e.data;
        else if (e.kind == ModemSim::Kind::Cmd)
            cmd.push_back(e.data);
    }
    QCOMPARE(rx, (std::vector<std::string> { "AT", "Z\r" }));
    QCOMPARE(cmd, std::vector<std::string> { "ATZ" });
    QCOMPARE(tx, "ATZ\r" + kOk);
    QCOMPARE(sim.received(), std::string("ATZ\r"));

    // In the file: one line per entry, same order, times not decreasing, bytes as hex
    QFile file(QString::fromStdString(logPath));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = file.readAll().split('\n');
    QVERIFY(lines.takeLast().isEmpty());
    QCOMPARE(lines.size(), qsizetype(sim.log().size()));
    const QRegularExpression format(R"(^(\d+\.\d{6}) (rx|tx|cmd|event) (.*)$)");
    QStringList rxLines;
    double previous = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const auto match = format.match(QString::fromLatin1(lines[i]));
        QVERIFY2(match.hasMatch(), lines[i].constData());
        QVERIFY(match.captured(1).toDouble() >= previous);
        previous = match.captured(1).toDouble();
        if (match.captured(2) == "rx")
            rxLines << match.captured(3);
        if (match.captured(2) == "cmd")
            QCOMPARE(match.captured(3), QString("ATZ"));
    }
    QCOMPARE(rxLines, QStringList({ "41 54", "5a 0d" }));
}

// The program may close the port and a new instance open it again. The line must then be in the
// state the last user left it (raw, its speed), must not replay what was sent while nobody had
// it open, and must answer as before.
void TestModemSim::reopenKeepsServing()
{
    ModemSim sim;
    termios settings {};
    {
        Line first(sim.slavePath(), false); // relies on the simulator's raw mode
        QVERIFY(tcgetattr(first.fd(), &settings) == 0);
        QVERIFY(!(settings.c_lflag & (ECHO | ICANON)));
        QCOMPARE(first.command(sim, "ATZ\r"), "ATZ\r" + kOk);
        QCOMPARE(sim.received(), std::string("ATZ\r")); // no echo of our own output came back
        cfsetspeed(&settings, B57600);
        QVERIFY(tcsetattr(first.fd(), TCSANOW, &settings) == 0);
        QVERIFY(first.send("AT\r")); // and close at once
    }
    QVERIFY(serveUntil(sim, [&] { return !sim.lineOpen(); }));
    // The hang-up is logged after the data the program sent just before it
    std::vector<std::string> tail;
    for (const ModemSim::LogEntry& e : sim.log())
        tail.push_back(e.kind == ModemSim::Kind::Rx ? "rx " + e.data : e.data);
    QCOMPARE(std::vector<std::string>(tail.end() - 4, tail.end()),
        (std::vector<std::string> { "rx AT\r", "AT", "hangup", "dropped 9 bytes" }));
    sim.startCall(fixedTime({}), 1, 10ms);
    QCOMPARE(events(sim, "dropped").size(), 2u); // the echo and OK above, and this RING

    Line second(sim.slavePath(), false);
    QVERIFY(second.fd() >= 0);
    QVERIFY(tcgetattr(second.fd(), &settings) == 0);
    QCOMPARE(cfgetospeed(&settings), speed_t(B57600));
    QVERIFY(!(settings.c_lflag & ECHO));
    QCOMPARE(second.command(sim, "ATZ\r"), "ATZ\r" + kOk);
    QCOMPARE(events(sim, "open").size(), 2u);
    QCOMPARE(events(sim, "hangup").size(), 1u);
}

// A program's TIOCEXCL outlives its close while the master is open, and would lock the next
// instance out (unless it runs as root). With renewal every program gets a fresh tty, found
// through the link.
void TestModemSim::linkFollowsRenewedPty()
{
    QTemporaryDir dir;
    const std::string link = dir.filePath("ttyModem").toStdString();
    const auto target
        = [&] { return QFile::symLinkTarget(QString::fromStdString(link)).toStdString(); };
    {
        ModemSim sim({ link, {}, true });
        QCOMPARE(target(), sim.slavePath());
        {
            Line first(link);
            QVERIFY(ioctl(first.fd(), TIOCEXCL) == 0);
            QCOMPARE(first.command(sim, "ATZ\r"), "ATZ\r" + kOk);
        }
        QVERIFY(serveUntil(sim, [&] { return !events(sim, "renew").empty(); }));
        QCOMPARE(target(), sim.slavePath());
        Line second(link);
        int exclusive = -1;
        QVERIFY(ioctl(second.fd(), TIOCGEXCL, &exclusive) == 0);
        QCOMPARE(exclusive, 0);
        QCOMPARE(second.command(sim, "ATZ\r"), "ATZ\r" + kOk);
    }
    QVERIFY(!QFileInfo(QString::fromStdString(link)).isSymLink());
}

QTEST_APPLESS_MAIN(TestModemSim)
#include "tst_modemsim.moc"
