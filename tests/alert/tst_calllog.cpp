// Who is calling: the call log the Alert window writes after each pass of
// the listening loop, the caller shown on the ringing band, and
// "VIEW LOG FILE".

#include "Alert.h"
#include "CallLog.h"
#include "Fakes.h"
#include "LoadedAlert.h"
#include "MediaPlayer.h"
#include "ModemLink.h"
#include "Module2.h"
#include "RecordingMediaPlayer.h"
#include "TextBox.h"
#include "Visual.h"

#include <QtTest>
#include <sys/stat.h>

namespace {

const QString kCall = QStringLiteral("\r\nRING\r\n\r\nDATE = 1208\r\nTIME = 0500\r\n"
                                     "NMBR = 5551234\r\nNAME = JOHN DOE\r\n\r\n");
const QString kCompactCall = QStringLiteral("\r\nRING\r\n\r\nNMBR=5551234\r\n");
const QString kPrivateCall = QStringLiteral("\r\nRING\r\n\r\nNMBR = P\r\nNAME = P\r\n\r\n");
const QString kOutOfAreaCall = QStringLiteral("\r\nRING\r\n\r\nNMBR = O\r\nNAME = O\r\n\r\n");
const QString kRing = QStringLiteral("\r\nRING\r\n");
// The modem's replies to the set-up and their clearing: the next change rings.
const QStringList kSetUp = { QStringLiteral("\r\nOK\r\n"), QString() };

const QByteArray kEarlier = "   01.12.26 09:15:00   5550000\r\n";

int mode(const QString& path)
{
    struct stat info
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A desktop without any program that could show the log.
class FailingProcessStarter final : public ProcessStarter
{
public:
    bool start(const QString&, const QStringList&) override
    {
        ++attempts;
        return false;
    }
    int attempts = 0;
};

} // namespace

class CallLogTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void eachCallIsLoggedOnce_data();
    void eachCallIsLoggedOnce();
    void recordLayout_data();
    void recordLayout();
    void theLogIsPrivate_data();
    void theLogIsPrivate();
    void theBandShowsTheCaller_data();
    void theBandShowsTheCaller();
    void aLongNameIsCutAndFitsTheBand();
    void viewLogFile_data();
    void viewLogFile();

private:
    // One pass of the listening loop with `text` as what the modem sent.
    void pass(const QString& text);

    std::unique_ptr<TestRuntime> m_runtime;
    std::unique_ptr<Alert> m_alert;
};

void CallLogTest::init()
{
    m_runtime = std::make_unique<TestRuntime>();
    m_alert = loadedAlert();
}

void CallLogTest::cleanup()
{
    m_alert.reset();
    m_runtime.reset();
}

void CallLogTest::pass(const QString& text)
{
    Module2::ReceivedText = text;
    m_alert->setReceivedText(Module2::ReceivedText);
    m_alert->setNmbrPos(ModemLink::NmbrPos(Module2::ReceivedText));
    Module2::ReceivedText.clear();
}

void CallLogTest::eachCallIsLoggedOnce_data()
{
    QTest::addColumn<QStringList>("passes");
    QTest::addColumn<QStringList>("numbers");
    QTest::newRow("blanks around the equals sign, more lines after")
        << QStringList { kCall } << QStringList { "5551234" };
    QTest::newRow("no blanks") << QStringList { kCompactCall } << QStringList { "5551234" };
    QTest::newRow("twenty digits are cut at fifteen")
        << QStringList { QStringLiteral("NMBR = 12345678901234567890\r\n") }
        << QStringList { "123456789012345" };
    QTest::newRow("a NUL ends the number")
        << QStringList { QStringLiteral("NMBR = 5551234") + QChar(0) + QStringLiteral("99\r\n") }
        << QStringList { "5551234" };
    QTest::newRow("one call with its rings")
        << QStringList { kCall, QString(), kRing, QString(), kRing } << QStringList { "5551234" };
    QTest::newRow("the same number calling twice") << QStringList { kCall, kRing, QString(),
        kCompactCall } << QStringList { "5551234", "5551234" };
    QTest::newRow("private, out of area, no caller ID")
        << QStringList { kPrivateCall, QString(), kOutOfAreaCall, kRing } << QStringList {};
}

void CallLogTest::eachCallIsLoggedOnce()
{
    QFETCH(QStringList, passes);
    QFETCH(QStringList, numbers);
    const QString log = CallLog::path();
    QVERIFY(QDir().mkpath(QFileInfo(log).path()));
    {
        QFile earlier(log);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write(kEarlier);
    }

    for (const QString& text : passes)
        pass(text);

    const QByteArray content = readAll(log);
    QVERIFY(content.startsWith(kEarlier));
    QList<QByteArray> records = content.mid(kEarlier.size()).split('\n');
    QVERIFY(records.takeLast().isEmpty());
    QCOMPARE(records.size(), numbers.size());
    for (qsizetype i = 0; i < records.size(); ++i) {
        // Three blanks, date and time, blanks, the number right before CR LF.
        const QRegularExpression line(
            QStringLiteral("^   [^ \r\n][^\r\n]* ") + numbers.at(i) + QStringLiteral("\r$"));
        QVERIFY2(line.match(QString::fromLatin1(records.at(i))).hasMatch(),
            records.at(i).toPercentEncoding(" /:.").constData());
    }
}

void CallLogTest::recordLayout_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QDateTime>("moment");
    QTest::addColumn<QByteArray>("record");
    const QDateTime morning(QDate(2026, 12, 8), QTime(5, 4, 3));
    QTest::newRow("C") << "C" << morning << QByteArray("   8 Dec 2026 05:04:03 5551234\r\n");
    QTest::newRow("de_DE") << "de_DE" << morning
                           << QByteArray("   08.12.26 05:04:03   5551234\r\n");
    QTest::newRow("en_US") << "en_US" << morning
                           << QByteArray("   12/8/26 5:04:03 AM  5551234\r\n");
    // The time ends in column 23: one blank still parts it from the number.
    QTest::newRow("reaching column 23") << "C" << QDateTime(QDate(2026, 12, 28), QTime(5, 4, 3))
                                        << QByteArray("   28 Dec 2026 05:04:03 5551234\r\n");
    QTest::newRow("digits of another script")
        << "ar_EG" << morning << QByteArray("   2026-12-08 05:04:03 5551234\r\n");
}

void CallLogTest::recordLayout()
{
    QFETCH(QString, locale);
    QFETCH(QDateTime, moment);
    QFETCH(QByteArray, record);
    QCOMPARE(CallLog::bytes(CallLog::record(
                 CallLog::dateTimeText(moment, QLocale(locale)), QStringLiteral("5551234"))),
        record);
}

void CallLogTest::theLogIsPrivate_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<bool>("written");
    QTest::newRow("a number") << kCall << true;
    QTest::newRow("letters write nothing but make the file") << kPrivateCall << false;
}

void CallLogTest::theLogIsPrivate()
{
    QFETCH(QString, call);
    QFETCH(bool, written);
    // A data folder that does not exist yet.
    const QString dataHome = m_runtime->home() + QStringLiteral("/new/share");
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome));
    const QString log = dataHome + QStringLiteral("/ringwarden/InBox.LOG");
    QCOMPARE(CallLog::path(), log);

    pass(call);

    QVERIFY(QFileInfo::exists(log));
    QCOMPARE(QFileInfo(log).size() > 0, written);
    QCOMPARE(mode(log), 0600);
    for (const char* folder : { "/new", "/new/share", "/new/share/ringwarden" })
        QCOMPARE(mode(m_runtime->home() + folder), 0700);
}

void CallLogTest::theBandShowsTheCaller_data()
{
    QTest::addColumn<QStringList>("passes");
    QTest::addColumn<QString>("caller");
    QTest::addColumn<QString>("text");
    const QString ringing = QStringLiteral("The phone is ringing");
    QTest::newRow("number and name")
        << kSetUp + QStringList { kCall } << "5551234 JOHN DOE" << ringing + ": 5551234 JOHN DOE";
    QTest::newRow("number alone") << kSetUp + QStringList { kCompactCall } << "5551234"
                                  << ringing + ": 5551234";
    QTest::newRow("private") << kSetUp + QStringList { kPrivateCall } << "private number"
                             << ringing + ": private number";
    QTest::newRow("out of area") << kSetUp + QStringList { kOutOfAreaCall } << "unknown number"
                                 << ringing + ": unknown number";
    QTest::newRow("no caller ID") << kSetUp + QStringList { kRing } << "" << ringing;
    QTest::newRow("control characters")
        << kSetUp + QStringList { QStringLiteral("NMBR = 5551234\r\nNAME = JO\x7fHN\tDOE\r\n") }
        << "5551234 JOHNDOE" << ringing + ": 5551234 JOHNDOE";
    QTest::newRow("kept until another caller ID")
        << kSetUp + QStringList { kCall, QString(), kRing } << "5551234 JOHN DOE"
        << ringing + ": 5551234 JOHN DOE";
    // Within a call, what later passes report is joined to it.
    QTest::newRow("name in the next pass")
        << kSetUp + QStringList { kRing + "\r\nNMBR = 5551234\r\n", "NAME = JOHN DOE\r\n" }
        << "5551234 JOHN DOE" << ringing + ": 5551234 JOHN DOE";
    QTest::newRow("name before the number")
        << kSetUp + QStringList { "NAME = JOHN DOE\r\n", kRing, "NMBR = 5551234\r\n" }
        << "5551234 JOHN DOE" << ringing + ": 5551234 JOHN DOE";
    QTest::newRow("another number drops the name heard for the first") << kSetUp
            + QStringList { kCall, "NMBR = 5550002\r\n" } << "5550002" << ringing + ": 5550002";
    QTest::newRow("spaced number") << kSetUp + QStringList { "\r\nRING\r\nNMBR = 01632 960123\r\n" }
                                   << "01632 960123" << ringing + ": 01632 960123";
    // The caller ID comes with the second pass, before any ring.
    QTest::newRow("caller ID before the band") << QStringList { QStringLiteral("\r\nOK\r\n"), kCall,
        kRing } << "5551234 JOHN DOE" << ringing + ": 5551234 JOHN DOE";
}

void CallLogTest::theBandShowsTheCaller()
{
    QFETCH(QStringList, passes);
    QFETCH(QString, caller);
    QFETCH(QString, text);
    for (const QString& each : passes)
        pass(each);
    QCOMPARE(m_alert->callerDescription(), caller);
    QVERIFY(m_alert->visual());
    QCOMPARE(m_alert->visual()->Text1->text(), text);
}

void CallLogTest::aLongNameIsCutAndFitsTheBand()
{
    const QString name(50, QLatin1Char('W'));
    for (const QString& each : kSetUp + QStringList { "NMBR = 5551234\r\nNAME = " + name + "\r\n" })
        pass(each);

    QCOMPARE(m_alert->callerDescription(), "5551234 " + name.left(40));
    const Visual* band = m_alert->visual();
    QVERIFY(band);
    QCOMPARE(band->picBuffer.width(), 1366);
    QVERIFY(band->Text1->text().startsWith(QStringLiteral("The phone is ringing: 5551234 W")));
    QVERIFY2(band->picText.width() <= band->picBuffer.width(),
        qPrintable(QString::number(band->picText.width())));
}

void CallLogTest::viewLogFile_data()
{
    QTest::addColumn<bool>("viewerStarts");
    QTest::newRow("a viewer starts") << true;
    QTest::newRow("no viewer") << false;
}

void CallLogTest::viewLogFile()
{
    QFETCH(bool, viewerStarts);
    FailingProcessStarter failing;
    if (!viewerStarts)
        Runtime::install({ nullptr, nullptr, &failing, nullptr });
    const QString log = CallLog::path();
    const auto waits = m_runtime->clock.waits().size();

    m_alert->Command3->click();
    m_alert->Command3->click();

    // Both clicks return at once, with the log there to be shown.
    QCOMPARE(m_runtime->clock.waits().size(), waits);
    QVERIFY(QFileInfo::exists(log));
    if (viewerStarts) {
        const QStringList viewer { QStringLiteral("xdg-open"), log };
        QCOMPARE(m_runtime->processStarter.started(), QList<QStringList>({ viewer, viewer }));
        QVERIFY(m_runtime->messageBox.notices().isEmpty());
    } else {
        QCOMPARE(failing.attempts, 2);
        QCOMPARE(m_runtime->messageBox.notices().size(), 2);
        QVERIFY(m_runtime->messageBox.notices().at(0).text.contains(log));
        // The notice stays up without holding the listening loop.
        QVERIFY(!m_runtime->messageBox.notices().at(0).waited);
    }
}

QTEST_MAIN(CallLogTest)
#include "tst_calllog.moc"
