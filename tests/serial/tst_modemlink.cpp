// The modem set-up and the listening loop, with the test playing the modem
// on a pseudo-terminal and a clock that only moves when the program waits.

#include "Fakes.h"
#include "ModemLink.h"
#include "Module2.h"
#include "PtyPair.h"

#include <QtTest>

namespace {

// Records every pass of the loop with the clock's time.
class RecordingListener final : public ModemLink::Listener
{
public:
    explicit RecordingListener(const TestClock& clock)
        : m_clock(clock)
    { }
    struct Pass
    {
        double time;
        QString text;
        qint16 position = 0;
    };
    void setReceivedText(const QString& text) override { passes.append({ m_clock.now(), text }); }
    void setNmbrPos(qint16 position) override { passes.last().position = position; }
    void linkLost() override { events << QStringLiteral("lost"); }
    void linkRestored() override { events << QStringLiteral("restored"); }
    void noAnswer(const QString& portName) override
    {
        events << QStringLiteral("no answer on ") + portName;
    }
    void callEnded() override
    {
        events << QStringLiteral("call ended at %1").arg(qRound(m_clock.now() * 10) / 10.0);
    }
    QList<Pass> passes;
    QStringList events;

private:
    const TestClock& m_clock;
};

using ModemReply::kCall;
using ModemReply::kOk;

} // namespace

class ModemLinkTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void setupStringsArriveByteForByteWithTheirPauses();
    void firstPassCarriesTheRepliesAndEveryPassIsHandedOn();
    void failedOpenCarriesOnWithoutAPort();
    void aCallEndsAfterTwelveQuietSeconds();
    void nmbrPosPointsAtTheNumber_data();
    void nmbrPosPointsAtTheNumber();

private:
    // Runs the loop until the clock reaches `until`, then ends it.
    void listenUntil(RecordingListener& listener, double until);
    // Sets `modem` up, the modem answering OK to each string as it comes;
    // nothing is read meanwhile, so the replies wait for the first pass.
    void setUpAnswering(PtyPair& modem);

    std::unique_ptr<TestRuntime> m_runtime;
};

void ModemLinkTest::init()
{
    m_runtime = std::make_unique<TestRuntime>();
    Module2::PortHandle = 0;
    Module2::ReceivedText.clear();
}

void ModemLinkTest::cleanup()
{
    Module2::ClosePort();
    m_runtime.reset();
}

void ModemLinkTest::listenUntil(RecordingListener& listener, double until)
{
    m_runtime->clock.at(until, [] { Runtime::End(); });
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, ModemLink::Listen(listener));
}

void ModemLinkTest::setUpAnswering(PtyPair& modem)
{
    for (double t : { 0.3, 2.3, 4.3, 6.3, 8.3 }) {
        m_runtime->clock.at(t, [&] {
            modem.read(200, 20);
            modem.write(kOk);
        });
    }
    ModemLink::SetUpModem(QStringLiteral("COM") + modem.slavePath());
}

void ModemLinkTest::setupStringsArriveByteForByteWithTheirPauses()
{
    PtyPair modem;
    QList<QPair<double, QByteArray>> heard;
    // Listen to the line just after each moment a string is due.
    for (double t : { 0.1, 0.3, 2.3, 4.3, 6.3, 8.3, 10.1 }) {
        m_runtime->clock.at(t, [&, t] {
            const QByteArray bytes = modem.read(200, 20);
            if (!bytes.isEmpty())
                heard.append({ t, bytes });
        });
    }

    ModemLink::SetUpModem(QStringLiteral("COM") + modem.slavePath());

    QVERIFY(m_runtime->messageBox.notices().isEmpty());
    const QList<QPair<double, QByteArray>> expected {
        { 0.3, "ATZ\r" },
        { 2.3, "AT&FE0V1W2&D2&C1S0=0-C0\r" },
        { 4.3, QByteArray("ATS7=60\\T0L1M1\\N3-J1%C1\"H3\\Q3B0N1X3\r") },
        { 6.3, "at+vcid=1\r" },
        { 8.3, "ATS0=0\r" },
    };
    QCOMPARE(heard, expected);
    QCOMPARE(heard.at(2).second.size(), 36);

    QList<qint64> waits;
    for (const TestClock::Wait& wait : m_runtime->clock.waits())
        waits << ms(wait.seconds);
    QCOMPARE(waits, QList<qint64>({ 200, 2000, 2000, 2000, 2000, 2000 }));
    QCOMPARE(ms(m_runtime->clock.now()), 10200);
    QVERIFY(Module2::ReceivedText.isEmpty());
}

void ModemLinkTest::firstPassCarriesTheRepliesAndEveryPassIsHandedOn()
{
    PtyPair modem;
    setUpAnswering(modem);

    // A call during the second pause of the loop, then a quiet line.
    m_runtime->clock.at(13.0, [&] { modem.write(kCall); });
    RecordingListener listener(m_runtime->clock);
    listenUntil(listener, 19.0);

    QCOMPARE(listener.passes.size(), 5);
    QCOMPARE(listener.events, QStringList());
    const QString replies = QString::fromLatin1(kOk.repeated(5));
    QCOMPARE(listener.passes.at(0).text, replies);
    QCOMPARE(listener.passes.at(0).position, 7);
    QCOMPARE(listener.passes.at(1).text, QString());
    QCOMPARE(listener.passes.at(2).text, QString::fromLatin1(kCall));
    QCOMPARE(listener.passes.at(2).position, QString::fromLatin1(kCall).indexOf("NMBR") + 1 + 7);
    QCOMPARE(listener.passes.at(2).text.mid(listener.passes.at(2).position - 1, 7),
        QStringLiteral("5551234"));
    QCOMPARE(listener.passes.at(3).text, QString());
    QCOMPARE(listener.passes.at(3).position, 7);
    // One pass every two seconds from the end of the set-up.
    for (int i = 0; i < listener.passes.size(); ++i)
        QCOMPARE(ms(listener.passes.at(i).time), 10200 + 2000 * i);
}

void ModemLinkTest::failedOpenCarriesOnWithoutAPort()
{
    ModemLink::SetUpModem(QStringLiteral("COM/dev/ringwarden-no-modem"));
    QCOMPARE(m_runtime->messageBox.texts(), QStringList { "COM/dev/ringwarden-no-modem invalid" });
    // The set-up still takes its time, and the loop still runs.
    QCOMPARE(ms(m_runtime->clock.now()), 10200);

    RecordingListener listener(m_runtime->clock);
    Module2::ReceivedText = QStringLiteral("left over");
    m_runtime->clock.at(10.5, [] { Module2::ReceivedText = QStringLiteral("left over"); });
    listenUntil(listener, 17.0);
    // The window hears that there is no port, once; the tries to open it
    // again each pass are quiet.
    QCOMPARE(listener.events, QStringList { "lost" });
    QCOMPARE(m_runtime->messageBox.notices().size(), 1);
    QCOMPARE(listener.passes.size(), 4);
    QCOMPARE(listener.passes.at(0).text, QStringLiteral("left over"));
    for (int i = 1; i < listener.passes.size(); ++i)
        QCOMPARE(listener.passes.at(i).text, QString());
}

void ModemLinkTest::aCallEndsAfterTwelveQuietSeconds()
{
    PtyPair modem;
    setUpAnswering(modem);

    // Passes at 10.2, 12.2, ... The set-up's replies in the first are no
    // call, though the line is then quiet for 16 s. A call rings at 25 (read
    // at 26.2) and 31 (read at 32.2); the modem is then quiet until the pass
    // at 44.2, 12 s later. A second call rings 11 s after that.
    m_runtime->clock.at(25.0, [&] { modem.write(kCall); });
    m_runtime->clock.at(31.0, [&] { modem.write("\r\nRING\r\n"); });
    m_runtime->clock.at(55.0, [&] { modem.write("\r\nRING\r\n"); });
    RecordingListener listener(m_runtime->clock);
    listenUntil(listener, 75.0);

    // Each end comes once, before the text of the pass that found it.
    QCOMPARE(listener.events, QStringList({ "call ended at 44.2", "call ended at 68.2" }));
}

void ModemLinkTest::nmbrPosPointsAtTheNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("position");
    QTest::newRow("no number") << "\r\nRING\r\n" << 7;
    QTest::newRow("empty") << "" << 7;
    QTest::newRow("at the start") << "NMBR = 5551234" << 8;
    QTest::newRow("first occurrence") << "xxNMBR = 1\r\nNMBR = 2" << 10;
    QTest::newRow("lower case is not the key") << "nmbr = 5551234" << 7;
    QTest::newRow("beyond 16 bits") << QString(40000, u'x') + "NMBR = 1" << 32767;
    QTest::newRow("last position that fits") << QString(32759, u'x') + "NMBR" << 32767;
}

void ModemLinkTest::nmbrPosPointsAtTheNumber()
{
    QFETCH(QString, text);
    QFETCH(int, position);
    QCOMPARE(int(ModemLink::NmbrPos(text)), position);
}

QTEST_MAIN(ModemLinkTest)
#include "tst_modemlink.moc"
