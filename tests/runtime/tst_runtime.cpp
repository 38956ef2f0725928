// The runtime's services: waiting, the clock, the single-instance lock,
// appending to text files, ending the program, number conversions.

#include "Clock.h"
#include "Conversions.h"
#include "Fakes.h"
#include "Runtime.h"

#include <QElapsedTimer>
#include <QLockFile>
#include <QProcess>
#include <QTimer>
#include <QtTest>

class RuntimeTest : public QObject
{
    Q_OBJECT

private slots:
    void pauseHandlesEventsUntilTheDeadline();
    void pauseOfNothingReturnsAtOnce_data();
    void pauseOfNothingReturnsAtOnce();
    void nestedPausesEachRunTheirLength();
    void realPauseWaitsAndHandlesEvents();
    void realPauseSleepsInsteadOfSpinning();
    void timerIsSecondsSinceMidnight();

    void instanceLockIsPerUserAndSingle();
    void instanceLockOfACrashedProgramIsTakenOver();
    void instanceThatEndsLetsTheWaitingCopyTakeOver();
    void unusableLockFolderIsNotAnotherInstance();

    void appendLineKeepsWhatWasThere();
    void programFilesAreFoundBesideOrInstalled_data();
    void programFilesAreFoundBesideOrInstalled();
    void endUnwindsAndReleasesTheInstanceLock();
    void randomNumbersAreInTheUnitIntervalAndRepeatable();

    void roundingIsHalfToEven_data();
    void roundingIsHalfToEven();
    void sixteenBitOverflowIsAnError();
    void twipsBecomeWholePixels_data();
    void twipsBecomeWholePixels();
};

void RuntimeTest::pauseHandlesEventsUntilTheDeadline()
{
    TestRuntime runtime;
    int handled = 0;
    // A posted event is pending when the wait starts; a second one is posted
    // by the outside world in the middle of the wait.
    QTimer::singleShot(0, [&] { ++handled; });
    runtime.clock.after(1.0, [&] { QTimer::singleShot(0, [&] { handled += 10; }); });
    double seenAtTwo = -1;
    runtime.clock.after(2.0, [&] { seenAtTwo = runtime.clock.now(); });

    Runtime::Pause(2.5f);

    QCOMPARE(handled, 11);
    QCOMPARE(seenAtTwo, 2.0);
    QCOMPARE(runtime.clock.now(), 2.5);
}

void RuntimeTest::pauseOfNothingReturnsAtOnce_data()
{
    QTest::addColumn<float>("seconds");
    QTest::newRow("zero") << 0.0f;
    QTest::newRow("negative") << -1.5f;
    QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN();
}

void RuntimeTest::pauseOfNothingReturnsAtOnce()
{
    QFETCH(float, seconds);
    TestRuntime runtime;
    bool handled = false;
    QObject pending; // drops the event when the case ends
    QTimer::singleShot(0, &pending, [&] { handled = true; });

    Runtime::Pause(seconds);

    QVERIFY2(!handled, "no event may be handled by an empty wait");
    QVERIFY(runtime.clock.waits().empty());
    QCOMPARE(runtime.clock.now(), 0.0);
}

void RuntimeTest::nestedPausesEachRunTheirLength()
{
    TestRuntime runtime;
    // A handler inside a 2 s wait waits 3 s itself (as a window's activation
    // does): the outer wait ends when the inner one does, not earlier.
    double innerEnded = -1;
    runtime.clock.after(1.0, [&] {
        Runtime::Pause(3.0f);
        innerEnded = runtime.clock.now();
    });
    Runtime::Pause(2.0f);
    QCOMPARE(innerEnded, 4.0);
    QCOMPARE(runtime.clock.now(), 4.0);
    Runtime::Pause(2.0f);
    QCOMPARE(runtime.clock.now(), 6.0);
}

void RuntimeTest::realPauseWaitsAndHandlesEvents()
{
    SystemClock clock;
    const Runtime::Services previous = Runtime::install({ &clock, nullptr, nullptr, nullptr });
    bool early = false;
    bool late = false;
    QObject pending; // drops the late one when the case ends
    QTimer::singleShot(20, &pending, [&] { early = true; });
    QTimer::singleShot(2000, &pending, [&] { late = true; });

    QElapsedTimer elapsed;
    elapsed.start();
    Runtime::Pause(0.2f);
    const qint64 ms = elapsed.elapsed();
    Runtime::install(previous);

    QVERIFY2(early, "an event due during the wait must be handled inside it");
    QVERIFY2(!late, "an event due after the wait must not have been waited for");
    QVERIFY2(ms >= 199, qPrintable(QString::number(ms)));
}

void RuntimeTest::realPauseSleepsInsteadOfSpinning()
{
    // A waiting program must leave the processor idle: the thread's CPU time
    // over a 0.3 s wait is a small part of it.
    SystemClock clock;
    const Runtime::Services previous = Runtime::install({ &clock, nullptr, nullptr, nullptr });
    timespec before {}, after {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &before);
    Runtime::Pause(0.3f);
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &after);
    Runtime::install(previous);
    const double cpu = (after.tv_sec - before.tv_sec) + (after.tv_nsec - before.tv_nsec) / 1e9;
    QVERIFY2(cpu < 0.1, qPrintable(QStringLiteral("CPU seconds used while waiting: %1").arg(cpu)));
}

void RuntimeTest::timerIsSecondsSinceMidnight()
{
    TestClock clock(86400.0 - 1.0);
    const Runtime::Services previous = Runtime::install({ &clock, nullptr, nullptr, nullptr });
    QCOMPARE(Runtime::Timer(), 86399.0f);
    Runtime::Pause(1.5f);
    QCOMPARE(Runtime::Timer(), 0.5f);
    Runtime::install(previous);

    SystemClock real;
    const float now = real.timeOfDay();
    QVERIFY(now >= 0.0f && now < 86400.0f);
    QVERIFY(
        std::abs(now - QTime::currentTime().msecsSinceStartOfDay() / 1000.0f) < 2.0f || now < 2.0f);
}

void RuntimeTest::instanceLockIsPerUserAndSingle()
{
    TestRuntime runtime;
    QLockFile other(runtime.runtimeDir() + QStringLiteral("/ringwarden/instance.lock"));
    QDir().mkpath(runtime.runtimeDir() + QStringLiteral("/ringwarden"));

    QVERIFY(Runtime::ClaimInstance());
    QVERIFY(!Runtime::PrevInstance());
    QVERIFY2(!other.tryLock(0), "the running instance must hold the lock");
    Runtime::ReleaseInstance();

    QVERIFY(other.tryLock(0));
    QVERIFY(!Runtime::ClaimInstance());
    QVERIFY(Runtime::PrevInstance());
    other.unlock();
    Runtime::ReleaseInstance();
}

void RuntimeTest::instanceLockOfACrashedProgramIsTakenOver()
{
    TestRuntime runtime;
    const QString folder = runtime.runtimeDir() + QStringLiteral("/ringwarden");
    QDir().mkpath(folder);
    {
        // The lock file a killed instance leaves behind: it names a process
        // that no longer exists.
        QProcess holder;
        holder.setProgram(QStringLiteral("sh"));
        holder.start();
        QVERIFY(holder.waitForStarted());
        QFile lock(folder + QStringLiteral("/instance.lock"));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(QByteArray::number(holder.processId()) + "\nringwarden\n"
            + QSysInfo::machineHostName().toUtf8() + '\n');
        lock.close();
        holder.kill();
        QVERIFY(holder.waitForFinished());
    }

    QVERIFY2(Runtime::ClaimInstance(), "a lock whose owner is gone must not block a new start");
    QVERIFY(!Runtime::PrevInstance());
    Runtime::ReleaseInstance();
}

void RuntimeTest::instanceThatEndsLetsTheWaitingCopyTakeOver()
{
    TestRuntime runtime;
    QDir().mkpath(runtime.runtimeDir() + QStringLiteral("/ringwarden"));
    QLockFile first(runtime.runtimeDir() + QStringLiteral("/ringwarden/instance.lock"));
    QVERIFY(first.tryLock(0));

    // Started while the first copy runs.
    QVERIFY(!Runtime::ClaimInstance());
    QVERIFY(Runtime::PrevInstance());

    // Once the first copy has gone, this one is the running instance and
    // holds the lock against a third.
    first.unlock();
    QVERIFY(!Runtime::PrevInstance());
    QLockFile third(runtime.runtimeDir() + QStringLiteral("/ringwarden/instance.lock"));
    QVERIFY(!third.tryLock(0));
    Runtime::ReleaseInstance();
}

void RuntimeTest::unusableLockFolderIsNotAnotherInstance()
{
    TestRuntime runtime;
    // A plain file where the lock's folder should be.
    QFile blocker(runtime.runtimeDir() + QStringLiteral("/ringwarden"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    QVERIFY(Runtime::ClaimInstance());
    QVERIFY2(!Runtime::PrevInstance(), "only a live instance may stop listening");
    Runtime::ReleaseInstance();
}

void RuntimeTest::appendLineKeepsWhatWasThere()
{
    TestRuntime runtime;
    const QString path = runtime.dataHome() + QStringLiteral("/ringwarden/sub/log.txt");
    QVERIFY(Runtime::AppendLine(path, QStringLiteral("first")));
    QVERIFY(Runtime::AppendLine(path, QStringLiteral("second line")));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("first\nsecond line\n"));

    QVERIFY(!Runtime::AppendLine(runtime.home(), QStringLiteral("a folder is not a file")));
}

void RuntimeTest::programFilesAreFoundBesideOrInstalled_data()
{
    QTest::addColumn<bool>("beside");
    QTest::addColumn<bool>("installed");
    QTest::newRow("installed only") << false << true;
    QTest::newRow("build tree copy first") << true << true;
    QTest::newRow("missing: beside the program") << false << false;
}

void RuntimeTest::programFilesAreFoundBesideOrInstalled()
{
    QFETCH(bool, beside);
    QFETCH(bool, installed);
    // This test runs as <prefix>/bin/tst_runtime.
    const QString name = QStringLiteral("tone-%1%2.wav").arg(beside).arg(installed);
    const QString besidePath = QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
    const QString installedPath = QStringLiteral(INSTALLED_DATA_DIR "/") + name;
    QVERIFY(QDir().mkpath(QStringLiteral(INSTALLED_DATA_DIR)));
    for (const auto& [wanted, path] :
        { std::pair { beside, besidePath }, { installed, installedPath } }) {
        QFile::remove(path);
        QFile file(path);
        QVERIFY(!wanted || file.open(QIODevice::WriteOnly));
    }

    const QString found = QDir::cleanPath(Runtime::ProgramFile(name));
    QFile::remove(besidePath);
    QFile::remove(installedPath);
    QCOMPARE(found, !beside && installed ? installedPath : besidePath);
}

void RuntimeTest::endUnwindsAndReleasesTheInstanceLock()
{
    TestRuntime runtime;
    QVERIFY(Runtime::ClaimInstance());
    bool after = false;
    try {
        Runtime::End();
        after = true;
    } catch (const ProgramEnded&) { }
    QVERIFY(!after);
    QCOMPARE(runtime.programEnd.count(), 1);
    QLockFile lock(runtime.runtimeDir() + QStringLiteral("/ringwarden/instance.lock"));
    QVERIFY2(lock.tryLock(0), "an ended program must not keep the instance lock");
}

void RuntimeTest::randomNumbersAreInTheUnitIntervalAndRepeatable()
{
    Runtime::Randomize(1234.5f);
    QList<double> first;
    for (int i = 0; i < 1000; ++i) {
        const double r = Runtime::Rnd();
        QVERIFY(r >= 0.0 && r < 1.0);
        first << r;
    }
    Runtime::Randomize(1234.5f);
    for (int i = 0; i < 1000; ++i)
        QCOMPARE(Runtime::Rnd(), first.at(i));
    Runtime::Randomize(1234.75f);
    QVERIFY(Runtime::Rnd() != first.at(0));
}

void RuntimeTest::roundingIsHalfToEven_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("rounded");
    QTest::newRow("2.5") << 2.5 << 2;
    QTest::newRow("3.5") << 3.5 << 4;
    QTest::newRow("-2.5") << -2.5 << -2;
    QTest::newRow("0.5") << 0.5 << 0;
    QTest::newRow("1.5") << 1.5 << 2;
    QTest::newRow("2.4999") << 2.4999 << 2;
    QTest::newRow("248.18") << 248.18 << 248;
    QTest::newRow("254.55") << 254.55 << 255;
}

void RuntimeTest::roundingIsHalfToEven()
{
    QFETCH(double, value);
    QFETCH(int, rounded);
    QCOMPARE(Conversions::toInt16(value), rounded);
    QCOMPARE(Conversions::toInt32(value), rounded);
}

void RuntimeTest::sixteenBitOverflowIsAnError()
{
    QCOMPARE(Conversions::toInt16(32767.4), 32767);
    QCOMPARE(Conversions::toInt16(-32768.0), -32768);
    QVERIFY_THROWS_EXCEPTION(std::overflow_error, Conversions::toInt16(32767.5));
    QVERIFY_THROWS_EXCEPTION(std::overflow_error, Conversions::toInt16(-32769.0));
    QVERIFY_THROWS_EXCEPTION(std::overflow_error, Conversions::toInt16(std::nan("")));
    QVERIFY_THROWS_EXCEPTION(std::overflow_error, Conversions::toInt32(3e9));
}

void RuntimeTest::twipsBecomeWholePixels_data()
{
    QTest::addColumn<double>("twips");
    QTest::addColumn<double>("perPixel");
    QTest::addColumn<int>("pixels");
    QTest::newRow("client width at 96 dpi") << 10560.0 << 15.0 << 704;
    QTest::newRow("fraction dropped") << 1670.0 << 15.0 << 111;
    QTest::newRow("twips rounded first") << 29.6 << 15.0 << 2;
    QTest::newRow("twips per pixel rounded first") << 300.0 << 14.5 << 21;
    QTest::newRow("120 dpi") << 1440.0 << 12.0 << 120;
}

void RuntimeTest::twipsBecomeWholePixels()
{
    QFETCH(double, twips);
    QFETCH(double, perPixel);
    QFETCH(int, pixels);
    QCOMPARE(Conversions::twipsToPixels(twips, perPixel), pixels);
}

QTEST_MAIN(RuntimeTest)
#include "tst_runtime.moc"
