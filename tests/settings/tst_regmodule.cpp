// The per-user settings store: reading and writing named text values, the
// file they live in, other processes, and damaged or unusable files.

#include "Fakes.h"
#include "RegModule.h"

#include <QDateTime>
#include <QPoint>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QtTest>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using RegModule::GetRegValue;
using RegModule::HKEY_CURRENT_USER;
using RegModule::SetRegValue;

namespace {

const QString kSound = QStringLiteral("Software\\Ringwarden\\Sound");
const QString kEula = QStringLiteral("Software\\Ringwarden\\Eula");

QString readSound()
{
    return GetRegValue(HKEY_CURRENT_USER, kSound, QStringLiteral("Sound"));
}

QString readEula()
{
    return GetRegValue(HKEY_CURRENT_USER, kEula, QStringLiteral("Eula"));
}

// Runs the helper (another process using the store) with `arguments`; its
// standard output goes to `output`. False when it did not run to a clean end.
bool runHelper(const QStringList& arguments, QString* output = nullptr)
{
    QProcess helper;
    helper.start(QStringLiteral(STORE_HELPER), arguments);
    if (!helper.waitForFinished(30000) || helper.exitStatus() != QProcess::NormalExit
        || helper.exitCode() != 0)
        return false;
    if (output)
        *output = QString::fromUtf8(helper.readAllStandardOutput());
    return true;
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(content) == content.size();
}

} // namespace

class RegModuleTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void missingValuesReadEmpty_data();
    void missingValuesReadEmpty();
    void writtenTextReadsBack_data();
    void writtenTextReadsBack();
    void valuesStoredByOthersReadAsTheFileHoldsThem_data();
    void valuesStoredByOthersReadAsTheFileHoldsThem();

    void storeIsTheUsersConfigFile_data();
    void storeIsTheUsersConfigFile();
    void writeCreatesGroupsAndKeepsOtherValues();
    void otherRootsHoldNothing();

    void anotherProcessSeesEachWrite();
    void concurrentWritersLoseNothing();

    void damagedFileReadsWhatItCanAndAWriteKeepsThat_data();
    void damagedFileReadsWhatItCanAndAWriteKeepsThat();
    void unusableFileIsNeverRewritten_data();
    void unusableFileIsNeverRewritten();
    void refusedWriteHoldsForTheRunAndIsToldOnce_data();
    void refusedWriteHoldsForTheRunAndIsToldOnce();
    void storeIsPrivateToTheUser();

private:
    std::unique_ptr<TestRuntime> m_runtime;
};

void RegModuleTest::init()
{
    m_runtime = std::make_unique<TestRuntime>();
}

void RegModuleTest::cleanup()
{
    m_runtime.reset();
}

void RegModuleTest::missingValuesReadEmpty_data()
{
    QTest::addColumn<bool>("storeExists");
    QTest::addColumn<QString>("keyPath");
    QTest::addColumn<QString>("valueName");
    QTest::newRow("no store file yet") << false << kSound << "Sound";
    QTest::newRow("missing key") << true << "Software\\Ringwarden\\Nothing"
                                 << "Sound";
    QTest::newRow("existing key, missing value") << true << kSound << "Volume";
    QTest::newRow("key path cut short") << true << "Software\\Ringwarden"
                                        << "Sound";
}

void RegModuleTest::missingValuesReadEmpty()
{
    QFETCH(bool, storeExists);
    QFETCH(QString, keyPath);
    QFETCH(QString, valueName);
    if (storeExists) {
        SetRegValue(HKEY_CURRENT_USER, kSound, QStringLiteral("Sound"), QStringLiteral("Ring #2"));
        QVERIFY(QFileInfo::exists(RegModule::storeFile()));
    }
    QCOMPARE(GetRegValue(HKEY_CURRENT_USER, keyPath, valueName), QString());
    QVERIFY2(storeExists == QFileInfo::exists(RegModule::storeFile()),
        "a read must not create the file");
}

void RegModuleTest::writtenTextReadsBack_data()
{
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("read");
    QTest::newRow("tone name") << "Ring #3"
                               << "Ring #3";
    QTest::newRow("initial box text") << "Select Ringtone"
                                      << "Select Ringtone";
    QTest::newRow("agreement flag") << "^"
                                    << "^";
    QTest::newRow("leading and trailing spaces") << "  Ring #3 "
                                                 << "  Ring #3 ";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("comma stays text") << "Ring #3, Ring #4"
                                      << "Ring #3, Ring #4";
    QTest::newRow("typed-value look-alike stays text") << "@ByteArray(Ring)"
                                                       << "@ByteArray(Ring)";
    QTest::newRow("digits") << "42"
                            << "42";
    QTest::newRow("beyond ASCII") << "Klingelton \u00e4 \u260e"
                                  << "Klingelton \u00e4 \u260e";
    QTest::newRow("cut at a NUL") << QStringLiteral("ab") + QChar(u'\0') + QStringLiteral("cd")
                                  << "ab";
}

void RegModuleTest::writtenTextReadsBack()
{
    QFETCH(QString, written);
    QFETCH(QString, read);
    SetRegValue(HKEY_CURRENT_USER, kSound, QStringLiteral("Sound"), written);
    QCOMPARE(readSound(), read);

    QString seenElsewhere;
    QVERIFY(runHelper({ QStringLiteral("get"), kSound, QStringLiteral("Sound") }, &seenElsewhere));
    QCOMPARE(seenElsewhere, read);
}

void RegModuleTest::valuesStoredByOthersReadAsTheFileHoldsThem_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("read");
    QTest::newRow("text with a terminating NUL")
        << QVariant(QStringLiteral("^") + QChar(u'\0')) << "^";
    QTest::newRow("two letters, NUL, two letters")
        << QVariant(QStringLiteral("ab") + QChar(u'\0') + QStringLiteral("cd")) << "ab";
    QTest::newRow("NUL first") << QVariant(QString(QChar(u'\0')) + QStringLiteral("Ring #1")) << "";
    QTest::newRow("empty text") << QVariant(QString()) << "";
    QTest::newRow("list") << QVariant(QStringList { "Ring #1", "Ring #2" }) << "";
    QTest::newRow("byte array") << QVariant(QByteArray("Ring #3")) << "";
    QTest::newRow("point") << QVariant(QPoint(3, 4)) << "";
    QTest::newRow("date") << QVariant(QDateTime(QDate(2024, 5, 6), QTime(7, 8), Qt::UTC)) << "";
    // The INI file has no number or boolean type: these are their text.
    QTest::newRow("number") << QVariant(42) << "42";
    QTest::newRow("fraction") << QVariant(1.5) << "1.5";
    QTest::newRow("boolean") << QVariant(true) << "true";
}

void RegModuleTest::valuesStoredByOthersReadAsTheFileHoldsThem()
{
    QFETCH(QVariant, stored);
    QFETCH(QString, read);
    {
        QSettings other(RegModule::storeFile(), QSettings::NativeFormat);
        other.setValue(QStringLiteral("Software/Ringwarden/Sound/Sound"), stored);
        other.sync();
        QCOMPARE(other.status(), QSettings::NoError);
    }
    // Read here, where QSettings may still hold the typed value, and in a
    // fresh process, which sees only the file: both must agree.
    QCOMPARE(readSound(), read);
    QString seenElsewhere;
    QVERIFY(runHelper({ QStringLiteral("get"), kSound, QStringLiteral("Sound") }, &seenElsewhere));
    QCOMPARE(seenElsewhere, read);
}

void RegModuleTest::storeIsTheUsersConfigFile_data()
{
    QTest::addColumn<bool>("xdgSet");
    QTest::addColumn<QString>("expected");
    QTest::newRow("XDG_CONFIG_HOME set") << true << "/config/ringwarden/ringwarden.conf";
    QTest::newRow("XDG_CONFIG_HOME unset") << false << "/home/.config/ringwarden/ringwarden.conf";
}

void RegModuleTest::storeIsTheUsersConfigFile()
{
    QFETCH(bool, xdgSet);
    QFETCH(QString, expected);
    const QByteArray savedHome = qgetenv("HOME");
    const auto restoreHome = qScopeGuard([&] { qputenv("HOME", savedHome); });
    qputenv("HOME", (m_runtime->home() + QStringLiteral("/home")).toLocal8Bit());
    if (!xdgSet)
        qunsetenv("XDG_CONFIG_HOME");
    const QString path = m_runtime->home() + expected;

    QCOMPARE(RegModule::storeFile(), path);
    SetRegValue(HKEY_CURRENT_USER, kEula, QStringLiteral("Eula"), QStringLiteral("^"));
    QVERIFY2(QFileInfo::exists(path), qPrintable(path));
    QCOMPARE(readEula(), QStringLiteral("^"));
    QString seenElsewhere;
    QVERIFY(runHelper({ QStringLiteral("get"), kEula, QStringLiteral("Eula") }, &seenElsewhere));
    QCOMPARE(seenElsewhere, QStringLiteral("^"));
}

void RegModuleTest::writeCreatesGroupsAndKeepsOtherValues()
{
    const QString path = m_runtime->configHome() + QStringLiteral("/ringwarden/ringwarden.conf");
    QVERIFY(!QFileInfo::exists(QFileInfo(path).absolutePath()));

    SetRegValue(HKEY_CURRENT_USER, kEula, QStringLiteral("Eula"), QStringLiteral("^"));
    SetRegValue(HKEY_CURRENT_USER, kSound, QStringLiteral("Sound"), QStringLiteral("Ring #1"));
    SetRegValue(HKEY_CURRENT_USER, kSound, QStringLiteral("Sound"), QStringLiteral("Ring #4"));

    QCOMPARE(readSound(), QStringLiteral("Ring #4"));
    QCOMPARE(readEula(), QStringLiteral("^"));
    // What someone who opens the file finds.
    QCOMPARE(contentOf(path),
        QByteArray("[Software]\n"
                   "Ringwarden\\Eula\\Eula=^\n"
                   "Ringwarden\\Sound\\Sound=Ring #4\n"));
    QVERIFY2(!QFileInfo::exists(path + QStringLiteral(".lock")),
        "the lock file must be gone after a write");
}

void RegModuleTest::otherRootsHoldNothing()
{
    const RegModule::Root localMachine = 0x80000002u;
    SetRegValue(localMachine, kSound, QStringLiteral("Sound"), QStringLiteral("Ring #5"));
    QVERIFY2(!QFileInfo::exists(RegModule::storeFile()), "another root must not write");

    SetRegValue(HKEY_CURRENT_USER, kSound, QStringLiteral("Sound"), QStringLiteral("Ring #2"));
    QCOMPARE(GetRegValue(localMachine, kSound, QStringLiteral("Sound")), QString());
    QCOMPARE(readSound(), QStringLiteral("Ring #2"));
}

void RegModuleTest::anotherProcessSeesEachWrite()
{
    // This process reads first, so that QSettings has the file cached.
    SetRegValue(HKEY_CURRENT_USER, kSound, QStringLiteral("Sound"), QStringLiteral("Ring #1"));
    QCOMPARE(readSound(), QStringLiteral("Ring #1"));

    // A change of the same length, so only the file's time tells it apart.
    QVERIFY(runHelper(
        { QStringLiteral("set"), kSound, QStringLiteral("Sound"), QStringLiteral("Ring #2") }));
    QCOMPARE(readSound(), QStringLiteral("Ring #2"));

    SetRegValue(HKEY_CURRENT_USER, kEula, QStringLiteral("Eula"), QStringLiteral("^"));
    QString eula;
    QString sound;
    QVERIFY(runHelper({ QStringLiteral("get"), kEula, QStringLiteral("Eula") }, &eula));
    QVERIFY(runHelper({ QStringLiteral("get"), kSound, QStringLiteral("Sound") }, &sound));
    QCOMPARE(eula, QStringLiteral("^"));
    QCOMPARE(sound, QStringLiteral("Ring #2"));
}

void RegModuleTest::concurrentWritersLoseNothing()
{
    // Four processes each count one value up at the same time. Every write
    // rewrites the whole file, so a writer that did not re-read the file
    // under the lock would put back another writer's older count.
    const QString key = QStringLiteral("Software\\Ringwarden\\Counters");
    const int writers = 4;
    const int count = 25;
    std::vector<std::unique_ptr<QProcess>> helpers;
    for (int i = 0; i < writers; ++i) {
        auto helper = std::make_unique<QProcess>();
        helper->start(QStringLiteral(STORE_HELPER),
            { QStringLiteral("count"), key, QStringLiteral("writer%1").arg(i),
                QString::number(count) });
        helpers.push_back(std::move(helper));
    }
    for (const auto& helper : helpers) {
        QVERIFY(helper->waitForFinished(60000));
        QCOMPARE(helper->exitCode(), 0);
    }
    for (int i = 0; i < writers; ++i)
        QCOMPARE(GetRegValue(HKEY_CURRENT_USER, key, QStringLiteral("writer%1").arg(i)),
            QString::number(count));
    QVERIFY(!QFileInfo::exists(RegModule::storeFile() + QStringLiteral(".lock")));
}

void RegModuleTest::damagedFileReadsWhatItCanAndAWriteKeepsThat_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("eula");
    const QByteArray good = "[Software]\nRingwarden\\Eula\\Eula=^\n";
    QByteArray noise;
    for (int i = 0; i < 512; ++i)
        noise.append(static_cast<char>((i * 151 + 7) % 256));

    QTest::newRow("damaged tone line")
        << QByteArray("[Software]\nRingwarden\\Sound\\Sound\nRingwarden\\Eula\\Eula=^\n") << "^";
    QTest::newRow("line without =") << good + "this line has no equals sign\n"
                                    << "^";
    QTest::newRow("section header without ]")
        << QByteArray("[Software\nRingwarden\\Eula\\Eula=^\n") << "^";
    QTest::newRow("NUL bytes after the values") << good + QByteArray(16, '\0') << "^";
    QTest::newRow("zero-filled file") << QByteArray(64, '\0') << "";
    QTest::newRow("noise") << noise << "";
    QTest::newRow("noise before the values") << noise + '\n' + good << "^";
}

void RegModuleTest::damagedFileReadsWhatItCanAndAWriteKeepsThat()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, eula);
    QVERIFY(writeFile(RegModule::storeFile(), content));

    // Start-up reads the flag, then "Start Listening" stores the tone.
    QCOMPARE(readEula(), eula);
    QCOMPARE(readSound(), QString());
    SetRegValue(HKEY_CURRENT_USER, kSound, QStringLiteral("Sound"), QStringLiteral("Ring #2"));

    QCOMPARE(readSound(), QStringLiteral("Ring #2"));
    QCOMPARE(readEula(), eula);
    // The rewritten file is sound: a fresh process reads both values.
    QString eulaElsewhere;
    QString soundElsewhere;
    QVERIFY(runHelper({ QStringLiteral("get"), kEula, QStringLiteral("Eula") }, &eulaElsewhere));
    QVERIFY(runHelper({ QStringLiteral("get"), kSound, QStringLiteral("Sound") }, &soundElsewhere));
    QCOMPARE(eulaElsewhere, eula);
    QCOMPARE(soundElsewhere, QStringLiteral("Ring #2"));
}

void RegModuleTest::unusableFileIsNeverRewritten_data()
{
    // What stands at the store's path: a folder, or the file with these
    // permissions.
    QTest::addColumn<bool>("folder");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<QString>("eula");
    QTest::newRow("folder in place of the file") << true << false << "";
    QTest::newRow("no permission at all") << false << false << "";
    QTest::newRow("read-only file") << false << true << "^";
}

void RegModuleTest::unusableFileIsNeverRewritten()
{
    QFETCH(bool, folder);
    QFETCH(bool, readable);
    QFETCH(QString, eula);
    const QString path = RegModule::storeFile();
    const QByteArray content = "[Software]\nRingwarden\\Eula\\Eula=^\n";
    const QFile::Permissions readWrite = QFile::ReadOwner | QFile::WriteOwner;
    if (folder) {
        QVERIFY(QDir().mkpath(path));
    } else {
        if (geteuid() == 0)
            QSKIP("file permissions do not bind root; run the test as an ordinary user to cover "
                  "this row");
        QVERIFY(writeFile(path, content));
        QVERIFY(QFile::setPermissions(
            path, readable ? QFile::ReadOwner | QFile::ReadUser : QFile::Permissions()));
    }
    const auto restore = qScopeGuard([&] {
        if (!folder)
            QFile::setPermissions(path, readWrite);
    });

    QCOMPARE(readEula(), eula);
    SetRegValue(HKEY_CURRENT_USER, kSound, QStringLiteral("Sound"), QStringLiteral("Ring #2"));
    QCOMPARE(readEula(), eula);
    // This process may still hold the refused value; the store does not.
    QString soundElsewhere;
    QVERIFY(runHelper({ QStringLiteral("get"), kSound, QStringLiteral("Sound") }, &soundElsewhere));
    QCOMPARE(soundElsewhere, QString());

    if (folder) {
        QVERIFY(QFileInfo(path).isDir());
    } else {
        QVERIFY(QFile::setPermissions(path, readWrite));
        QCOMPARE(contentOf(path), content);
    }
}

void RegModuleTest::refusedWriteHoldsForTheRunAndIsToldOnce_data()
{
    QTest::addColumn<bool>("fileInTheFolder");
    QTest::addColumn<QString>("reason");
    QTest::newRow("folder in place of the file") << false << "a folder stands where the file";
    QTest::newRow("file in place of the folder") << true << "is not a folder";
}

void RegModuleTest::refusedWriteHoldsForTheRunAndIsToldOnce()
{
    QFETCH(bool, fileInTheFolder);
    QFETCH(QString, reason);
    const QString path = RegModule::storeFile();
    if (fileInTheFolder)
        QVERIFY(writeFile(QFileInfo(path).absolutePath(), "not a folder"));
    else
        QVERIFY(QDir().mkpath(path));

    // The user ticked the sound box and chose a tone: it still plays this run.
    SetRegValue(HKEY_CURRENT_USER, kSound, QStringLiteral("Sound"), QStringLiteral("Ring #4"));
    QCOMPARE(readSound(), QStringLiteral("Ring #4"));
    QCOMPARE(m_runtime->messageBox.texts(), QStringList { "Settings cannot be saved" });
    const QString detail = m_runtime->messageBox.notices().first().detail;
    QVERIFY2(detail.contains(path) && detail.contains(reason), qPrintable(detail));

    // Told once; a later choice holds as well.
    SetRegValue(HKEY_CURRENT_USER, kEula, QStringLiteral("Eula"), QStringLiteral("^"));
    SetRegValue(HKEY_CURRENT_USER, kSound, QStringLiteral("Sound"), QStringLiteral("Ring #5"));
    QCOMPARE(readSound(), QStringLiteral("Ring #5"));
    QCOMPARE(readEula(), QStringLiteral("^"));
    QCOMPARE(m_runtime->messageBox.notices().size(), 1);
    // Nothing reached the store.
    QString soundElsewhere;
    QVERIFY(runHelper({ QStringLiteral("get"), kSound, QStringLiteral("Sound") }, &soundElsewhere));
    QCOMPARE(soundElsewhere, QString());
}

void RegModuleTest::storeIsPrivateToTheUser()
{
    const QString path = RegModule::storeFile();
    const mode_t previous = ::umask(022);
    const auto restore = qScopeGuard([&] { ::umask(previous); });
    SetRegValue(HKEY_CURRENT_USER, kSound, QStringLiteral("Sound"), QStringLiteral("Ring #1"));
    const auto mode = [](const QString& file) {
        struct stat status
        {
        };
        return ::stat(file.toLocal8Bit().constData(), &status) == 0 ? status.st_mode & 07777 : 0u;
    };
    QCOMPARE(mode(path), 0600u);
    QCOMPARE(mode(QFileInfo(path).absolutePath()), 0700u);
    QVERIFY(m_runtime->messageBox.notices().isEmpty());
}

QTEST_GUILESS_MAIN(RegModuleTest)
#include "tst_regmodule.moc"
