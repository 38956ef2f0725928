// A machine whose Qt Multimedia backend is missing: the program must start,
// listen and raise the band on a ring; only the tone is lost, and that is
// said once. Qt chooses its backend once per process, so this runs in a
// process of its own that names a backend that is not there, and nothing in
// it has used the sound system before.

#include "Alert.h"
#include "Eula.h"
#include "Fakes.h"
#include "Image.h"
#include "Module2.h"
#include "PtyPair.h"
#include "RegModule.h"
#include "TextBox.h"
#include "Visual.h"
#include "welcome.h"

#include <QtTest>

class NoSoundSystemTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void aRingStillRaisesTheBand_data();
    void aRingStillRaisesTheBand();
};

void NoSoundSystemTest::initTestCase()
{
    qputenv("QT_MEDIA_BACKEND", "nonexistent");
}

void NoSoundSystemTest::aRingStillRaisesTheBand_data()
{
    QTest::addColumn<bool>("sound");
    // In this order: once the missing backend has been found, it is not
    // said again in this process.
    QTest::newRow("sound box not ticked: the sound system is never asked") << false;
    QTest::newRow("sound box ticked: asked at Start Listening, said once") << true;
}

void NoSoundSystemTest::aRingStillRaisesTheBand()
{
    QFETCH(bool, sound);
    TestRuntime runtime;
    Module2::PortHandle = 0;
    Module2::ReceivedText.clear();
    QVERIFY(Runtime::ClaimInstance());
    RegModule::SetRegValue(RegModule::HKEY_CURRENT_USER, Eula::kFlagKeyPath, Eula::kFlagValueName,
        QStringLiteral("^"));
    CapturedLog log;
    auto warnings = [&] {
        int count = 0;
        for (const CapturedLog::Line& line : log.lines()) {
            if (line.type == QtWarningMsg && line.category == QLatin1String("ringwarden.player"))
                ++count;
        }
        return count;
    };
    welcome start;
    start.Load();
    PtyPair modem;
    start.Text1->setText(modem.slavePath());
    if (sound)
        start.Check1->click();
    const int warnedBeforeListening = warnings();
    Alert* alert = start.alert();
    int warnedWhileSettingUp = -1;
    runtime.clock.at(12.0, [&] { warnedWhileSettingUp = warnings(); });
    for (double t : { 3.3, 5.3, 7.3, 9.3, 11.3 })
        runtime.clock.at(t, [&] { modem.write(ModemReply::kOk); });
    runtime.clock.at(16.0, [&] { modem.write(ModemReply::kCall); });
    bool bandAtTheRing = false;
    runtime.clock.at(
        18.0, [&] { bandAtTheRing = alert->visual() && alert->visual()->isVisible(); });
    runtime.clock.at(20.0, [&] { alert->Unload(); });

    QVERIFY_THROWS_EXCEPTION(ProgramEnded, start.mnuHidelisten_Click());

    QVERIFY(bandAtTheRing);
    QCOMPARE(alert->Text1->text(), QStringLiteral("4"));
    QVERIFY(!alert->MMControl1);
    // Nothing asked before Start Listening; with the box ticked, asked then,
    // before the first ring.
    QCOMPARE(warnedBeforeListening, 0);
    QCOMPARE(warnedWhileSettingUp, sound ? 1 : 0);
    QCOMPARE(warnings(), sound ? 1 : 0);
    Module2::ClosePort();
    Runtime::ReleaseInstance();
}

QTEST_MAIN(NoSoundSystemTest)
#include "tst_nosoundsystem.moc"
