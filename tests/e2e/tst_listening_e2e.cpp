// The real program under a real X server (Xvfb, with the openbox window
// manager) against the modem simulator: a user chooses "Start Listening",
// the simulator rings, and the test watches from outside what the user
// would see, then closes the Alert window.

#include "Fakes.h"
#include "Module2.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

namespace {

// A child process that is killed when the test ends.
struct Child
{
    QProcess process;
    ~Child()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(3000);
        }
    }
};

} // namespace

class ListeningEndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void aCallRingsAndClosingEndsTheProgram();

private:
    // Runs a command against the test's X server and returns its output.
    QString x(const QStringList& command, int timeoutMs = 10000);
    // Polls `probe` every 100 ms until it is true or `timeoutMs` passes.
    bool waitFor(const std::function<bool()>& probe, int timeoutMs);
    QString windowName(const QString& id)
    {
        return x({ "xdotool", "getwindowname", id }).trimmed();
    }
    QString findWindow(const QString& name)
    {
        return x({ "xdotool", "search", "--name", name }).section('\n', 0, 0).trimmed();
    }
    // Top-left corner of the window's frame on the screen.
    QPoint framePosition(const QString& id);
    QList<QPair<double, QString>> modemLog(const QString& kind);

    QProcessEnvironment m_environment;
    QString m_logPath;
};

void ListeningEndToEndTest::initTestCase()
{
    for (const char* tool : { "Xvfb", "xdotool", "xprop", "xwininfo", "openbox", "xmessage" }) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QFAIL(qPrintable(QStringLiteral("%1 is missing: run tools/install-deps").arg(tool)));
    }
}

QString ListeningEndToEndTest::x(const QStringList& command, int timeoutMs)
{
    QProcess process;
    process.setProcessEnvironment(m_environment);
    process.start(command.first(), command.mid(1));
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

bool ListeningEndToEndTest::waitFor(const std::function<bool()>& probe, int timeoutMs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < timeoutMs) {
        if (probe())
            return true;
        QTest::qWait(100);
    }
    return probe();
}

QPoint ListeningEndToEndTest::framePosition(const QString& id)
{
    // xwininfo reports the client's absolute position (xdotool's geometry
    // counts the window manager's decoration twice).
    const QString info = x({ "xwininfo", "-id", id });
    QPoint client(QRegularExpression(QStringLiteral("Absolute upper-left X:\\s+(-?\\d+)"))
                      .match(info)
                      .captured(1)
                      .toInt(),
        QRegularExpression(QStringLiteral("Absolute upper-left Y:\\s+(-?\\d+)"))
            .match(info)
            .captured(1)
            .toInt());
    // The window manager's decoration sits above and left of the client.
    const QString extents = x({ "xprop", "-id", id, "_NET_FRAME_EXTENTS" });
    const QRegularExpressionMatch frame
        = QRegularExpression(QStringLiteral("= (\\d+), (\\d+), (\\d+), (\\d+)")).match(extents);
    if (frame.hasMatch())
        client -= QPoint(frame.captured(1).toInt(), frame.captured(3).toInt());
    return client;
}

QList<QPair<double, QString>> ListeningEndToEndTest::modemLog(const QString& kind)
{
    QList<QPair<double, QString>> entries;
    QFile log(m_logPath);
    if (!log.open(QIODevice::ReadOnly))
        return entries;
    for (const QByteArray& line : log.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() >= 2 && fields.at(1) == kind.toLatin1())
            entries.append({ fields.at(0).toDouble(),
                QString::fromLatin1(line.mid(fields.at(0).size() + kind.size() + 2)) });
    }
    return entries;
}

void ListeningEndToEndTest::aCallRingsAndClosingEndsTheProgram()
{
    TestRuntime runtime;
    const QString ports = runtime.configHome() + QStringLiteral("/ringwarden/ports");
    QVERIFY(QDir().mkpath(ports));
    m_logPath = runtime.home() + QStringLiteral("/modem.log");
    const QString control = runtime.home() + QStringLiteral("/modem.control");
    // A user who accepted the agreement in an earlier run.
    QFile store(runtime.configHome() + QStringLiteral("/ringwarden/ringwarden.conf"));
    QVERIFY(store.open(QIODevice::WriteOnly)
        && store.write("[Software]\nRingwarden\\Eula\\Eula=^\n") > 0);
    store.close();

    // An X server of our own, with a window manager.
    Child xserver;
    xserver.process.start(QStringLiteral("Xvfb"),
        { "-displayfd", "1", "-screen", "0", "1366x768x24", "-nolisten", "tcp", "-noreset" });
    QVERIFY(xserver.process.waitForReadyRead(10000));
    const QString display
        = QStringLiteral(":") + QString::fromLatin1(xserver.process.readLine()).trimmed();
    m_environment = QProcessEnvironment::systemEnvironment();
    m_environment.insert(QStringLiteral("DISPLAY"), display);
    m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), runtime.configHome());
    m_environment.insert(QStringLiteral("XDG_DATA_HOME"), runtime.dataHome());
    m_environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.runtimeDir());
    Child windowManager;
    windowManager.process.setProcessEnvironment(m_environment);
    windowManager.process.start(QStringLiteral("openbox"), QStringList {});
    QVERIFY(waitFor(
        [&] {
            return x({ "xprop", "-root", "_NET_SUPPORTING_WM_CHECK" }).contains("window id");
        },
        10000));

    // The modem, reached as COM4 through the user's ports folder.
    Child modem;
    modem.process.start(QStringLiteral(MODEM_SIM),
        { "--link", ports + "/COM4", "--log", m_logPath, "--control", control, "--ring-interval",
            "6" });
    QVERIFY(modem.process.waitForReadyRead(10000));

    Child program;
    program.process.setProcessEnvironment(m_environment);
    program.process.setProcessChannelMode(QProcess::ForwardedChannels);
    program.process.start(QStringLiteral(RINGWARDEN), QStringList {});
    QString settings;
    QVERIFY(waitFor(
        [&] { return !(settings = findWindow(QStringLiteral("^Ringwarden$"))).isEmpty(); }, 15000));

    // Choose Start > Start Listening with the keyboard, as a user can.
    x({ "xdotool", "windowactivate", "--sync", settings });
    x({ "xdotool", "key", "--delay", "200", "alt+s", "l" });

    // The Alert window's captions, in order.
    QString alert;
    QVERIFY(waitFor(
        [&] {
            return !(alert = findWindow(QStringLiteral("^Activating modem\\.\\.\\.$"))).isEmpty();
        },
        10000));
    QVERIFY(
        waitFor([&] { return windowName(alert) == QStringLiteral("Listening for calls"); }, 30000));
    QVERIFY2(
        x({ "xdotool", "search", "--onlyvisible", "--name", "^Ringwarden$" }).trimmed().isEmpty(),
        "the settings window must be gone while listening");

    // The set-up as the modem heard it: five strings, byte for byte, about
    // two seconds apart.
    QString sent;
    for (const auto& [time, hex] : modemLog(QStringLiteral("rx")))
        sent += QString::fromLatin1(QByteArray::fromHex(hex.toLatin1()));
    QCOMPARE(sent,
        QStringLiteral("ATZ\rAT&FE0V1W2&D2&C1S0=0-C0\rATS7=60\\T0L1M1\\N3-J1%C1\"H3\\Q3B0N1X3\rat+"
                       "vcid=1\rATS0=0\r"));
    const auto commands = modemLog(QStringLiteral("cmd"));
    QCOMPARE(commands.size(), 5);
    for (int i = 1; i < commands.size(); ++i) {
        const double gap = commands.at(i).first - commands.at(i - 1).first;
        QVERIFY2(gap > 1.5 && gap < 3.5,
            qPrintable(QStringLiteral("gap %1 s before %2").arg(gap).arg(commands.at(i).second)));
    }

    // The user goes back to work in another program, which has the keyboard
    // and covers the screen's top edge, where the Alert window goes.
    Child work;
    work.process.setProcessEnvironment(m_environment);
    work.process.start(QStringLiteral("xmessage"),
        { "-geometry", "1000x300+0+0", "-name", "work", "the user's terminal" });
    QString workWindow;
    QVERIFY(waitFor(
        [&] {
            return !(
                workWindow = x({ "xdotool", "search", "--onlyvisible", "--classname", "^work$" })
                                 .section('\n', 0, 0)
                                 .trimmed())
                        .isEmpty();
        },
        10000));
    x({ "xdotool", "windowactivate", "--sync", workWindow });

    // A call.
    {
        QFile fifo(control);
        QVERIFY(fifo.open(QIODevice::WriteOnly));
        fifo.write("call 5551234 JOHN DOE\n");
    }
    QElapsedTimer sinceCall;
    sinceCall.start();
    QVERIFY(waitFor(
        [&] { return windowName(alert) == QStringLiteral("The Phone is ringing now"); }, 10000));
    qInfo(
        "the ring reached the Alert window %lld ms after the call was placed", sinceCall.elapsed());

    // The band is up, screen-wide, and the Alert window is at the top.
    QString band;
    QVERIFY(waitFor(
        [&] {
            return !(band = x({ "xdotool", "search", "--onlyvisible", "--name", "^Form1$" })
                                .section('\n', 0, 0)
                                .trimmed())
                        .isEmpty();
        },
        5000));
    QVERIFY(x({ "xdotool", "getwindowgeometry", band }).contains(QStringLiteral("1366x")));
    const bool atTop = waitFor([&] { return framePosition(alert).y() == 0; }, 5000);
    QVERIFY2(atTop,
        qPrintable(
            x({ "xwininfo", "-id", alert }) + x({ "xprop", "-id", alert, "_NET_FRAME_EXTENTS" })));
    // Over the work, held above by the window manager, while the work keeps
    // the keyboard.
    QVERIFY2(waitFor(
                 [&] {
                     return x({ "xprop", "-id", alert, "_NET_WM_STATE" })
                         .contains(QStringLiteral("_NET_WM_STATE_ABOVE"));
                 },
                 5000),
        qPrintable(x({ "xprop", "-id", alert, "_NET_WM_STATE" })));
    const auto stackIndex = [&](const QString& id) {
        // "..._STACKING(WINDOW): window id # 0xa0002c, 0x400006", bottom first.
        const QString stacking = x({ "xprop", "-root", "_NET_CLIENT_LIST_STACKING" });
        return stacking.section('#', 1)
            .simplified()
            .split(QStringLiteral(", "))
            .indexOf(QStringLiteral("0x%1").arg(id.toULong(), 0, 16));
    };
    QVERIFY2(waitFor([&] { return stackIndex(alert) > stackIndex(workWindow); }, 5000),
        qPrintable(alert + " over " + workWindow + " in "
            + x({ "xprop", "-root", "_NET_CLIENT_LIST_STACKING" })));
    QVERIFY(stackIndex(workWindow) >= 0);
    QCOMPARE(x({ "xdotool", "getactivewindow" }).trimmed(), workWindow);
    QVERIFY(modemLog(QStringLiteral("event")).size() > 0);
    for (const auto& event : modemLog(QStringLiteral("event")))
        QVERIFY2(event.second != QStringLiteral("would-answer"), "the modem must never answer");

    // Closing the Alert window ends the program and releases the modem.
    x({ "xdotool", "windowactivate", "--sync", alert });
    x({ "xdotool", "key", "alt+F4" });
    QVERIFY(program.process.waitForFinished(10000));
    QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.process.exitCode(), 0);

    Module2::PortHandle = 0;
    Module2::OpenPort(QStringLiteral("COM4"));
    QVERIFY2(runtime.messageBox.notices().isEmpty(),
        qPrintable(runtime.messageBox.texts().join(QLatin1Char('|'))));
    QVERIFY(Module2::PortIsOpen());
    Module2::ClosePort();
}

QTEST_MAIN(ListeningEndToEndTest)
#include "tst_listening_e2e.moc"
