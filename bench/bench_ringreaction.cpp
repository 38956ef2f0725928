// What the home network costs one ring reaction of the Alert window (the
// band, the window raised, the listeners told; no tone), from the change of
// the received text until the handler has returned, for a station with a
// modem:
//   broker:0  no home network set;
//   broker:1  a mosquitto that answers;
//   broker:2  the same mosquitto frozen (SIGSTOP): it keeps the connection
//             and answers nothing, so every ring's message waits in the
//             connection's queue;
//   broker:3  a "broker" that accepts the connection and never says a word
//             (a listening socket that reads nothing): the station waits
//             for its answer.
// Each result also says the slowest single reaction (worst_ms) and whether
// the station was connected at the end. Starts its own mosquitto on a free
// local port (Debian's package).
// Runs on Qt's offscreen platform, with waits that return at once and the
// per-user folders in a temporary folder.

#include "Alert.h"
#include "Clock.h"
#include "HomeNetwork.h"
#include "Module2.h"
#include "Runtime.h"

#include <QApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <benchmark/benchmark.h>
#include <chrono>
#include <csignal>
#include <cstdio>

namespace {

// Waits take no time: the Alert window's activation waits 3 s.
class NoWaitClock final : public Clock
{
public:
    float timeOfDay() const override { return 8 * 3600.0f; }
    void wait(double) override { QCoreApplication::processEvents(); }
};

struct Broker
{
    QProcess process;
    int port = 0;
    bool start(const QString& folder)
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        port = probe.serverPort();
        probe.close();
        QFile config(folder + "/mosquitto.conf");
        if (!config.open(QIODevice::WriteOnly))
            return false;
        config.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\n"
                                    "persistence false\nuser %2\n")
                         .arg(port)
                         .arg(qEnvironmentVariable("USER", "root"))
                         .toUtf8());
        config.close();
        process.start("mosquitto", { "-c", config.fileName() });
        for (int i = 0; i < 200; ++i) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, quint16(port));
            if (socket.waitForConnected(100))
                return true;
            QTest::qWait(20);
        }
        return false;
    }
    void signal(int number) { ::kill(pid_t(process.processId()), number); }
    ~Broker()
    {
        signal(SIGCONT);
        process.kill();
        process.waitForFinished();
    }
};

void ringReaction(benchmark::State& state)
{
    const int kind = int(state.range(0));
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toLocal8Bit());

    Broker broker;
    QTcpServer mute;
    NetworkSettings settings;
    settings.station = "kitchen";
    if (kind == 1 || kind == 2) {
        if (!broker.start(home.path())) {
            state.SkipWithError("mosquitto did not start");
            return;
        }
        settings.broker = QStringLiteral("mqtt://127.0.0.1:%1").arg(broker.port);
    } else if (kind == 3) {
        mute.listen(QHostAddress::LocalHost, 0);
        settings.broker = QStringLiteral("mqtt://127.0.0.1:%1").arg(mute.serverPort());
    }

    Module2::ReceivedText.clear();
    Alert alert;
    alert.Load();
    std::unique_ptr<HomeNetwork> network;
    if (kind != 0) {
        network = std::make_unique<HomeNetwork>(alert, settings, HomeNetwork::Role::ModemStation);
        if (kind != 3) {
            QSignalSpy connected(&network->link(), &BrokerLink::connected);
            if (!connected.wait(10000)) {
                state.SkipWithError("no connection to the broker");
                return;
            }
        } else {
            QTest::qWait(200);
        }
    }
    // The set-up's replies and their clearing; the band made once.
    alert.setReceivedText("OK");
    alert.setReceivedText(QString());
    alert.setReceivedText("RING");
    if (kind == 2)
        broker.signal(SIGSTOP);

    // Every change from here on is a ring reaction.
    const QString texts[] = { QStringLiteral("\r\nRING\r\n"), QString() };
    int i = 0;
    std::chrono::nanoseconds worst {};
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        alert.setReceivedText(texts[i++ % 2]);
        worst = std::max(worst, std::chrono::steady_clock::now() - start);
    }
    // The slowest single reaction, against the 50 ms a ring may cost.
    state.counters["worst_ms"] = std::chrono::duration<double, std::milli>(worst).count();
    state.counters["connected"] = network && network->link().isConnected() ? 1 : 0;
    if (kind == 2)
        broker.signal(SIGCONT);
    alert.hide();
}

} // namespace

BENCHMARK(ringReaction)
    ->ArgName("broker")
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(2000)
    ->Repetitions(3)
    ->ReportAggregatesOnly(false);

int main(int argc, char** argv)
{
    // The offscreen platform says at every raise that it cannot.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type != QtDebugMsg
            && !message.startsWith(QLatin1String("This plugin does not support")))
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    NoWaitClock clock;
    Runtime::install({ .clock = &clock });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
