// The Alert window: its layout, how changes of the received text become the
// alert state, the ring reaction, "Stealth mode", activation and closing.

#include "Alert.h"
#include "Fakes.h"
#include "Label.h"
#include "LoadedAlert.h"
#include "Module2.h"
#include "PictureBox.h"
#include "PtyPair.h"
#include "RecordingMediaPlayer.h"
#include "RegModule.h"
#include "Screen.h"
#include "TextBox.h"
#include "Visual.h"

#include <QtTest>

namespace {

const QString kListening = QStringLiteral("Listening for calls");
const QString kRinging = QStringLiteral("The Phone is ringing now");

void storeTone(const QString& choice)
{
    RegModule::SetRegValue(RegModule::HKEY_CURRENT_USER,
        QStringLiteral("Software\\Ringwarden\\Sound"), QStringLiteral("Sound"), choice);
}

} // namespace

class AlertTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void layoutAtNinetySixDpi();
    void firstTwoChangesOnlyCountAndCaption();
    void sameTextIsNoChange();
    void thirdChangeIsARing();
    void everyLaterChangeRingsAgainWithTheTone();
    void silentWithoutThePlaySoundFlag();
    void stealthModeHidesUntilTheNextRing();
    void aClosedBandComesBackAtTheNextRing();
    void typingCountsLikeAPass();
    void ringCountSaturates();
    void playSoundPlaysTheStoredTone();
    void activationUnloadsTheSettingsWindowWaitsAndClears();
    void aHandlerInThePassSeesTheNumberPositionOfThePassBefore();
    void closingOrClickingTheBandClosesThePortAndEnds_data();
    void closingOrClickingTheBandClosesThePortAndEnds();
    void closingWithoutAPortStillEnds();

private:
    // Puts texts into txtOut one after the other, as passes of the loop do.
    void passes(const QStringList& texts);

    std::unique_ptr<TestRuntime> m_runtime;
    std::unique_ptr<Alert> m_alert;
    RecordingMediaPlayer* m_player = nullptr;
};

void AlertTest::init()
{
    m_runtime = std::make_unique<TestRuntime>();
    m_alert = loadedAlert(&m_player);
}

void AlertTest::cleanup()
{
    m_alert.reset();
    Module2::ClosePort();
    m_runtime.reset();
}

void AlertTest::passes(const QStringList& texts)
{
    for (const QString& text : texts)
        m_alert->setReceivedText(text);
}

void AlertTest::layoutAtNinetySixDpi()
{
    // At 96 DPI a pixel is 15 twips.
    QCOMPARE(Runtime::TwipsPerPixelX(), 15.0f);
    QCOMPARE(m_alert->size(), QSize(704, 179));
    QCOMPARE(m_alert->windowTitle(), QStringLiteral("Activating modem..."));
    QCOMPARE(m_alert->txtOut->geometry(), QRect(32, 56, 659, 73));
    QVERIFY(!m_alert->txtOut->isReadOnly());
    QCOMPARE(m_alert->Command1->text(), QStringLiteral("Stealth mode"));
    QCOMPARE(m_alert->Command1->geometry(), QRect(192, 128, 352, 24));
    QCOMPARE(m_alert->Text1->text(), QStringLiteral("0"));
    QVERIFY(m_alert->Text1->isHidden());
    QVERIFY(m_alert->Check1->isHidden());
    QVERIFY(!m_alert->Check1->isChecked());
    // The call log's controls lie below the client area.
    QVERIFY(m_alert->Command3->y() >= m_alert->height());
    QVERIFY(m_alert->Label4->y() >= m_alert->height());
    QVERIFY(!m_alert->isVisible());
}

void AlertTest::firstTwoChangesOnlyCountAndCaption()
{
    m_alert->Show();
    passes({ QStringLiteral("\r\nOK\r\n\r\nOK\r\n") });
    QCOMPARE(m_alert->Text1->text(), QStringLiteral("1"));
    QCOMPARE(m_alert->windowTitle(), QStringLiteral("Activating modem..."));

    passes({ QString() });
    QCOMPARE(m_alert->Text1->text(), QStringLiteral("2"));
    QCOMPARE(m_alert->windowTitle(), kListening);
    QVERIFY(!m_alert->visual());
    QVERIFY(m_alert->Command1->isVisible());
    QVERIFY(m_player->commands().isEmpty());
}

void AlertTest::sameTextIsNoChange()
{
    passes({ QString(), QString(), QStringLiteral("OK"), QStringLiteral("OK") });
    QCOMPARE(m_alert->Text1->text(), QStringLiteral("1"));
}

void AlertTest::thirdChangeIsARing()
{
    m_alert->Show();
    m_alert->move(100, 300);
    const int left = m_alert->x();
    passes({ QStringLiteral("OK"), QString(), QStringLiteral("RING") });

    QCOMPARE(m_alert->Text1->text(), QStringLiteral("3"));
    QCOMPARE(m_alert->windowTitle(), kRinging);
    QVERIFY(m_alert->visual());
    QVERIFY(m_alert->visual()->isVisible());
    QVERIFY(m_alert->isVisible());
    QVERIFY(m_alert->Command1->isHidden());
    QCOMPARE(m_alert->y(), 0);
    QCOMPARE(m_alert->x(), left);
    // The flag is clear: no tone.
    QVERIFY(m_player->commands().isEmpty());
}

void AlertTest::everyLaterChangeRingsAgainWithTheTone()
{
    storeTone(QStringLiteral("Ring #3"));
    m_alert->Check1->setChecked(true);
    m_alert->Show();
    m_alert->move(100, 300);
    QTest::mouseClick(m_alert->Command1, Qt::LeftButton);
    // The tone starts once the band and the Alert window are up.
    QStringList atPlay;
    m_player->onCommand = [&](const QString& command) {
        if (command == QLatin1String("Play"))
            atPlay << QStringLiteral("band %1, Alert %2 at %3")
                          .arg(m_alert->visual() && m_alert->visual()->isVisible())
                          .arg(m_alert->isVisible())
                          .arg(m_alert->y());
    };
    passes({ QStringLiteral("OK"), QString() });
    QVERIFY(m_player->commands().isEmpty());

    passes({ QStringLiteral("RING") });
    QCOMPARE(m_player->commands(), QStringList({ "Close", "Open", "Play" }));
    QCOMPARE(atPlay, QStringList { "band 1, Alert 1 at 0" });
    Visual* band = m_alert->visual();
    QVERIFY(band);

    // The return to an empty box is a ring reaction too: the tone starts
    // again from the start, and the same band stays up.
    m_player->clear();
    passes({ QString() });
    QCOMPARE(m_player->commands(), QStringList({ "Close", "Open", "Play" }));
    QCOMPARE(m_alert->visual(), band);
    QCOMPARE(m_alert->windowTitle(), kRinging);
    QCOMPARE(m_alert->Text1->text(), QStringLiteral("4"));
}

void AlertTest::silentWithoutThePlaySoundFlag()
{
    storeTone(QStringLiteral("Ring #1"));
    m_alert->Show();
    passes({ QStringLiteral("OK"), QString(), QStringLiteral("RING"), QString(),
        QStringLiteral("RING") });
    QVERIFY(m_player->commands().isEmpty());
    QVERIFY(m_alert->visual());
}

void AlertTest::stealthModeHidesUntilTheNextRing()
{
    m_alert->Show();
    QTest::mouseClick(m_alert->Command1, Qt::LeftButton);
    QVERIFY(!m_alert->isVisible());
    // Still listening: changes below the ring threshold keep it hidden.
    passes({ QStringLiteral("OK"), QString() });
    QVERIFY(!m_alert->isVisible());
    passes({ QStringLiteral("RING") });
    QVERIFY(m_alert->isVisible());
    QCOMPARE(m_alert->y(), 0);
    QVERIFY(m_alert->Command1->isHidden());
}

void AlertTest::aClosedBandComesBackAtTheNextRing()
{
    m_alert->Show();
    passes({ QStringLiteral("OK"), QString(), QStringLiteral("RING") });
    Visual* first = m_alert->visual();
    QVERIFY(first);
    first->hide();
    passes({ QString() });
    QVERIFY(m_alert->visual()->isVisible());

    m_alert->visual()->Unload();
    QVERIFY(!m_alert->visual());
    passes({ QStringLiteral("RING") });
    QVERIFY(m_alert->visual());
    QVERIFY(m_alert->visual()->isVisible());
}

void AlertTest::typingCountsLikeAPass()
{
    m_alert->Show();
    m_alert->txtOut->setFocus();
    QTest::keyClicks(m_alert->txtOut, QStringLiteral("ab"));
    QCOMPARE(m_alert->Text1->text(), QStringLiteral("2"));
    QCOMPARE(m_alert->windowTitle(), kListening);
    QTest::keyClicks(m_alert->txtOut, QStringLiteral("c"));
    QCOMPARE(m_alert->windowTitle(), kRinging);
    QVERIFY(m_alert->visual());
}

void AlertTest::ringCountSaturates()
{
    m_alert->Text1->setText(QStringLiteral("32766"));
    passes({ QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c") });
    QCOMPARE(m_alert->Text1->text(), QStringLiteral("32767"));
    QCOMPARE(m_alert->windowTitle(), kRinging);
}

void AlertTest::playSoundPlaysTheStoredTone()
{
    storeTone(QStringLiteral("Ring #3"));
    QString path = QStringLiteral("unchanged");
    m_alert->PlaySound(*m_player, path);
    QVERIFY2(path.endsWith(QStringLiteral("/three.mp3")), qPrintable(path));
    QCOMPARE(m_player->fileName(), path);

    // A choice that names no tone only closes the player.
    storeTone(QStringLiteral("ring #1"));
    m_player->clear();
    path = QStringLiteral("unchanged");
    m_alert->PlaySound(*m_player, path);
    QCOMPARE(m_player->commands(), QStringList { "Close" });
    QCOMPARE(path, QStringLiteral("unchanged"));
}

void AlertTest::activationUnloadsTheSettingsWindowWaitsAndClears()
{
    Form settings;
    settings.Show();
    m_alert->setStartWindow(&settings);
    QString seenDuringWait;
    m_runtime->clock.after(2.9, [&] {
        Module2::ReceivedText = QStringLiteral("early bytes");
        seenDuringWait = QStringLiteral("waited");
    });

    m_alert->Show();

    QVERIFY(!settings.isLoaded());
    QVERIFY(!settings.isVisible());
    QCOMPARE(seenDuringWait, QStringLiteral("waited"));
    QCOMPARE(ms(m_runtime->clock.now()), 3000);
    QVERIFY(Module2::ReceivedText.isEmpty());

    // The user switches to another window and back while the loop listens:
    // another 3 s wait, and what came meanwhile is dropped again.
    Form other;
    other.Show();
    QTRY_VERIFY(!m_alert->isActiveWindow());
    Module2::ReceivedText = QStringLiteral("RING");
    m_alert->activateWindow();
    QTRY_COMPARE(ms(m_runtime->clock.now()), 6000);
    QVERIFY(Module2::ReceivedText.isEmpty());
}

void AlertTest::aHandlerInThePassSeesTheNumberPositionOfThePassBefore()
{
    PtyPair modem;
    Module2::OpenPort(QStringLiteral("COM") + modem.slavePath());
    modem.write(ModemReply::kCall);
    // Handlers that run inside a pass's assignment of the text, as the call
    // log's does, find the position of the pass before: it is set after.
    QList<int> seenInside;
    connect(m_alert->txtOut, &TextBox::Change, this, [&] { seenInside << m_alert->NmbrPos; });
    m_runtime->clock.after(3.0, [] { Runtime::End(); });
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, ModemLink::Listen(*m_alert));

    const int callPosition = int(ModemReply::kCall.indexOf("NMBR")) + 1 + 7;
    QCOMPARE(seenInside, QList<int>({ 0, callPosition }));
    QCOMPARE(m_alert->NmbrPos, 7);
}

void AlertTest::closingOrClickingTheBandClosesThePortAndEnds_data()
{
    QTest::addColumn<bool>("clickTheBand");
    QTest::newRow("closing the Alert window") << false;
    QTest::newRow("clicking the band") << true;
}

void AlertTest::closingOrClickingTheBandClosesThePortAndEnds()
{
    QFETCH(bool, clickTheBand);
    PtyPair modem;
    Module2::OpenPort(QStringLiteral("COM") + modem.slavePath());
    QVERIFY(Module2::PortIsOpen());
    m_alert->Show();
    passes({ QStringLiteral("OK"), QString(), QStringLiteral("RING") });
    Visual* band = m_alert->visual();
    QVERIFY(band && band->isVisible());
    if (clickTheBand) {
        // The click as picScr reports it (the band's own tests click it with
        // the mouse); the program's end is not thrown through Qt's event
        // delivery.
        QVERIFY_THROWS_EXCEPTION(ProgramEnded, emit band->picScr->Click());
        QVERIFY(!band->isVisible());
    } else {
        QVERIFY_THROWS_EXCEPTION(ProgramEnded, m_alert->Unload());
    }
    QCOMPARE(m_runtime->programEnd.count(), 1);
    QVERIFY(!Module2::PortIsOpen());
    // Released: the device opens again.
    Module2::PortHandle = 0;
    Module2::OpenPort(QStringLiteral("COM") + modem.slavePath());
    QVERIFY(Module2::PortIsOpen());
}

void AlertTest::closingWithoutAPortStillEnds()
{
    Module2::OpenPort(QStringLiteral("COM/dev/ringwarden-no-modem"));
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, m_alert->Unload());
    QCOMPARE(m_runtime->programEnd.count(), 1);
}

QTEST_MAIN(AlertTest)
#include "tst_alert.moc"
