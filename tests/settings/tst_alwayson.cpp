// Always on: a run started with --listen, or by "Start Listening" while
// "Start listening when I log in" is ticked, goes straight to listening
// (after the agreement, for a new user), keeps listening when the user
// clicks the band away, and asks before the Alert window's close box stops
// it, without holding the listening loop. A plain run still ends on the
// click. The test plays the modem on a pseudo-terminal, with a clock that
// only moves when the program waits.

#include "Alert.h"
#include "Autostart.h"
#include "Eula.h"
#include "Fakes.h"
#include "Module2.h"
#include "PictureBox.h"
#include "PtyPair.h"
#include "RecordingMediaPlayer.h"
#include "RegModule.h"
#include "TextBox.h"
#include "Visual.h"
#include "welcome.h"

#include <QMenu>
#include <QtTest>

namespace {

const QString kListening = QStringLiteral("Listening for calls");
const QString kRinging = QStringLiteral("The Phone is ringing now");
const QByteArray kSecondCall
    = "\r\nRING\r\n\r\nDATE = 1208\r\nTIME = 1406\r\nNMBR = 5559876\r\nNAME = JANE ROE\r\n\r\n";

QString storedTone()
{
    return RegModule::GetRegValue(RegModule::HKEY_CURRENT_USER,
        QStringLiteral("Software\\Ringwarden\\Sound"), QStringLiteral("Sound"));
}

// Counts the times a window is shown.
class ShowCounter final : public QObject
{
public:
    int shows = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show)
            ++shows;
        return QObject::eventFilter(watched, event);
    }
};

// What the Alert window tells its listeners, one line each.
class CallRecord final : public CallListener
{
public:
    void ringReaction(const Call& call) override
    {
        heard << QStringLiteral("ring %1 %2").arg(call.serial).arg(call.caller);
    }
    void ringDismissed(const Call& call) override
    {
        heard << QStringLiteral("dismissed %1").arg(call.serial);
    }
    void callEnded(const Call& call) override
    {
        heard << QStringLiteral("ended %1").arg(call.serial);
    }
    QStringList heard;
};

} // namespace

class AlwaysOnTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void listenGoesStraightToListening();
    void theAgreementComesFirst_data();
    void theAgreementComesFirst();
    void theLogInItemWritesAndRemovesTheEntry();
    void aDismissedRingKeepsListening();
    void whichRunsAClickEnds_data();
    void whichRunsAClickEnds();
    void closingAsksWithoutHoldingTheLoop();

private:
    // The settings window as main() makes it for `options`, with recording
    // players, the agreement accepted unless `newUser`.
    void start(const StartOptions& options, bool newUser = false);
    // A modem on a pseudo-terminal that answers the five set-up strings,
    // which it keeps in `m_heard`.
    void answerTheSetUp();
    // Runs the start that the load queued until `until`, then ends it as
    // the program's own end does.
    void runQueuedStartUntil(double until);
    StartOptions listenOptions() const;
    void clickTheBand();

    std::unique_ptr<TestRuntime> m_runtime;
    std::unique_ptr<PtyPair> m_modem;
    std::unique_ptr<welcome> m_welcome;
    ShowCounter m_settingsShows;
    RecordingMediaPlayer* m_player = nullptr;
    QList<QByteArray> m_heard;
};

void AlwaysOnTest::init()
{
    m_runtime = std::make_unique<TestRuntime>();
    Module2::PortHandle = 0;
    Module2::ReceivedText.clear();
    QVERIFY(Runtime::ClaimInstance());
    m_modem = std::make_unique<PtyPair>();
    m_heard.clear();
    m_settingsShows.shows = 0;
}

void AlwaysOnTest::cleanup()
{
    m_welcome.reset();
    Module2::ClosePort();
    m_modem.reset();
    Runtime::ReleaseInstance();
    m_runtime.reset();
}

void AlwaysOnTest::start(const StartOptions& options, bool newUser)
{
    if (!newUser)
        RegModule::SetRegValue(RegModule::HKEY_CURRENT_USER, Eula::kFlagKeyPath,
            Eula::kFlagValueName, QStringLiteral("^"));
    m_welcome = std::make_unique<welcome>(options);
    m_welcome->installEventFilter(&m_settingsShows);
    m_welcome->Load();
    auto player = std::make_unique<RecordingMediaPlayer>();
    m_player = player.get();
    m_welcome->alert()->setPlayer(std::move(player));
}

void AlwaysOnTest::answerTheSetUp()
{
    for (double t : { 3.3, 5.3, 7.3, 9.3, 11.3 }) {
        m_runtime->clock.at(t, [this] {
            m_heard << m_modem->read(200, 20);
            m_modem->write(ModemReply::kOk);
        });
    }
}

void AlwaysOnTest::runQueuedStartUntil(double until)
{
    m_runtime->clock.at(until, [this] { m_welcome->alert()->Unload(); });
    QVERIFY_THROWS_EXCEPTION(
        ProgramEnded, QCoreApplication::sendPostedEvents(m_welcome.get(), QEvent::MetaCall));
}

StartOptions AlwaysOnTest::listenOptions() const
{
    StartOptions options;
    options.listen = true;
    options.port = m_modem->slavePath();
    return options;
}

void AlwaysOnTest::clickTheBand()
{
    // As picScr reports a click (the band's own tests click it with the mouse).
    Visual* band = m_welcome->alert()->visual();
    QVERIFY(band && band->isVisible());
    emit band->picScr->Click();
}

void AlwaysOnTest::listenGoesStraightToListening()
{
    RegModule::SetRegValue(RegModule::HKEY_CURRENT_USER,
        QStringLiteral("Software\\Ringwarden\\Sound"), QStringLiteral("Sound"),
        QStringLiteral("Ring #3"));
    StartOptions options = listenOptions();
    options.sound = true;
    start(options);
    Alert* alert = m_welcome->alert();
    QVERIFY(!m_welcome->isVisible());
    QVERIFY(!m_welcome->eula());
    answerTheSetUp();
    bool alertUp = false;
    m_runtime->clock.at(1.0, [&] { alertUp = alert->isVisible(); });
    m_runtime->clock.at(16.0, [this] { m_modem->write(ModemReply::kCall); });

    runQueuedStartUntil(18.0);

    QCOMPARE(m_settingsShows.shows, 0);
    QVERIFY(alertUp);
    QCOMPARE(m_heard.size(), 5);
    QCOMPARE(m_heard.at(0), QByteArray("ATZ\r"));
    QCOMPARE(m_heard.at(4), QByteArray("ATS0=0\r"));
    QCOMPARE(alert->windowTitle(), kRinging);
    // --sound plays the stored tone, and leaves it stored as it was.
    QCOMPARE(m_player->commands().count(QStringLiteral("Play")), 1);
    QVERIFY(m_player->fileName().endsWith(QStringLiteral("/three.mp3")));
    QCOMPARE(storedTone(), QStringLiteral("Ring #3"));
    QVERIFY(alert->alwaysOn());
}

void AlwaysOnTest::theAgreementComesFirst_data()
{
    QTest::addColumn<bool>("agree");
    QTest::newRow("I Agree goes on to listening") << true;
    QTest::newRow("I Disagree ends, the port untouched") << false;
}

void AlwaysOnTest::theAgreementComesFirst()
{
    QFETCH(bool, agree);
    start(listenOptions(), true);
    Eula* agreement = m_welcome->eula();
    QVERIFY(agreement && agreement->isVisible());
    QVERIFY(!m_welcome->isVisible());

    if (!agree) {
        QVERIFY_THROWS_EXCEPTION(ProgramEnded, agreement->Command2->click());
        QCOMPARE(m_modem->read(0, 0), QByteArray());
        QCOMPARE(m_settingsShows.shows, 0);
        return;
    }
    agreement->Option1->click();
    agreement->Command1->click();
    QVERIFY(!agreement->isLoaded());
    // Listening starts from the event loop, not inside the click.
    QVERIFY(!m_welcome->alert()->isVisible());
    answerTheSetUp();
    runQueuedStartUntil(14.0);
    QCOMPARE(m_heard.size(), 5);
    QCOMPARE(m_settingsShows.shows, 0);
}

void AlwaysOnTest::theLogInItemWritesAndRemovesTheEntry()
{
    start({});
    QStringList items;
    for (QAction* action : m_welcome->mnubegin->actions())
        items << action->text().remove(u'&');
    QCOMPARE(items, QStringList({ "Start Listening", "Start listening when I log in", "Exit" }));
    QAction* item = m_welcome->mnuAutostart;
    QVERIFY(item->isCheckable());

    // The menu shows whether the entry is there each time it opens.
    emit m_welcome->mnubegin->aboutToShow();
    QVERIFY(!item->isChecked());
    QVERIFY(Autostart::write(listenOptions()));
    emit m_welcome->mnubegin->aboutToShow();
    QVERIFY(item->isChecked());

    // Unticking removes it; ticking writes it with the boxes' values.
    item->trigger();
    QVERIFY(!QFileInfo::exists(Autostart::path()));
    QVERIFY(!item->isChecked());
    m_welcome->Text1->setText(QStringLiteral("COM 9"));
    m_welcome->Check1->click();
    item->trigger();
    QVERIFY(item->isChecked());
    QFile entry(Autostart::path());
    QVERIFY(entry.open(QIODevice::ReadOnly));
    QVERIFY(entry.readAll().contains(R"( --listen --port "COM 9" --sound)"));
    QVERIFY(m_runtime->messageBox.notices().isEmpty());
}

void AlwaysOnTest::aDismissedRingKeepsListening()
{
    // Ticked with one port, then started on another: the entry follows the start.
    start({});
    m_welcome->Text1->setText(QStringLiteral("COM 9"));
    m_welcome->mnuAutostart->trigger();
    m_welcome->Text1->setText(m_modem->slavePath());
    m_welcome->Check1->click();
    m_welcome->Combo1->setEditText(QStringLiteral("Ring #2"));
    Alert* alert = m_welcome->alert();
    CallRecord record;
    alert->addCallListener(&record);
    answerTheSetUp();
    // Passes at 13.2 (the replies), 15.2, 17.2 (the first call), 19.2,
    // ... 29.2 (the call has ended), ..., 41.2 (the second call).
    m_runtime->clock.at(16.0, [this] { m_modem->write(ModemReply::kCall); });
    QStringList seen;
    const auto look = [&](const QString& when) {
        seen << QStringLiteral("%1: %2 | band %3 | stealth %4 | ends %5")
                    .arg(when, alert->windowTitle())
                    .arg(alert->visual() && alert->visual()->isVisible() ? "up" : "gone")
                    .arg(alert->Command1->isVisible() ? "shown" : "hidden")
                    .arg(m_runtime->programEnd.count());
    };
    QStringList playerAtClick;
    m_runtime->clock.at(17.5, [&] {
        look(QStringLiteral("ringing"));
        m_player->mark(QStringLiteral("click"));
        clickTheBand();
        look(QStringLiteral("clicked"));
        playerAtClick = m_player->events().mid(m_player->events().indexOf(QStringLiteral("click")));
    });
    // The text emptying after the dismissed ring does not bring it back.
    m_runtime->clock.at(19.5, [&] { look(QStringLiteral("next pass")); });
    m_runtime->clock.at(40.0, [this] { m_modem->write(kSecondCall); });
    QString bandText;
    m_runtime->clock.at(41.5, [&] {
        look(QStringLiteral("second call"));
        bandText = alert->visual() ? alert->visual()->Text1->text() : QString();
    });
    m_runtime->clock.at(42.0, [alert] { alert->Unload(); });
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, m_welcome->mnuHidelisten_Click());
    alert->removeCallListener(&record);

    QCOMPARE(seen,
        QStringList({
            "ringing: " + kRinging + " | band up | stealth hidden | ends 0",
            "clicked: " + kListening + " | band gone | stealth shown | ends 0",
            "next pass: " + kListening + " | band gone | stealth shown | ends 0",
            "second call: " + kRinging + " | band up | stealth hidden | ends 0",
        }));
    // The tone stopped at the click and played again for the second call.
    QCOMPARE(playerAtClick, QStringList({ "click", "Close" }));
    const QStringList events = m_player->events();
    QCOMPARE(events.mid(events.indexOf(QStringLiteral("click"))).count(QStringLiteral("Play")), 1);
    // The second call with its own caller, on the band and to the listeners.
    QVERIFY2(
        bandText.contains(QLatin1String("5559876")) && !bandText.contains(QLatin1String("5551234")),
        qPrintable(bandText));
    QCOMPARE(record.heard,
        QStringList(
            { "ring 1 5551234 JOHN DOE", "dismissed 1", "ended 1", "ring 2 5559876 JANE ROE" }));
    // The entry now starts listening where this run listened.
    QFile entry(Autostart::path());
    QVERIFY(entry.open(QIODevice::ReadOnly));
    QVERIFY(entry.readAll().contains(
        QStringLiteral(" --listen --port %1 --sound").arg(m_modem->slavePath()).toUtf8()));
}

void AlwaysOnTest::whichRunsAClickEnds_data()
{
    QTest::addColumn<bool>("listenOption");
    QTest::addColumn<bool>("logInTicked");
    QTest::addColumn<int>("ends");
    QTest::newRow("plain Start Listening: the click ends") << false << false << 1;
    QTest::newRow("Start Listening while the log-in item is ticked: goes on") << false << true << 0;
    QTest::newRow("--listen: goes on") << true << false << 0;
}

void AlwaysOnTest::whichRunsAClickEnds()
{
    QFETCH(bool, listenOption);
    QFETCH(bool, logInTicked);
    QFETCH(int, ends);
    start(listenOption ? listenOptions() : StartOptions {});
    m_welcome->Text1->setText(m_modem->slavePath());
    if (logInTicked)
        m_welcome->mnuAutostart->trigger();
    answerTheSetUp();
    m_runtime->clock.at(16.0, [this] { m_modem->write(ModemReply::kCall); });
    bool portOpenAfterClick = false;
    m_runtime->clock.at(17.5, [&] {
        try {
            clickTheBand();
        } catch (const ProgramEnded&) { }
        portOpenAfterClick = Module2::PortIsOpen();
        if (m_runtime->programEnd.count() > 0)
            throw ProgramEnded {};
    });
    m_runtime->clock.at(20.0, [this] { m_welcome->alert()->Unload(); });
    if (listenOption)
        QVERIFY_THROWS_EXCEPTION(
            ProgramEnded, QCoreApplication::sendPostedEvents(m_welcome.get(), QEvent::MetaCall));
    else
        QVERIFY_THROWS_EXCEPTION(ProgramEnded, m_welcome->mnuHidelisten_Click());

    // Ended by the click, or still listening until the Alert window went.
    QCOMPARE(m_runtime->clock.now() < 20.0 ? 1 : 0, ends);
    QCOMPARE(portOpenAfterClick, ends == 0);
}

void AlwaysOnTest::closingAsksWithoutHoldingTheLoop()
{
    start(listenOptions());
    Alert* alert = m_welcome->alert();
    RecordingMessageBox& box = m_runtime->messageBox;
    answerTheSetUp();
    QStringList seen;
    const auto look = [&](const QString& when) {
        seen << QStringLiteral("%1: %2 | open questions %3 | shown %4")
                    .arg(when, alert->windowTitle())
                    .arg(box.unanswered())
                    .arg(alert->isVisible());
    };
    // Twice: one question is up at a time.
    m_runtime->clock.at(16.0, [&] {
        alert->close();
        alert->close();
        look(QStringLiteral("closed"));
    });
    // A call while the question is up is heard and shown.
    m_runtime->clock.at(16.5, [this] { m_modem->write(ModemReply::kCall); });
    m_runtime->clock.at(18.0, [&] { look(QStringLiteral("call")); });
    m_runtime->clock.at(18.5, [&] {
        box.answer(false);
        look(QStringLiteral("kept"));
        alert->close();
    });
    bool portOpenBeforeStop = false;
    m_runtime->clock.at(21.0, [&] {
        portOpenBeforeStop = Module2::PortIsOpen();
        box.answer(true);
    });
    QVERIFY_THROWS_EXCEPTION(
        ProgramEnded, QCoreApplication::sendPostedEvents(m_welcome.get(), QEvent::MetaCall));

    QCOMPARE(seen,
        QStringList({
            "closed: " + kListening + " | open questions 1 | shown 1",
            "call: " + kRinging + " | open questions 1 | shown 1",
            "kept: " + kRinging + " | open questions 0 | shown 1",
        }));
    QCOMPARE(box.questions().size(), 2);
    const RecordingMessageBox::Question& question = box.questions().first();
    QCOMPARE(question.text, QStringLiteral("Stop listening for calls?"));
    QCOMPARE(question.accept, QStringLiteral("Stop listening"));
    QCOMPARE(question.reject, QStringLiteral("Keep listening"));
    // "Stop listening" ended the program at once, closing the port.
    QCOMPARE(m_runtime->clock.now(), 21.0);
    QVERIFY(portOpenBeforeStop);
    QVERIFY(!Module2::PortIsOpen());
}

QTEST_MAIN(AlwaysOnTest)
#include "tst_alwayson.moc"
