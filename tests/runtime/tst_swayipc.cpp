// Asking sway to place the Alert window: the command is sent only where sway
// runs the X server the program is on, and it reaches sway framed as its IPC
// protocol wants, over a socket whose other side this test plays; whatever
// sway answers, or fails to, ends the attempt without holding anything up.

#include "FakeSway.h"
#include "Placement.h"
#include "SwayIpc.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class SwayIpcTest : public QObject
{
    Q_OBJECT

private slots:
    void onlySwaysXWaylandIsAsked_data();
    void onlySwaysXWaylandIsAsked();
    void aCommandReachesSway_data();
    void aCommandReachesSway();
};

void SwayIpcTest::onlySwaysXWaylandIsAsked_data()
{
    QTest::addColumn<QString>("socketPath");
    QTest::addColumn<QString>("platform");
    QTest::addColumn<QString>("windowManager");
    QTest::addColumn<int>("windowWidth");
    QTest::addColumn<QString>("expected");

    const QString sock = QStringLiteral("/run/user/1000/sway-ipc.1000.812.sock");
    // The Alert window is 704 wide on a 1366 wide screen.
    QTest::newRow("sway's XWayland")
        << sock << "xcb"
        << "wlroots wm" << 704 << "[id=4194310] move position 331 px 0 px";
    QTest::newRow("a window wider than the screen")
        << sock << "xcb"
        << "wlroots wm" << 1500 << "[id=4194310] move position 0 px 0 px";
    QTest::newRow("sway, no SWAYSOCK") << ""
                                       << "xcb"
                                       << "wlroots wm" << 704 << "";
    QTest::newRow("native Wayland on sway") << sock << "wayland"
                                            << "" << 704 << "";
    QTest::newRow("GNOME, a SWAYSOCK left over") << sock << "xcb"
                                                 << "GNOME Shell" << 704 << "";
    QTest::newRow("KWin") << sock << "xcb"
                          << "KWin" << 704 << "";
    QTest::newRow("X without a window manager") << sock << "xcb"
                                                << "" << 704 << "";
}

void SwayIpcTest::onlySwaysXWaylandIsAsked()
{
    QFETCH(QString, socketPath);
    QFETCH(QString, platform);
    QFETCH(QString, windowManager);
    QFETCH(int, windowWidth);
    QFETCH(QString, expected);

    Placement::SwayScene scene;
    scene.socketPath = socketPath;
    scene.platform = platform;
    scene.windowManager = windowManager;
    scene.windowId = 4194310;
    scene.screenWidth = 1366;
    scene.windowWidth = windowWidth;
    QCOMPARE(Placement::swayTopCommand(scene).value_or(QString()), expected);
}

void SwayIpcTest::aCommandReachesSway_data()
{
    // What sway answers each try; how many tries the command has; whether it
    // succeeds; how many messages sway gets; a word of the error.
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<int>("tries");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<int>("messages");
    QTest::addColumn<QString>("error");

    const QString ok = QStringLiteral(R"([{"success":true}])");
    const QString noMatch
        = QStringLiteral(R"([{"success":false,"parse_error":false,"error":"No matching node."}])");
    QTest::newRow("done") << QStringList { ok } << 4 << true << 1 << "";
    QTest::newRow("the reply in pieces") << QStringList { "split:" + ok } << 4 << true << 1 << "";
    QTest::newRow("no window yet, then done")
        << QStringList { noMatch, ok } << 4 << true << 2 << "";
    QTest::newRow("turned down every time")
        << QStringList { noMatch } << 3 << false << 3 << "No matching node.";
    QTest::newRow("one of two commands turned down")
        << QStringList { R"([{"success":true},{"success":false,"error":"Invalid"}])" } << 1 << false
        << 1 << "Invalid";
    QTest::newRow("closed unanswered") << QStringList { "close" } << 4 << false << 1 << "";
    QTest::newRow("not sway") << QStringList { "garbage" } << 4 << false << 1 << "not sway";
    QTest::newRow("never answers")
        << QStringList { "silent" } << 4 << false << 1 << "did not answer";
    QTest::newRow("an answer that is not JSON")
        << QStringList { "{nonsense" } << 1 << false << 1 << "unreadable";
    QTest::newRow("no sway") << QStringList {} << 4 << false << 0 << "";
}

void SwayIpcTest::aCommandReachesSway()
{
    QFETCH(QStringList, answers);
    QFETCH(int, tries);
    QFETCH(bool, succeeds);
    QFETCH(int, messages);
    QFETCH(QString, error);

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("sway-ipc.sock"));
    std::unique_ptr<FakeSway> sway;
    if (!answers.isEmpty()) {
        sway = std::make_unique<FakeSway>(path);
        QVERIFY(sway->listening());
        sway->answers = answers;
    }

    // Bytes, not characters, make the length: a title with umlauts.
    const QString command = QStringLiteral("[title=\"Grüße\"] move position 10 px 0 px");
    auto* run = new SwayCommand(path, command, tries, 20, 300);
    QSignalSpy finished(run, &SwayCommand::finished);
    QPointer<SwayCommand> alive(run);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
    QCOMPARE(finished.at(0).at(0).toBool(), succeeds);
    const QString reason = finished.at(0).at(1).toString();
    QVERIFY2(succeeds == reason.isEmpty() && reason.contains(error), qPrintable(reason));
    // Gone once done.
    QTRY_VERIFY(!alive);
    if (sway)
        QCOMPARE(sway->received, QStringList(messages, command));
}

QTEST_GUILESS_MAIN(SwayIpcTest)
#include "tst_swayipc.moc"
