// The desktop's autostart entry: where it goes, what it says, how a port
// text of any kind survives its Exec line (read back by desktop-file-validate
// and by GLib's own launcher, as a desktop reads it at log-in), and when it
// counts as switched on.

#include "Autostart.h"
#include "Fakes.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

namespace {

QString readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool writeText(const QString& path, const QString& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) == text.toUtf8().size();
}

StartOptions listenOn(const QString& port, bool sound)
{
    StartOptions options;
    options.listen = true;
    options.port = port;
    options.sound = sound;
    return options;
}

} // namespace

class AutostartTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void theEntryRunsThisProgramListening();
    void theProgramIsNamedByPathOnlyWhenOnThePath();
    void anyPortTextSurvivesTheExecLine_data();
    void anyPortTextSurvivesTheExecLine();
    void switchedOnOnlyWhileTheDesktopWillRunIt_data();
    void switchedOnOnlyWhileTheDesktopWillRunIt();
    void removingAndFailing();

private:
    std::unique_ptr<TestRuntime> m_runtime;
};

void AutostartTest::init()
{
    m_runtime = std::make_unique<TestRuntime>();
}

void AutostartTest::cleanup()
{
    m_runtime.reset();
}

void AutostartTest::theEntryRunsThisProgramListening()
{
    QCOMPARE(Autostart::path(),
        m_runtime->configHome() + QStringLiteral("/autostart/org.ringwarden.Ringwarden.desktop"));
    QVERIFY(!Autostart::enabled());
    QVERIFY(Autostart::write(listenOn(QStringLiteral("4"), false)));
    QVERIFY(Autostart::enabled());

    const QStringList lines = readAll(Autostart::path()).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.value(0), QStringLiteral("[Desktop Entry]"));
    for (const char* line : { "Type=Application", "Name=Ringwarden",
             "Icon=org.ringwarden.Ringwarden", "X-GNOME-Autostart-enabled=true" })
        QVERIFY2(lines.contains(QLatin1String(line)), line);
    // This test is not on PATH: it is named by its full path.
    QVERIFY(lines.contains(
        QStringLiteral("Exec=%1 --listen --port 4").arg(QCoreApplication::applicationFilePath())));

    // Written again with other values: one entry, the new values.
    QVERIFY(Autostart::write(listenOn(QStringLiteral("2"), true)));
    QVERIFY(readAll(Autostart::path()).contains(QStringLiteral(" --listen --port 2 --sound\n")));
    QCOMPARE(QDir(m_runtime->configHome() + QStringLiteral("/autostart")).entryList(QDir::Files),
        QStringList { "org.ringwarden.Ringwarden.desktop" });
}

void AutostartTest::theProgramIsNamedByPathOnlyWhenOnThePath()
{
    QTemporaryDir bin;
    const QByteArray path = qgetenv("PATH");
    QVERIFY(QFile::link(
        QCoreApplication::applicationFilePath(), bin.path() + QStringLiteral("/ringwarden")));
    qputenv("PATH", bin.path().toLocal8Bit() + ':' + path);
    const QString onPath = Autostart::program();
    // Another program of that name on PATH is not this one.
    QTemporaryDir other;
    QVERIFY(writeText(other.path() + QStringLiteral("/ringwarden"), QStringLiteral("#!/bin/sh\n")));
    QVERIFY(QFile::setPermissions(other.path() + QStringLiteral("/ringwarden"),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    qputenv("PATH", other.path().toLocal8Bit() + ':' + path);
    const QString notOnPath = Autostart::program();
    qputenv("PATH", path);

    QCOMPARE(onPath, QStringLiteral("ringwarden"));
    QCOMPARE(notOnPath, QCoreApplication::applicationFilePath());
}

void AutostartTest::anyPortTextSurvivesTheExecLine_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("sound");
    QTest::addColumn<QString>("exec"); // after the program's name

    QTest::newRow("a number") << "4" << false << " --listen --port 4";
    QTest::newRow("with the sound box") << "4" << true << " --listen --port 4 --sound";
    QTest::newRow("blanks") << "COM 4" << false << R"( --listen --port "COM 4")";
    QTest::newRow("a per cent sign") << "50%" << false << " --listen --port 50%%";
    QTest::newRow("blanks and per cent")
        << "my modem %f" << true << R"( --listen --port "my modem %%f" --sound)";
    QTest::newRow("a backslash") << R"(a\b)" << false << R"( --listen --port "a\\\\b")";
    QTest::newRow("dollar, quote and backtick")
        << R"($HOME "q" `x`)" << false << R"( --listen --port "\\$HOME \\"q\\" \\`x\\`")";
    QTest::newRow("shell characters")
        << "a;b|c&d<e>f*g?h#i(j)~'k'" << false << R"( --listen --port "a;b|c&d<e>f*g?h#i(j)~'k'")";
    QTest::newRow("a tab") << "a\tb" << false << R"( --listen --port "a\tb")";
    QTest::newRow("empty, as an empty box") << "" << false << R"( --listen --port "")";
    QTest::newRow("a leading dash") << "-5" << false << " --listen --port -5";
    QTest::newRow("a path with an equals sign")
        << "/dev/serial/by-id/usb-x=1" << false << " --listen --port /dev/serial/by-id/usb-x=1";
}

void AutostartTest::anyPortTextSurvivesTheExecLine()
{
    QFETCH(QString, port);
    QFETCH(bool, sound);
    QFETCH(QString, exec);
    QTemporaryDir folder;
    // A stand-in for the program that writes down the arguments it gets.
    const QString program = folder.path() + QStringLiteral("/arguments");
    const QString heard = folder.path() + QStringLiteral("/heard");
    QVERIFY(writeText(program,
        QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > '%1.part' && mv '%1.part' '%1'\n")
            .arg(heard)));
    QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const StartOptions options = listenOn(port, sound);

    QCOMPARE(Autostart::execLine(program, options), program + exec);

    const QString entry = folder.path() + QStringLiteral("/org.ringwarden.Ringwarden.desktop");
    QVERIFY(writeText(entry, Autostart::entryText(program, options)));
    const QString validate
        = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
    if (validate.isEmpty() || gio.isEmpty())
        QSKIP("desktop-file-validate or gio is missing: run tools/install-deps");
    QProcess validator;
    validator.setProcessChannelMode(QProcess::MergedChannels);
    validator.start(validate, { entry });
    QVERIFY(validator.waitForFinished(10000));
    QVERIFY2(validator.exitCode() == 0, validator.readAll().constData());

    // Launched the way GLib-based desktops launch it.
    QProcess launcher;
    launcher.setProcessChannelMode(QProcess::MergedChannels);
    launcher.start(gio, { QStringLiteral("launch"), entry });
    QVERIFY(launcher.waitForFinished(10000));
    QVERIFY2(launcher.exitCode() == 0, launcher.readAll().constData());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(heard), 10000);
    QStringList expected { QStringLiteral("--listen"), QStringLiteral("--port"), port };
    if (sound)
        expected << QStringLiteral("--sound");
    QCOMPARE(readAll(heard), expected.join(u'\n') + u'\n');
}

void AutostartTest::switchedOnOnlyWhileTheDesktopWillRunIt_data()
{
    QTest::addColumn<QString>("added"); // a line the desktop's own settings added
    QTest::addColumn<bool>("enabled");
    QTest::newRow("as written") << QString() << true;
    QTest::newRow("hidden by the desktop") << "Hidden=true" << false;
    QTest::newRow("switched off in GNOME's settings") << "X-GNOME-Autostart-enabled=false" << false;
    QTest::newRow("another group's Hidden does not count")
        << "[Desktop Action x]\nHidden=true" << true;
}

void AutostartTest::switchedOnOnlyWhileTheDesktopWillRunIt()
{
    QFETCH(QString, added);
    QFETCH(bool, enabled);
    QVERIFY(Autostart::write(listenOn(QStringLiteral("4"), false)));
    QString text = readAll(Autostart::path());
    if (!added.isEmpty())
        text.replace(QStringLiteral("X-GNOME-Autostart-enabled=true\n"), added + u'\n');
    QVERIFY(writeText(Autostart::path(), text));
    QCOMPARE(Autostart::enabled(), enabled);
}

void AutostartTest::removingAndFailing()
{
    QVERIFY(Autostart::write(listenOn(QStringLiteral("4"), false)));
    QVERIFY(Autostart::remove());
    QVERIFY(!QFileInfo::exists(Autostart::path()));
    QVERIFY(!Autostart::enabled());
    // Nothing to remove is no failure.
    QVERIFY(Autostart::remove());

    // A folder where the entry should be: the write says why and fails.
    QVERIFY(QDir().mkpath(Autostart::path()));
    QString error;
    QVERIFY(!Autostart::write(listenOn(QStringLiteral("4"), false), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!Autostart::remove(&error));
}

QTEST_MAIN(AutostartTest)
#include "tst_autostart.moc"
