// The settings window for a user who has accepted the agreement: its
// controls, the preview, the help window, the ways out, and "Start
// Listening": the whole run from the menu item to a ring, with the test
// playing the modem on a pseudo-terminal.

#include "Alert.h"
#include "Eula.h"
#include "Fakes.h"
#include "Image.h"
#include "Label.h"
#include "Module2.h"
#include "PtyPair.h"
#include "Qhelp.h"
#include "RecordingMediaPlayer.h"
#include "RegModule.h"
#include "TextBox.h"
#include "Visual.h"
#include "welcome.h"

#include <QLockFile>
#include <QMenu>
#include <QRegularExpression>
#include <QtTest>
#include <optional>

namespace {

QString storedTone()
{
    return RegModule::GetRegValue(RegModule::HKEY_CURRENT_USER,
        QStringLiteral("Software\\Ringwarden\\Sound"), QStringLiteral("Sound"));
}

void clickCheckBox(QCheckBox* box)
{
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(4, box->height() / 2));
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
    void previewPlaysTheBoxsTone_data();
    void previewPlaysTheBoxsTone();
    void theToneBoxKeepsTheTextAsTyped_data();
    void theToneBoxKeepsTheTextAsTyped();
    void whatsThisShowsOneHelpWindow();
    void exitAndTheCloseBoxEndTheProgram_data();
    void exitAndTheCloseBoxEndTheProgram();
    void everyCaptionFitsItsRectangle();
    void startListeningRunsTheWholeConversation();
    void theLogTellsTheConversationOnlyWhenSwitchedOn_data();
    void theLogTellsTheConversationOnlyWhenSwitchedOn();
    void startListeningStoresTheToneOnlyWhenTheBoxIsTicked_data();
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
    RecordingMediaPlayer* m_preview = nullptr;
};

void WelcomeTest::init()
{
    m_runtime = std::make_unique<TestRuntime>();
    Module2::PortHandle = 0;
    Module2::ReceivedText.clear();
    QVERIFY(Runtime::ClaimInstance());
    // A user who has accepted the agreement in an earlier run.
    RegModule::SetRegValue(RegModule::HKEY_CURRENT_USER, Eula::kFlagKeyPath, Eula::kFlagValueName,
        QStringLiteral("^"));
    m_welcome = std::make_unique<welcome>();
    m_welcome->Load();
    auto player = std::make_unique<RecordingMediaPlayer>();
    m_player = player.get();
    m_welcome->alert()->setPlayer(std::move(player));
    auto preview = std::make_unique<RecordingMediaPlayer>();
    m_preview = preview.get();
    m_welcome->setPlayer(std::move(preview));
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
    QVERIFY(m_welcome->isVisible());
    QVERIFY(!m_welcome->eula());
    QCOMPARE(m_welcome->Text1->text(), QStringLiteral("4"));
    QVERIFY(!m_welcome->Check1->isChecked());
    QCOMPARE(m_welcome->Combo1->currentText(), QStringLiteral("Select Ringtone"));
    QCOMPARE(m_welcome->Combo1->count(), 5);
    for (QWidget* toneControl :
        std::initializer_list<QWidget*> { m_welcome->Combo1, m_welcome->Label3, m_welcome->Image2 })
        QVERIFY(toneControl->isHidden());
    // The backdrop is there, under the controls.
    QCOMPARE(m_welcome->Image1->pixmap().size(), QSize(640, 480));
    QVERIFY(m_welcome->Image1->isVisible());
    // The Alert window is loaded with it, hidden.
    QVERIFY(m_welcome->alert()->isLoaded());
    QVERIFY(!m_welcome->alert()->isVisible());
}

void WelcomeTest::soundBoxShowsTheToneChoiceAndSetsTheAlertFlag()
{
    const std::initializer_list<QWidget*> toneControls
        = { m_welcome->Combo1, m_welcome->Label3, m_welcome->Image2 };
    clickCheckBox(m_welcome->Check1);
    QVERIFY(m_welcome->Check1->isChecked());
    for (QWidget* control : toneControls)
        QVERIFY(control->isVisible());
    QVERIFY(m_welcome->alert()->Check1->isChecked());

    clickCheckBox(m_welcome->Check1);
    QVERIFY(!m_welcome->Check1->isChecked());
    for (QWidget* control : toneControls)
        QVERIFY(control->isHidden());
    QVERIFY(!m_welcome->alert()->Check1->isChecked());
    // Nothing is stored by the box itself.
    QCOMPARE(storedTone(), QString());
}

void WelcomeTest::previewPlaysTheBoxsTone_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("file"); // "" when nothing plays

    QTest::newRow("the box's first text plays the first tone")
        << QStringLiteral("Select Ringtone") << QStringLiteral("one.wav");
    QTest::newRow("a tone from the list")
        << QStringLiteral("Ring #4") << QStringLiteral("four.wav");
    QTest::newRow("a text outside the table") << QStringLiteral("Ring #6") << QString();
    QTest::newRow("letter case counts") << QStringLiteral("ring #1") << QString();
}

void WelcomeTest::previewPlaysTheBoxsTone()
{
    QFETCH(QString, text);
    QFETCH(QString, file);
    clickCheckBox(m_welcome->Check1);
    m_welcome->Combo1->setEditText(text);
    QTest::mouseClick(m_welcome->Image2, Qt::LeftButton);

    QStringList expected { QStringLiteral("Close") };
    if (!file.isEmpty()) {
        expected << QStringLiteral("fileName=") + Runtime::ProgramFile(file)
                 << QStringLiteral("Open") << QStringLiteral("Play") << QStringLiteral("wait");
    }
    QCOMPARE(m_preview->events(), expected);
    // The Alert window's player is not the preview's.
    QVERIFY(m_player->events().isEmpty());
}

void WelcomeTest::theToneBoxKeepsTheTextAsTyped_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("file"); // what the preview plays, "" for nothing

    QTest::newRow("lower case is not completed to a listed tone") << "ring #1" << QString();
    QTest::newRow("a beginning is not completed") << "Ring #" << QString();
    QTest::newRow("a text outside the list") << "Ring #6" << QString();
    QTest::newRow("a listed tone typed in full") << "Ring #2"
                                                 << "two.wav";
}

void WelcomeTest::theToneBoxKeepsTheTextAsTyped()
{
    QFETCH(QString, typed);
    QFETCH(QString, file);
    clickCheckBox(m_welcome->Check1);
    QLineEdit* edit = m_welcome->Combo1->lineEdit();
    edit->selectAll();
    QTest::keyClicks(edit, typed);
    QTest::keyClick(edit, Qt::Key_Return);

    QCOMPARE(m_welcome->Combo1->currentText(), typed);
    // Enter adds nothing to the list.
    QCOMPARE(m_welcome->Combo1->count(), 5);
    QTest::mouseClick(m_welcome->Image2, Qt::LeftButton);
    QCOMPARE(m_preview->fileName(), file.isEmpty() ? QString() : Runtime::ProgramFile(file));
    // Stored as typed.
    m_welcome->newchoice();
    QCOMPARE(storedTone(), typed);
}

void WelcomeTest::whatsThisShowsOneHelpWindow()
{
    m_welcome->mnugethelp->trigger();
    Qhelp* help = m_welcome->help();
    QVERIFY(help);
    const QString original = help->Text1->text();
    QVERIFY(original.trimmed().startsWith(QStringLiteral("Ringwarden  Help")));
    QCOMPARE(help->windowTitle(), QStringLiteral("Ringwarden Help"));

    // Chosen again while it is open: the same window, as the user left it.
    help->Text1->setText(original + QStringLiteral("my note"));
    m_welcome->mnugethelp->trigger();
    QCOMPARE(m_welcome->help(), help);
    QVERIFY(help->Text1->text().endsWith(QStringLiteral("my note")));

    // Closed, it comes back afresh: what was typed is gone.
    help->close();
    m_welcome->mnugethelp->trigger();
    QVERIFY(m_welcome->help()->isVisible());
    QCOMPARE(m_welcome->help()->Text1->text(), original);
    int helpWindows = 0;
    for (QWidget* window : QApplication::topLevelWidgets())
        helpWindows += qobject_cast<Qhelp*>(window) ? 1 : 0;
    QCOMPARE(helpWindows, 1);
}

void WelcomeTest::exitAndTheCloseBoxEndTheProgram_data()
{
    QTest::addColumn<bool>("byMenu");
    QTest::newRow("Start > Exit") << true;
    QTest::newRow("the close box") << false;
}

void WelcomeTest::exitAndTheCloseBoxEndTheProgram()
{
    QFETCH(bool, byMenu);
    if (byMenu)
        QVERIFY_THROWS_EXCEPTION(ProgramEnded, m_welcome->mnuExit->trigger());
    else
        QVERIFY_THROWS_EXCEPTION(ProgramEnded, m_welcome->close());
    QCOMPARE(m_runtime->programEnd.count(), 1);
}

void WelcomeTest::everyCaptionFitsItsRectangle()
{
    // Every caption the user reads, in the font it is drawn in, against the
    // rectangle it is given: nothing may be cut off.
    clickCheckBox(m_welcome->Check1);
    Eula agreement;
    QList<QWidget*> captions;
    for (QWidget* window : std::initializer_list<QWidget*> { m_welcome.get(), &agreement }) {
        for (Label* label : window->findChildren<Label*>())
            captions += label;
    }
    captions += agreement.Command1;
    captions += agreement.Command2;
    QCOMPARE(captions.size(), 6);
    for (QWidget* control : captions) {
        const QString text = qobject_cast<QLabel*>(control)
            ? qobject_cast<QLabel*>(control)->text()
            : qobject_cast<QPushButton*>(control)->text();
        const QFontMetrics metrics(control->font());
        // A button's text keeps a few pixels off its border.
        const int border = qobject_cast<QPushButton*>(control) ? 8 : 0;
        QVERIFY2(metrics.horizontalAdvance(text) + border <= control->width()
                && metrics.height() <= control->height(),
            qPrintable(QStringLiteral("\"%1\" needs %2 x %3, has %4 x %5")
                           .arg(text)
                           .arg(metrics.horizontalAdvance(text) + border)
                           .arg(metrics.height())
                           .arg(control->width())
                           .arg(control->height())));
    }
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

void WelcomeTest::theLogTellsTheConversationOnlyWhenSwitchedOn_data()
{
    QTest::addColumn<QString>("rules");
    QTest::newRow("default rules: nothing") << QString();
    QTest::newRow("ringwarden.*=true: the whole conversation")
        << QStringLiteral("ringwarden.*=true");
}

void WelcomeTest::theLogTellsTheConversationOnlyWhenSwitchedOn()
{
    QFETCH(QString, rules);
    PtyPair modem;
    m_welcome->Text1->setText(modem.slavePath());
    m_welcome->Check1->click();
    for (double t : { 3.3, 5.3, 7.3, 9.3, 11.3 }) {
        m_runtime->clock.at(t, [&] {
            (void)modem.read(200, 20);
            modem.write(kOk);
        });
    }
    m_runtime->clock.at(16.0, [&] { modem.write(kCall); });
    std::optional<CapturedLog> log;
    log.emplace(rules);

    listenUntil(20.0);

    const QList<CapturedLog::Line> lines = log->lines();
    log.reset();
    // The caller's number never shows above debug level.
    for (const CapturedLog::Line& line : lines)
        QVERIFY2(line.type == QtDebugMsg || !line.message.contains(QLatin1String("5551234")),
            qPrintable(line.message));
    if (rules.isEmpty()) {
        QVERIFY2(lines.isEmpty(), qPrintable(lines.value(0).message));
        return;
    }
    auto has = [&](const QString& category, const QString& pattern) {
        const QRegularExpression expression(pattern);
        for (const CapturedLog::Line& line : lines) {
            if (line.category == category && expression.match(line.message).hasMatch())
                return true;
        }
        return false;
    };
    const QString serial = QStringLiteral("ringwarden.serial");
    const QString time = QStringLiteral(R"(^\d\d:\d\d:\d\d\.\d{3} )");
    QVERIFY(
        has(serial, QStringLiteral("^opened COM") + QRegularExpression::escape(modem.slavePath())));
    QVERIFY(has(serial,
        QStringLiteral("^settings read back: 57600 baud, 8 data bits, no parity, 1 stop bit, ")));
    QVERIFY(has(serial, time + QStringLiteral(R"(sent "ATZ\\r"$)")));
    QVERIFY(has(serial, time + QStringLiteral(R"(sent "at\+vcid=1\\r"$)")));
    QVERIFY(has(serial, time + QStringLiteral(R"(received "\\r\\nOK\\r\\n)")));
    QVERIFY(
        has(serial, time + QStringLiteral(R"(received "\\r\\nRING\\r\\n\\r\\nDATE = 1208\\r\\n)")));
    QVERIFY(has(serial, time + QStringLiteral("received nothing$")));
    QVERIFY(has(QStringLiteral("ringwarden.listen"), QStringLiteral("^pass 3 - 71 bytes$")));
    const QString alert = QStringLiteral("ringwarden.alert");
    QVERIFY(has(alert, QStringLiteral("^change 2 \\(ring count 2\\): listening for calls$")));
    QVERIFY(has(alert,
        QStringLiteral("^ring reaction: change 3 \\(ring count 3\\), band shown, window raised, "
                       "tone started \\(call 1, ring 1\\)$")));
    QVERIFY(has(alert, QStringLiteral("^caller ID: 5551234 JOHN DOE$")));
    QVERIFY(has(alert, QStringLiteral(R"(^call log: wrote ".*5551234\\r\\n" to )")));
}

void WelcomeTest::startListeningStoresTheToneOnlyWhenTheBoxIsTicked_data()
{
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("stored");

    QTest::newRow("ticked: the box's text as it stands")
        << true << QStringLiteral("Select Ringtone") << QStringLiteral("Select Ringtone");
    QTest::newRow("unticked: the earlier choice stays")
        << false << QStringLiteral("Ring #4") << QStringLiteral("Ring #2");
}

void WelcomeTest::startListeningStoresTheToneOnlyWhenTheBoxIsTicked()
{
    QFETCH(bool, ticked);
    QFETCH(QString, text);
    QFETCH(QString, stored);
    RegModule::SetRegValue(RegModule::HKEY_CURRENT_USER,
        QStringLiteral("Software\\Ringwarden\\Sound"), QStringLiteral("Sound"),
        QStringLiteral("Ring #2"));
    m_welcome->Text1->setText(QStringLiteral("/dev/ringwarden-no-modem"));
    if (ticked)
        clickCheckBox(m_welcome->Check1);
    m_welcome->Combo1->setEditText(text);
    listenUntil(14.0);
    QCOMPARE(storedTone(), stored);
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
    // A second "Start Listening" while the first one runs does nothing: the
    // port is tried once.
    m_runtime->clock.at(14.5, [this] { m_welcome->mnuHidelisten_Click(); });
    listenUntil(21.0);
    QCOMPARE(m_runtime->messageBox.texts(), QStringList { "COM invalid" });
    // Every pass puts the empty text into the empty box: nothing changes.
    QCOMPARE(passesSeen, 4);
    QCOMPARE(changes, 0);
    // Not a normal caption: the port is tried again every pass.
    QCOMPARE(alert->windowTitle(), QStringLiteral("Modem disconnected - reconnecting..."));
    QVERIFY(alert->isVisible());
}

QTEST_MAIN(WelcomeTest)
#include "tst_welcome.moc"
