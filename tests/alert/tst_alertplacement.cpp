// Where the Alert window and the band end up on a real X server (Xvfb), with
// the openbox window manager and without any: at a ring they come over the
// window the user works in, which keeps the keyboard, and once the call is
// over (or the alert is dismissed) the Alert window is an ordinary window
// again, still shown. Asked for from the status icon, the Alert window comes
// over the work with the keyboard. sway is asked to put the window at the
// top only where it runs the X server (a socket of the test's own plays
// sway's side). Watched from outside, as the window manager and the X server
// see the windows.

#include "Alert.h"
#include "FakeSway.h"
#include "Fakes.h"
#include "Module2.h"
#include "RecordingMediaPlayer.h"
#include "StatusIcon.h"
#include "SwayIpc.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>
#include <memory>
#include <xcb/xcb.h>

using Window = xcb_window_t;

namespace {

// An xcb reply, freed with free().
template <typename Reply> using XReply = std::unique_ptr<Reply, decltype(&free)>;
template <typename Reply> XReply<Reply> own(Reply* reply)
{
    return XReply<Reply>(reply, &free);
}

// An X server of the test's own, started before the application so that
// the application connects to it.
class TestXServer
{
public:
    TestXServer()
    {
        m_process.start(QStringLiteral("Xvfb"),
            { "-displayfd", "1", "-screen", "0", "1366x768x24", "-nolisten", "tcp" });
        if (!m_process.waitForReadyRead(10000))
            return;
        m_display = ':' + m_process.readLine().trimmed();
        qputenv("DISPLAY", m_display);
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    ~TestXServer()
    {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
    bool started() const { return !m_display.isEmpty(); }

private:
    QProcess m_process;
    QByteArray m_display;
};

TestXServer* g_server = nullptr;

} // namespace

class AlertPlacementTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void aRingComesOverTheWorkWithoutTheKeyboard_data();
    void aRingComesOverTheWorkWithoutTheKeyboard();
    void theUserAsksForTheWindow_data();
    void theUserAsksForTheWindow();
    void swayIsAskedOnlyWhereItRunsTheXServer_data();
    void swayIsAskedOnlyWhereItRunsTheXServer();

private:
    // A window of another program, focused as the user's terminal would be.
    QString startWork();
    bool startWindowManager();
    QString x(const QStringList& command);
    // The window's _NET_WM_STATE atoms by name.
    QStringList states(Window window);
    // The top-level windows in stacking order, bottom first (the frames'
    // clients under a window manager).
    QList<Window> stacking();
    // The top-level window (or frame) that holds `window`.
    Window topLevel(Window window);
    Window activeWindow();
    // Names `name` the window manager of the screen, as an EWMH window
    // manager does, with a window of the test's own; "" takes that back.
    void pretendWindowManager(const QByteArray& name);
    xcb_atom_t atom(const char* name);

    xcb_connection_t* m_connection = nullptr;
    Window m_root = 0;
    Window m_pretended = 0;
    QProcess m_windowManager;
    QProcess m_work;
    std::unique_ptr<TestRuntime> m_runtime;
};

void AlertPlacementTest::initTestCase()
{
    for (const char* tool : { "Xvfb", "openbox", "xdotool", "xmessage" }) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QFAIL(qPrintable(QStringLiteral("%1 is missing: run tools/install-deps").arg(tool)));
    }
    QVERIFY(g_server && g_server->started());
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    m_connection = xcb_connect(nullptr, nullptr);
    QVERIFY(xcb_connection_has_error(m_connection) == 0);
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
}

void AlertPlacementTest::cleanupTestCase()
{
    if (m_connection)
        xcb_disconnect(m_connection);
}

void AlertPlacementTest::init()
{
    m_runtime = std::make_unique<TestRuntime>();
    Module2::PortHandle = 0;
    Module2::ReceivedText.clear();
}

void AlertPlacementTest::cleanup()
{
    pretendWindowManager({});
    qunsetenv("SWAYSOCK");
    for (QProcess* process : { &m_work, &m_windowManager }) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(3000);
        }
    }
    m_runtime.reset();
}

QString AlertPlacementTest::x(const QStringList& command)
{
    QProcess process;
    process.start(command.first(), command.mid(1));
    process.waitForFinished(10000);
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

bool AlertPlacementTest::startWindowManager()
{
    // Openbox runs its start-up command once it manages the screen; a
    // window mapped before that may never be managed.
    const QString ready = m_runtime->home() + QStringLiteral("/openbox-ready");
    m_windowManager.start(QStringLiteral("openbox"), { "--startup", "touch " + ready });
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 10000) {
        if (QFile::exists(ready))
            return true;
        QTest::qWait(20);
    }
    return false;
}

QString AlertPlacementTest::startWork()
{
    // Where the Alert window goes at a ring: the screen's top edge.
    m_work.start(QStringLiteral("xmessage"),
        { "-geometry", "900x400+0+0", "-name", "work", "the user's terminal" });
    QString id;
    QElapsedTimer waited;
    waited.start();
    while (id.isEmpty() && waited.elapsed() < 10000) {
        id = x({ "xdotool", "search", "--onlyvisible", "--classname", "^work$" })
                 .section('\n', 0, 0);
        if (id.isEmpty())
            QTest::qWait(50);
    }
    return id;
}

QStringList AlertPlacementTest::states(Window window)
{
    static constexpr char kState[] = "_NET_WM_STATE";
    const auto atom = own(xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, sizeof kState - 1, kState), nullptr));
    const auto reply = own(xcb_get_property_reply(m_connection,
        xcb_get_property(m_connection, 0, window, atom->atom, XCB_ATOM_ATOM, 0, 64), nullptr));
    QStringList names;
    if (!reply)
        return names;
    const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / int(sizeof(xcb_atom_t));
    for (int i = 0; i < count; ++i) {
        const auto name = own(xcb_get_atom_name_reply(
            m_connection, xcb_get_atom_name(m_connection, atoms[i]), nullptr));
        if (name)
            names << QString::fromLatin1(
                xcb_get_atom_name_name(name.get()), xcb_get_atom_name_name_length(name.get()));
    }
    return names;
}

QList<Window> AlertPlacementTest::stacking()
{
    // The program's own requests reach the server first.
    QGuiApplication::sync();
    const auto tree
        = own(xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, m_root), nullptr));
    QList<Window> order;
    if (!tree)
        return order;
    const Window* children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i)
        order << children[i];
    return order;
}

Window AlertPlacementTest::topLevel(Window window)
{
    for (;;) {
        const auto tree = own(
            xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, window), nullptr));
        if (!tree || tree->parent == m_root || tree->parent == XCB_WINDOW_NONE)
            return window;
        window = tree->parent;
    }
}

Window AlertPlacementTest::activeWindow()
{
    return x({ "xdotool", "getactivewindow" }).toULong();
}

xcb_atom_t AlertPlacementTest::atom(const char* name)
{
    const auto reply = own(xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, uint16_t(strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

void AlertPlacementTest::pretendWindowManager(const QByteArray& name)
{
    const xcb_atom_t check = atom("_NET_SUPPORTING_WM_CHECK");
    if (name.isEmpty()) {
        if (m_pretended) {
            xcb_delete_property(m_connection, m_root, check);
            xcb_destroy_window(m_connection, m_pretended);
            m_pretended = 0;
        }
        xcb_flush(m_connection);
        return;
    }
    m_pretended = xcb_generate_id(m_connection);
    xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_pretended, m_root, -1, -1, 1, 1, 0,
        XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    for (const Window window : { m_root, m_pretended }) {
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, check, XCB_ATOM_WINDOW, 32,
            1, &m_pretended);
    }
    xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_pretended, atom("_NET_WM_NAME"),
        atom("UTF8_STRING"), 8, uint32_t(name.size()), name.constData());
    free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}

void AlertPlacementTest::aRingComesOverTheWorkWithoutTheKeyboard_data()
{
    QTest::addColumn<bool>("windowManager");
    QTest::newRow("openbox") << true;
    QTest::newRow("bare X server") << false;
}

void AlertPlacementTest::aRingComesOverTheWorkWithoutTheKeyboard()
{
    QFETCH(bool, windowManager);
    if (windowManager)
        QVERIFY(startWindowManager());

    // Listening starts: the Alert window comes up from the user's click.
    Alert alert;
    alert.setPlayer(std::make_unique<RecordingMediaPlayer>());
    alert.Load();
    alert.Show();
    QVERIFY2(QTest::qWaitForWindowExposed(&alert, 10000),
        qPrintable(x({ "xwininfo", "-id", QString::number(alert.winId()) })));
    const Window alertId = alert.windowHandle()->winId();

    // The user goes back to work in another program.
    const QString workId = startWork();
    QVERIFY(!workId.isEmpty());
    const Window work = workId.toULong();
    if (windowManager) {
        x({ "xdotool", "windowactivate", "--sync", workId });
        QTRY_COMPARE(activeWindow(), work);
    }
    QTRY_VERIFY(stacking().indexOf(topLevel(work)) > stacking().indexOf(topLevel(alertId)));

    // The set-up's replies, then a ring.
    alert.setReceivedText(QStringLiteral("OK"));
    alert.setReceivedText(QString());
    alert.setReceivedText(QStringLiteral("\r\nRING\r\n"));
    // The band, found as the X server knows it ("Form1").
    QWidget* band = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->windowTitle() == QStringLiteral("Form1") && window->isVisible())
            band = window;
    }
    QVERIFY(band);
    const Window bandId = band->windowHandle()->winId();

    // Both over the work, the band above everything, and the work keeps
    // the keyboard.
    QTRY_VERIFY2(stacking().indexOf(topLevel(alertId)) > stacking().indexOf(topLevel(work)),
        "the Alert window must come over the focused window");
    QTRY_VERIFY(stacking().indexOf(bandId) > stacking().indexOf(topLevel(alertId)));
    // (Its place at the top is watched by the end-to-end test: just after
    // a show Qt may not know openbox's frame yet.)
    QVERIFY(alert.isVisible());
    if (windowManager) {
        QTRY_VERIFY(states(alertId).contains("_NET_WM_STATE_ABOVE"));
        QCOMPARE(activeWindow(), work);
        QTRY_VERIFY(!alert.isActiveWindow());
    }

    // The user clicks into the work during the call: it keeps the keyboard
    // but stays under the Alert window, also after the next ring reaction.
    if (windowManager) {
        x({ "xdotool", "windowactivate", "--sync", workId });
        alert.setReceivedText(QString());
        QTRY_VERIFY(stacking().indexOf(topLevel(alertId)) > stacking().indexOf(topLevel(work)));
        QCOMPARE(activeWindow(), work);
    }

    // The call ends: an ordinary window again, where it is, still shown.
    alert.callEnded();
    QVERIFY(alert.isVisible());
    if (windowManager) {
        QTRY_VERIFY(!states(alertId).contains("_NET_WM_STATE_ABOVE"));
        // The user's next click on the work brings it over the window.
        x({ "xdotool", "windowactivate", "--sync", workId });
        QTRY_VERIFY(stacking().indexOf(topLevel(work)) > stacking().indexOf(topLevel(alertId)));
    }
    QTRY_COMPARE(alert.windowHandle()->isExposed() || !windowManager, true);
    QCOMPARE(alert.windowHandle()->winId(), alertId);

    // A second call puts it above again; in an always-on run a click on the
    // band dismisses the alert, which ends that while the call goes on.
    alert.setAlwaysOn(true);
    alert.setReceivedText(QStringLiteral("\r\nRING\r\n"));
    QTRY_VERIFY(stacking().indexOf(topLevel(alertId)) > stacking().indexOf(topLevel(work)));
    if (windowManager) {
        QTRY_VERIFY(states(alertId).contains("_NET_WM_STATE_ABOVE"));
        QWidget* picture = nullptr;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->windowTitle() == QStringLiteral("Form1") && window->isVisible())
                picture = window->childAt(window->rect().center());
        }
        QVERIFY(picture);
        QTest::mouseClick(picture, Qt::LeftButton);
        QTRY_VERIFY(!states(alertId).contains("_NET_WM_STATE_ABOVE"));
        QVERIFY(alert.isVisible());
        QCOMPARE(activeWindow(), work);
    }
    alert.callEnded();
    alert.hide();
}

void AlertPlacementTest::theUserAsksForTheWindow_data()
{
    QTest::addColumn<bool>("hidden");
    QTest::newRow("behind the work") << false;
    QTest::newRow("hidden by Stealth mode") << true;
}

void AlertPlacementTest::theUserAsksForTheWindow()
{
    QFETCH(bool, hidden);
    QVERIFY(startWindowManager());
    Alert alert;
    alert.setPlayer(std::make_unique<RecordingMediaPlayer>());
    alert.setAlwaysOn(true);
    alert.Load();
    alert.Show();
    QVERIFY(QTest::qWaitForWindowExposed(&alert, 10000));
    const Window alertId = alert.windowHandle()->winId();

    // The user works elsewhere, over the Alert window or with it hidden.
    const QString workId = startWork();
    QVERIFY(!workId.isEmpty());
    const Window work = workId.toULong();
    x({ "xdotool", "windowactivate", "--sync", workId });
    QTRY_COMPARE(activeWindow(), work);
    QTRY_VERIFY(stacking().indexOf(topLevel(work)) > stacking().indexOf(topLevel(alertId)));
    if (hidden) {
        alert.Command1->click();
        QTRY_VERIFY(!alert.windowHandle()->isExposed());
    }

    // "Show the Alert window" from the panel: the window comes over the
    // work, with the keyboard.
    QVERIFY(alert.statusIcon());
    alert.statusIcon()->showAction->trigger();
    QTRY_VERIFY(alert.windowHandle()->isExposed());
    QTRY_VERIFY2(stacking().indexOf(topLevel(alertId)) > stacking().indexOf(topLevel(work)),
        "the Alert window must come over the work");
    QTRY_COMPARE(activeWindow(), alertId);
    // Not held above: the user's next click on the work brings it back.
    QVERIFY(!states(alertId).contains("_NET_WM_STATE_ABOVE"));
    alert.hide();
}

void AlertPlacementTest::swayIsAskedOnlyWhereItRunsTheXServer_data()
{
    // The X window manager as it names itself ("" for none), whether
    // SWAYSOCK names the test's socket, and whether sway is asked.
    QTest::addColumn<QByteArray>("windowManager");
    QTest::addColumn<bool>("swaySocket");
    QTest::addColumn<bool>("asked");
    QTest::newRow("sway's XWayland") << QByteArray("wlroots wm") << true << true;
    QTest::newRow("openbox, a SWAYSOCK left over") << QByteArray("Openbox") << true << false;
    QTest::newRow("sway's XWayland, no SWAYSOCK") << QByteArray("wlroots wm") << false << false;
}

void AlertPlacementTest::swayIsAskedOnlyWhereItRunsTheXServer()
{
    QFETCH(QByteArray, windowManager);
    QFETCH(bool, swaySocket);
    QFETCH(bool, asked);

    QTemporaryDir folder;
    FakeSway sway(folder.filePath(QStringLiteral("sway-ipc.sock")));
    QVERIFY(sway.listening());
    if (swaySocket)
        qputenv("SWAYSOCK", QFile::encodeName(sway.path()));
    pretendWindowManager(windowManager);

    Alert alert;
    alert.setPlayer(std::make_unique<RecordingMediaPlayer>());
    alert.Load();
    alert.Show();
    QVERIFY(QTest::qWaitForWindowExposed(&alert, 10000));
    alert.setReceivedText(QStringLiteral("OK"));
    alert.setReceivedText(QString());
    alert.setReceivedText(QStringLiteral("\r\nRING\r\n"));

    // A connection of the test's own after the ring: the program's, had it
    // made one, came first.
    SwayCommand* marker = new SwayCommand(sway.path(), QStringLiteral("marker"));
    QSignalSpy markerDone(marker, &SwayCommand::finished);
    QTRY_COMPARE_WITH_TIMEOUT(markerDone.size(), 1, 10000);
    if (!asked) {
        QCOMPARE(sway.received, QStringList { "marker" });
    } else {
        // The window by its X id, moved to the top of its workspace.
        QCOMPARE(sway.received.size(), 2);
        const QString command = sway.received.first();
        QVERIFY2(command.startsWith(
                     QStringLiteral("[id=%1] move position ").arg(alert.windowHandle()->winId()))
                && command.endsWith(QStringLiteral(" px 0 px")),
            qPrintable(command));
    }
    alert.callEnded();
    alert.hide();
}

int main(int argc, char** argv)
{
    TestXServer server;
    g_server = &server;
    QApplication application(argc, argv);
    AlertPlacementTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_alertplacement.moc"
