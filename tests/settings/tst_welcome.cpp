// The settings window and "Start Listening": the whole run from the menu
// item to a ring, with the test playing the modem on a pseudo-terminal.

#include "Alert.h"
#include "Fakes.h"
#include "Label.h"
#include "Module2.h"
#include "PtyPair.h"
#include "RegModule.h"
#include "TextBox.h"
#include "Visual.h"
#include "welcome.h"

#include <QLockFile>
#include <QtTest>

namespace {

QString storedTone()
{
    return RegModule::GetRegValue(RegModule::HKEY_CURRENT_USER,
        QStringLiteral("Software\\Ringwarden\\Sound"), QStringLiteral("Sound"));
}

using ModemReply::kCall;
using ModemReply::kOk;

} // namespace

class WelcomeTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startsWithPortFourAndNoSound();
    void soundBoxShowsTheToneChoiceAndSetsTheAlertFlag();
    void startListeningRunsTheWholeConversation();
    void startListeningStoresTheToneOnlyWhenTheBoxIsTicked();
    void anotherRunningCopyLeavesEverythingAsItWas();
    void aPortThatDoesNotOpenStillListens();

private:
    // Chooses "Start Listening" and lets the run go on until `until`
    // seconds, then closes the Alert window as the user would.
    void listenUntil(double until);

    std::unique_ptr<TestRuntime> m_runtime;
    std::unique_ptr<welcome> m_welcome;
    RecordingMediaPlayer* m_player = nullptr;
};

void WelcomeTest::init()
{
    m_runtime = std::make_unique<TestRuntime>();
    Module2::PortHandle = 0;
    Module2::ReceivedText.clear();
    QVERIFY(Runtime::ClaimInstance());
    m_welcome = std::make_unique<welcome>();
    m_welcome->Show();
    auto player = std::make_unique<RecordingMediaPlayer>();
    m_player = player.get();
    m_welcome->alert()->setPlayer(std::move(player));
}

void WelcomeTest::cleanup()
{
    m_welcome.reset();
    Module2::ClosePort();
    Runtime::ReleaseInstance();
    m_runtime.reset();
}

void WelcomeTest::listenUntil(double until)
{
    m_runtime->clock.at(until, [this] { m_welcome->alert()->Unload(); });
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, m_welcome->mnuHidelisten_Click());
}

void WelcomeTest::startsWithPortFourAndNoSound()
{
    QCOMPARE(m_welcome->windowTitle(), QStringLiteral("Ringwarden"));
    QCOMPARE(m_welcome->Text1->text(), QStringLiteral("4"));
    QVERIFY(!m_welcome->Check1->isChecked());
    QCOMPARE(m_welcome->Combo1->currentText(), QStringLiteral("Select Ringtone"));
    QCOMPARE(m_welcome->Combo1->count(), 5);
    QVERIFY(m_welcome->Combo1->isHidden());
    QVERIFY(m_welcome->Label3->isHidden());
    QVERIFY(m_welcome->isVisible());
    // The Alert window is loaded with it, hidden.
    QVERIFY(m_welcome->alert()->isLoaded());
    QVERIFY(!m_welcome->alert()->isVisible());
}

void WelcomeTest::soundBoxShowsTheToneChoiceAndSetsTheAlertFlag()
{
    QTest::mouseClick(
        m_welcome->Check1, Qt::LeftButton, {}, QPoint(4, m_welcome->Check1->height() / 2));
    QVERIFY(m_welcome->Check1->isChecked());
    QVERIFY(m_welcome->Combo1->isVisible());
    QVERIFY(m_welcome->Label3->isVisible());
    QVERIFY(m_welcome->alert()->Check1->isChecked());

    QTest::mouseClick(
        m_welcome->Check1, Qt::LeftButton, {}, QPoint(4, m_welcome->Check1->height() / 2));
    QVERIFY(!m_welcome->Check1->isChecked());
    QVERIFY(m_welcome->Combo1->isHidden());
    QVERIFY(!m_welcome->alert()->Check1->isChecked());
    // Nothing is stored by the box itself.
    QCOMPARE(storedTone(), QString());
}

void WelcomeTest::startListeningRunsTheWholeConversation()
{
    PtyPair modem;
    m_welcome->Text1->setText(modem.slavePath());
    m_welcome->Check1->click();
    m_welcome->Combo1->setEditText(QStringLiteral("Ring #3"));

    Alert* alert = m_welcome->alert();
    QStringList captions;
    connect(alert, &QWidget::windowTitleChanged, [&](const QString& title) { captions << title; });
    QList<QByteArray> heard;
    // The modem: answers each set-up string, then reports a call.
    for (double t : { 3.3, 5.3, 7.3, 9.3, 11.3 }) {
        m_runtime->clock.at(t, [&] {
            heard << modem.read(200, 20);
            modem.write(kOk);
        });
    }
    bool visibleWhileSettingUp = false;
    m_runtime->clock.at(
        1.0, [&] { visibleWhileSettingUp = alert->isVisible() && !m_welcome->isVisible(); });
    QString captionBeforeCall;
    m_runtime->clock.at(16.0, [&] {
        captionBeforeCall = alert->windowTitle();
        modem.write(kCall);
    });
    int playsAfterCall = -1;
    m_runtime->clock.at(
        18.0, [&] { playsAfterCall = m_player->commands().count(QStringLiteral("Play")); });

    listenUntil(20.0);

    QVERIFY(visibleWhileSettingUp);
    QVERIFY(!m_welcome->isLoaded());
    QCOMPARE(heard.size(), 5);
    QCOMPARE(heard.at(0), QByteArray("ATZ\r"));
    QCOMPARE(heard.at(3), QByteArray("at+vcid=1\r"));
    // Passes at 13.2 (the replies), 15.2 (empty), 17.2 (the call) and 19.2
    // (empty again): the call is change 3 and the empty pass change 4.
    QCOMPARE(captionBeforeCall, QStringLiteral("Listening for calls"));
    QCOMPARE(captions, QStringList({ "Listening for calls", "The Phone is ringing now" }));
    QCOMPARE(alert->Text1->text(), QStringLiteral("4"));
    QCOMPARE(playsAfterCall, 1);
    QCOMPARE(m_player->commands().count(QStringLiteral("Play")), 2);
    QVERIFY(m_player->fileName().endsWith(QStringLiteral("/three.mp3")));
    QVERIFY(alert->visual());
    QCOMPARE(storedTone(), QStringLiteral("Ring #3"));
    // Closing the window closed the port.
    QVERIFY(!Module2::PortIsOpen());
}

void WelcomeTest::startListeningStoresTheToneOnlyWhenTheBoxIsTicked()
{
    RegModule::SetRegValue(RegModule::HKEY_CURRENT_USER,
        QStringLiteral("Software\\Ringwarden\\Sound"), QStringLiteral("Sound"),
        QStringLiteral("Ring #2"));
    m_welcome->Text1->setText(QStringLiteral("/dev/ringwarden-no-modem"));
    m_welcome->Combo1->setEditText(QStringLiteral("Ring #4"));
    listenUntil(14.0);
    QCOMPARE(storedTone(), QStringLiteral("Ring #2"));
}

void WelcomeTest::anotherRunningCopyLeavesEverythingAsItWas()
{
    Runtime::ReleaseInstance();
    QLockFile other(m_runtime->runtimeDir() + QStringLiteral("/ringwarden/instance.lock"));
    QVERIFY(other.tryLock(0));
    QVERIFY(!Runtime::ClaimInstance());

    m_welcome->Check1->click();
    m_welcome->mnuHidelisten_Click();

    QVERIFY(m_welcome->isVisible());
    QVERIFY(m_welcome->isLoaded());
    QVERIFY(!m_welcome->alert()->isVisible());
    QCOMPARE(Module2::PortHandle, 0);
    QCOMPARE(storedTone(), QString());
    QVERIFY(m_runtime->clock.waits().empty());
}

void WelcomeTest::aPortThatDoesNotOpenStillListens()
{
    m_welcome->Text1->setText(QString());
    Alert* alert = m_welcome->alert();
    int changes = 0;
    connect(alert->txtOut, &TextBox::Change, [&] { ++changes; });
    int passesSeen = 0;
    for (double t : { 14.0, 16.0, 18.0, 20.0 })
        m_runtime->clock.at(t, [&] { passesSeen += alert->txtOut->text().isEmpty() ? 1 : 0; });
    listenUntil(21.0);
    QCOMPARE(m_runtime->messageBox.texts(), QStringList { "COM invalid" });
    // Every pass puts the empty text into the empty box: nothing changes.
    QCOMPARE(passesSeen, 4);
    QCOMPARE(changes, 0);
    QCOMPARE(alert->windowTitle(), QStringLiteral("Activating modem..."));
    QVERIFY(alert->isVisible());
}

QTEST_MAIN(WelcomeTest)
#include "tst_welcome.moc"
