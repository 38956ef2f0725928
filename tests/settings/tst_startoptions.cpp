// The command line: the forms the program accepts, what ends it at once
// (help, version, a mistake), and, run as the real program, that a mistake
// or a second copy started to listen touches nothing.

#include "Fakes.h"
#include "PtyPair.h"
#include "StartOptions.h"

#include <QDirIterator>
#include <QLockFile>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

class StartOptionsTest : public QObject
{
    Q_OBJECT

private slots:
    void acceptedForms_data();
    void acceptedForms();
    void mistakesEndWithStatusTwo_data();
    void mistakesEndWithStatusTwo();
    void helpAndVersionEndAtOnce();
    void theProgramTouchesNothingOnAMistake_data();
    void theProgramTouchesNothingOnAMistake();
    void aSecondCopyStartedToListenLeavesAtOnce();

private:
    // Runs the built program with `arguments` in a home folder of its own;
    // returns its exit status (-1 when it did not end).
    int run(const QStringList& arguments, const QString& home, QByteArray* out, QByteArray* err);
};

void StartOptionsTest::acceptedForms_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("listen");
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("sound");

    QTest::newRow("none: the plain start") << QStringList() << false << "4" << false;
    QTest::newRow("--listen alone: port 4, no sound")
        << QStringList { "--listen" } << true << "4" << false;
    QTest::newRow("all three") << QStringList { "--listen", "--port", "2", "--sound" } << true
                               << "2" << true;
    QTest::newRow("--port=VALUE") << QStringList { "--port=/dev/ttyACM0" } << false
                                  << "/dev/ttyACM0" << false;
    QTest::newRow("a port text with blanks and %")
        << QStringList { "--port", "COM 4 50%", "--listen" } << true << "COM 4 50%" << false;
    QTest::newRow("a port text that starts with a dash")
        << QStringList { "--port", "-5", "--listen" } << true << "-5" << false;
    QTest::newRow("an empty port text, as an empty box")
        << QStringList { "--port=" } << false << "" << false;
    QTest::newRow("single dash, as Qt programs take them")
        << QStringList { "-listen", "-sound" } << true << "4" << true;
    QTest::newRow("Qt's own options are left to Qt")
        << QStringList { "-platform", "xcb", "--listen", "-display", ":1", "-reverse" } << true
        << "4" << false;
}

void StartOptionsTest::acceptedForms()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, listen);
    QFETCH(QString, port);
    QFETCH(bool, sound);
    const StartOptions::Parsed parsed
        = StartOptions::parse(QStringList { QStringLiteral("ringwarden") } + arguments);
    QVERIFY2(!parsed.exit, qPrintable(parsed.error));
    QCOMPARE(parsed.options.listen, listen);
    QCOMPARE(parsed.options.port, port);
    QCOMPARE(parsed.options.sound, sound);
}

void StartOptionsTest::mistakesEndWithStatusTwo_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("named"); // what the message must name

    QTest::newRow("an unknown option") << QStringList { "--listen", "--bogus" } << "bogus";
    QTest::newRow("--port without its value") << QStringList { "--listen", "--port" } << "--port";
    QTest::newRow("a value for --sound") << QStringList { "--sound=yes" } << "--sound";
    QTest::newRow("an argument the program does not take") << QStringList { "COM4" } << "COM4";
}

void StartOptionsTest::mistakesEndWithStatusTwo()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, named);
    const StartOptions::Parsed parsed
        = StartOptions::parse(QStringList { QStringLiteral("ringwarden") } + arguments);
    QVERIFY(parsed.exit);
    QCOMPARE(parsed.exitStatus, 2);
    QVERIFY(parsed.output.isEmpty());
    QVERIFY2(parsed.error.startsWith(QLatin1String("ringwarden: ")), qPrintable(parsed.error));
    QVERIFY2(parsed.error.contains(named), qPrintable(parsed.error));
    QVERIFY(!parsed.error.contains(u'\n'));
}

void StartOptionsTest::helpAndVersionEndAtOnce()
{
    for (const char* option : { "--help", "-h" }) {
        const StartOptions::Parsed help
            = StartOptions::parse({ QStringLiteral("ringwarden"), QString::fromLatin1(option) });
        QVERIFY(help.exit);
        QCOMPARE(help.exitStatus, 0);
        QVERIFY(help.error.isEmpty());
        QVERIFY2(
            help.output.startsWith(QLatin1String("Usage: ringwarden ")), qPrintable(help.output));
        for (const char* listed : { "--listen", "--port <PORT>", "--sound", "--version" })
            QVERIFY2(help.output.contains(QLatin1String(listed)), listed);
        // Qt's options are Qt's to explain.
        QVERIFY(!help.output.contains(QLatin1String("platform")));
    }
    const StartOptions::Parsed version
        = StartOptions::parse({ QStringLiteral("ringwarden"), QStringLiteral("--version") });
    QVERIFY(version.exit);
    QCOMPARE(version.exitStatus, 0);
    QVERIFY2(QRegularExpression(QStringLiteral("^ringwarden \\d+\\.\\d+(\\.\\d+)?\\n$"))
                 .match(version.output)
                 .hasMatch(),
        qPrintable(version.output));
}

int StartOptionsTest::run(
    const QStringList& arguments, const QString& home, QByteArray* out, QByteArray* err)
{
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/run"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(RINGWARDEN), arguments);
    if (!program.waitForFinished(20000)) {
        program.kill();
        program.waitForFinished();
        return -1;
    }
    *out = program.readAllStandardOutput();
    *err = program.readAllStandardError();
    return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
}

void StartOptionsTest::theProgramTouchesNothingOnAMistake_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::newRow("unknown option") << QStringList { "--listen", "--bogus" } << 2;
    QTest::newRow("missing value") << QStringList { "--listen", "--port" } << 2;
    QTest::newRow("--help") << QStringList { "--help" } << 0;
}

void StartOptionsTest::theProgramTouchesNothingOnAMistake()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QTemporaryDir home;
    QByteArray out;
    QByteArray err;
    QCOMPARE(run(arguments, home.path(), &out, &err), status);
    if (status == 2) {
        QVERIFY(out.isEmpty());
        // One line, and nothing from Qt: the program ended before it started.
        QCOMPARE(err.count('\n'), 1);
        QVERIFY2(err.startsWith("ringwarden: "), err.constData());
    } else {
        QVERIFY(out.startsWith("Usage: ringwarden"));
        QVERIFY2(err.isEmpty(), err.constData());
    }
    // Nothing made in the home folder: no settings, no lock, no log.
    QDirIterator made(home.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
        QDirIterator::Subdirectories);
    QVERIFY2(!made.hasNext(), qPrintable(made.hasNext() ? made.next() : QString()));
}

void StartOptionsTest::aSecondCopyStartedToListenLeavesAtOnce()
{
    QTemporaryDir home;
    // The first copy, as far as the second can tell: it holds the lock.
    QVERIFY(QDir().mkpath(home.path() + QStringLiteral("/run/ringwarden")));
    // A runtime folder that is not private is not used.
    QVERIFY(QFile::setPermissions(home.path() + QStringLiteral("/run"),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QLockFile first(home.path() + QStringLiteral("/run/ringwarden/instance.lock"));
    QVERIFY(first.tryLock(0));
    PtyPair modem;

    QByteArray out;
    QByteArray err;
    QCOMPARE(run({ QStringLiteral("--listen"), QStringLiteral("--port"), modem.slavePath() },
                 home.path(), &out, &err),
        0);
    QCOMPARE(err, QByteArray("Ringwarden is already running\n"));
    QVERIFY(out.isEmpty());
    // The port was never set up: the modem heard nothing.
    QCOMPARE(modem.read(0, 0), QByteArray());
    // Nothing stored either.
    QVERIFY(!QFileInfo::exists(home.path() + QStringLiteral("/config/ringwarden")));
}

QTEST_MAIN(StartOptionsTest)
#include "tst_startoptions.moc"
