// The window-system platform the program starts on: X11 wherever an X
// server lets us in (XWayland included), the user's own choice always kept,
// and Qt's own choice, said to be native Wayland, where there is no X server.

#include "Platform.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class PlatformTest : public QObject
{
    Q_OBJECT

private slots:
    void choice_data();
    void choice();
    void anXServerAnswersOnlyWhenItLetsUsIn_data();
    void anXServerAnswersOnlyWhenItLetsUsIn();
    void theChoiceReachesTheCommandLine_data();
    void theChoiceReachesTheCommandLine();
};

void PlatformTest::choice_data()
{
    QTest::addColumn<QString>("userPlatform");
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("waylandDisplay");
    QTest::addColumn<bool>("xServerAnswers");
    QTest::addColumn<QString>("expectedPlatform");
    QTest::addColumn<bool>("expectedNativeWayland");
    QTest::addColumn<QString>("reasonNames");

    QTest::newRow("Wayland session with XWayland")
        << ""
        << ":0"
        << "wayland-0" << true << "xcb" << false << "XWayland";
    QTest::newRow("X11 session") << ""
                                 << ":0"
                                 << "" << true << "xcb" << false << "DISPLAY=:0";
    QTest::newRow("the user chose Wayland, X there all the same")
        << "wayland"
        << ":0"
        << "wayland-0" << true << "" << true << "\"wayland\"";
    QTest::newRow("the user chose a list starting with Wayland")
        << "wayland;xcb"
        << ":0"
        << "wayland-0" << true << "" << true << "\"wayland;xcb\"";
    QTest::newRow("the user chose X11") << "xcb"
                                        << ":0"
                                        << "wayland-0" << true << "" << false << "\"xcb\"";
    QTest::newRow("Wayland, DISPLAY set but nobody answers")
        << ""
        << ":1"
        << "wayland-0" << false << "" << true << "no X server answers at DISPLAY=:1";
    QTest::newRow("Wayland without XWayland")
        << ""
        << ""
        << "wayland-1" << false << "" << true << "WAYLAND_DISPLAY=wayland-1";
    QTest::newRow("neither") << ""
                             << ""
                             << "" << false << "" << false << "DISPLAY is not set";
}

void PlatformTest::choice()
{
    QFETCH(QString, userPlatform);
    QFETCH(QString, display);
    QFETCH(QString, waylandDisplay);
    QFETCH(bool, xServerAnswers);
    QFETCH(QString, expectedPlatform);
    QFETCH(bool, expectedNativeWayland);
    QFETCH(QString, reasonNames);

    const Platform::Choice choice
        = Platform::choose({ userPlatform, display, waylandDisplay, xServerAnswers });
    QCOMPARE(choice.platform, expectedPlatform);
    QCOMPARE(choice.nativeWayland, expectedNativeWayland);
    QVERIFY2(choice.reason.contains(reasonNames), qPrintable(choice.reason));
}

void PlatformTest::anXServerAnswersOnlyWhenItLetsUsIn_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("expected");
    QTest::newRow("no display") << "none" << false;
    QTest::newRow("no server at the display") << "absent" << false;
    QTest::newRow("a server with our cookie") << "ours" << true;
    QTest::newRow("a server that refuses our cookie") << "stale" << false;
}

void PlatformTest::anXServerAnswersOnlyWhenItLetsUsIn()
{
    QFETCH(QString, server);
    QFETCH(bool, expected);
    for (const char* tool : { "Xvfb", "xauth" }) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QFAIL(qPrintable(QStringLiteral("%1 is missing: run tools/install-deps").arg(tool)));
    }

    QString display;
    QTemporaryDir folder;
    QProcess xserver;
    if (server == QLatin1String("absent")) {
        display = QStringLiteral(":4093");
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/.X11-unix/X4093")));
    } else if (server != QLatin1String("none")) {
        // A server that lets in only the holders of its cookie (the server
        // takes every cookie in its file, whatever display it names).
        const QString serverAuth = folder.filePath(QStringLiteral("server"));
        const QString ourAuth = folder.filePath(QStringLiteral("ours"));
        const QString cookie = QStringLiteral("0123456789abcdef0123456789abcdef");
        QCOMPARE(QProcess::execute(
                     QStringLiteral("xauth"), { "-q", "-f", serverAuth, "add", ":0", ".", cookie }),
            0);
        xserver.start(QStringLiteral("Xvfb"),
            { "-displayfd", "1", "-auth", serverAuth, "-nolisten", "tcp", "-screen", "0",
                "320x200x24" });
        QVERIFY(xserver.waitForReadyRead(10000));
        display = QLatin1Char(':') + QString::fromLatin1(xserver.readLine()).trimmed();
        const QString given = server == QLatin1String("ours")
            ? cookie
            : QStringLiteral("fedcba9876543210fedcba9876543210");
        QCOMPARE(QProcess::execute(
                     QStringLiteral("xauth"), { "-q", "-f", ourAuth, "add", display, ".", given }),
            0);
        qputenv("XAUTHORITY", QFile::encodeName(ourAuth));
    }

    QCOMPARE(Platform::xServerAnswers(display), expected);
    qunsetenv("XAUTHORITY");
    if (xserver.state() != QProcess::NotRunning) {
        xserver.kill();
        xserver.waitForFinished(3000);
    }
}

void PlatformTest::theChoiceReachesTheCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("qpaPlatform");
    QTest::addColumn<QString>("display");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<bool>("warns");

    const QStringList plain { "ringwarden", "--listen" };
    // No X server is asked: DISPLAY names a host elsewhere, taken to answer.
    QTest::newRow("X11 chosen") << plain << ""
                                << "remote.invalid:0"
                                << (plain + QStringList { "-platform", "xcb" }) << false;
    QTest::newRow("the user's -platform kept")
        << QStringList { "ringwarden", "-platform", "wayland" } << ""
        << "remote.invalid:0" << QStringList { "ringwarden", "-platform", "wayland" } << true;
    QTest::newRow("the user's QT_QPA_PLATFORM kept") << plain << "wayland"
                                                     << "remote.invalid:0" << plain << true;
    QTest::newRow("no X server, no Wayland") << plain << ""
                                             << "" << plain << false;
}

void PlatformTest::theChoiceReachesTheCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, qpaPlatform);
    QFETCH(QString, display);
    QFETCH(QStringList, expected);
    QFETCH(bool, warns);
    qunsetenv("WAYLAND_DISPLAY");
    qputenv("QT_QPA_PLATFORM", qpaPlatform.toLocal8Bit());
    qputenv("DISPLAY", display.toLocal8Bit());

    std::vector<QByteArray> storage;
    std::vector<char*> argv;
    for (const QString& argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    for (QByteArray& argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    // Running native on Wayland costs the band its place: the user is told.
    const QRegularExpression warning(QStringLiteral("^running native on Wayland"));
    if (warns)
        QTest::ignoreMessage(QtWarningMsg, warning);
    else
        QTest::failOnWarning(warning);
    Platform::Arguments result(int(arguments.size()), argv.data());
    QStringList seen;
    for (int i = 0; i < result.count(); ++i)
        seen << QString::fromLocal8Bit(result.values()[i]);
    QCOMPARE(seen, expected);
    QCOMPARE(result.values()[result.count()], nullptr);
}

QTEST_GUILESS_MAIN(PlatformTest)
#include "tst_platform.moc"
