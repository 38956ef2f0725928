// The status icon of an always-on run: its picture follows the calls and the
// line, its tooltip the Alert window's caption, and its menu does what it
// says. Without a tray (as here, offscreen) nothing depends on it being seen.

#include "Alert.h"
#include "Fakes.h"
#include "LoadedAlert.h"
#include "Module2.h"
#include "PictureBox.h"
#include "PtyPair.h"
#include "RecordingMediaPlayer.h"
#include "StatusIcon.h"
#include "Visual.h"

#include <QtTest>

class StatusIconTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void onlyAnAlwaysOnRunHasOne();
    void thePictureAndTooltipFollowTheRun();
    void theMenuDoesWhatItSays();

private:
    void passes(const QStringList& texts);

    std::unique_ptr<TestRuntime> m_runtime;
    std::unique_ptr<Alert> m_alert;
};

void StatusIconTest::init()
{
    m_runtime = std::make_unique<TestRuntime>();
    m_alert = loadedAlert();
}

void StatusIconTest::cleanup()
{
    m_alert.reset();
    Module2::ClosePort();
    m_runtime.reset();
}

void StatusIconTest::passes(const QStringList& texts)
{
    for (const QString& text : texts)
        m_alert->setReceivedText(text);
}

void StatusIconTest::onlyAnAlwaysOnRunHasOne()
{
    QVERIFY(!m_alert->statusIcon());
    m_alert->setAlwaysOn(true);
    QVERIFY(m_alert->statusIcon());
    // Three pictures, each of its own.
    const QList<StatusIcon::Picture> pictures { StatusIcon::Picture::Listening,
        StatusIcon::Picture::Ringing, StatusIcon::Picture::Silent };
    QList<QImage> images;
    for (StatusIcon::Picture picture : pictures) {
        const QImage image = StatusIcon::icon(picture).pixmap(22, 22).toImage();
        QVERIFY(!image.isNull());
        QVERIFY(!images.contains(image));
        images << image;
    }
    m_alert->setAlwaysOn(false);
    QVERIFY(!m_alert->statusIcon());
}

void StatusIconTest::thePictureAndTooltipFollowTheRun()
{
    m_alert->setAlwaysOn(true);
    StatusIcon* icon = m_alert->statusIcon();
    QStringList seen;
    const auto look = [&](const QString& when) {
        static const char* const names[] = { "listening", "ringing", "silent" };
        seen
            << QStringLiteral("%1: %2, %3").arg(when, names[int(icon->picture())], icon->toolTip());
    };
    look(QStringLiteral("start"));
    passes({ QStringLiteral("OK"), QString() });
    look(QStringLiteral("set up"));
    passes({ QStringLiteral("RING") });
    look(QStringLiteral("ring"));
    PtyPair modem;
    Module2::OpenPort(QStringLiteral("COM") + modem.slavePath());
    emit m_alert->visual()->picScr->Click();
    look(QStringLiteral("band clicked away"));
    m_alert->linkLost();
    look(QStringLiteral("modem lost"));
    m_alert->linkRestored();
    look(QStringLiteral("modem back"));
    m_alert->noAnswer(QStringLiteral("COM4"));
    look(QStringLiteral("no answer"));
    passes({ QStringLiteral("RING again") });
    look(QStringLiteral("ring"));

    QCOMPARE(seen,
        QStringList({
            "start: listening, Activating modem...",
            "set up: listening, Listening for calls",
            "ring: ringing, The Phone is ringing now",
            "band clicked away: listening, Listening for calls",
            "modem lost: silent, Modem disconnected - reconnecting...",
            "modem back: listening, Listening for calls",
            "no answer: silent, No answer from the modem on COM4",
            "ring: ringing, The Phone is ringing now",
        }));
}

void StatusIconTest::theMenuDoesWhatItSays()
{
    m_alert->setAlwaysOn(true);
    StatusIcon* icon = m_alert->statusIcon();
    QCOMPARE(icon->showAction->text(), QStringLiteral("Show the Alert window"));
    QCOMPARE(icon->logAction->text(), QStringLiteral("View call log"));
    QCOMPARE(icon->stopAction->text(), QStringLiteral("Stop listening"));

    // Out of "Stealth mode".
    m_alert->Show();
    m_alert->Command1->click();
    QVERIFY(!m_alert->isVisible());
    icon->showAction->trigger();
    QVERIFY(m_alert->isVisible());

    icon->logAction->trigger();
    QCOMPARE(m_runtime->processStarter.started().size(), 1);
    QCOMPARE(m_runtime->processStarter.started().first().value(0), QStringLiteral("xdg-open"));

    PtyPair modem;
    Module2::OpenPort(QStringLiteral("COM") + modem.slavePath());
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, icon->stopAction->trigger());
    QVERIFY(!Module2::PortIsOpen());
    // No question: the item said what it does.
    QVERIFY(m_runtime->messageBox.questions().isEmpty());
}

QTEST_MAIN(StatusIconTest)
#include "tst_statusicon.moc"
