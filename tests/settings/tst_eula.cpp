// The first-run agreement as a new user meets it: the start-up decides
// whether it is shown, "I Agree" only works after the confirmation mark, and
// refusing ends the program without storing anything.

#include "Alert.h"
#include "Eula.h"
#include "Fakes.h"
#include "RegModule.h"
#include "TextBox.h"
#include "welcome.h"

#include <QtTest>

namespace {

QString storedFlag()
{
    return RegModule::GetRegValue(
        RegModule::HKEY_CURRENT_USER, Eula::kFlagKeyPath, Eula::kFlagValueName);
}

} // namespace

class EulaTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startShowsTheAgreementUntilItIsAccepted_data();
    void startShowsTheAgreementUntilItIsAccepted();
    void agreeWorksOnlyAfterTheMarkAndOpensTheSettings();
    void refusingEndsTheProgramAndStoresNothing_data();
    void refusingEndsTheProgramAndStoresNothing();

private:
    // Starts the program the way main does.
    void start();

    std::unique_ptr<TestRuntime> m_runtime;
    std::unique_ptr<welcome> m_welcome;
};

void EulaTest::init()
{
    m_runtime = std::make_unique<TestRuntime>();
}

void EulaTest::cleanup()
{
    m_welcome.reset();
    m_runtime.reset();
}

void EulaTest::start()
{
    m_welcome = std::make_unique<welcome>();
    m_welcome->Load();
}

void EulaTest::startShowsTheAgreementUntilItIsAccepted_data()
{
    QTest::addColumn<bool>("store");
    QTest::addColumn<QString>("flag");
    QTest::addColumn<bool>("agreementShown");

    QTest::newRow("nothing stored") << false << QString() << true;
    QTest::newRow("an empty flag") << true << QString() << true;
    QTest::newRow("accepted") << true << QStringLiteral("^") << false;
    QTest::newRow("any other text") << true << QStringLiteral("no") << false;
}

void EulaTest::startShowsTheAgreementUntilItIsAccepted()
{
    QFETCH(bool, store);
    QFETCH(QString, flag);
    QFETCH(bool, agreementShown);
    if (store)
        RegModule::SetRegValue(
            RegModule::HKEY_CURRENT_USER, Eula::kFlagKeyPath, Eula::kFlagValueName, flag);
    start();

    QCOMPARE(m_welcome->isVisible(), !agreementShown);
    QCOMPARE(m_welcome->eula() && m_welcome->eula()->isVisible(), agreementShown);
    // The Alert window is loaded either way, and stays hidden.
    QVERIFY(m_welcome->alert()->isLoaded());
    QVERIFY(!m_welcome->alert()->isVisible());
    if (agreementShown) {
        Eula* agreement = m_welcome->eula();
        QCOMPARE(agreement->windowTitle(), QStringLiteral(" Eula"));
        QVERIFY(agreement->txtEULA->text().startsWith(QStringLiteral("Ringwarden")));
        QVERIFY(agreement->txtEULA->text().size() > 6000);
    }
}

void EulaTest::agreeWorksOnlyAfterTheMarkAndOpensTheSettings()
{
    start();
    Eula* agreement = m_welcome->eula();
    QVERIFY(agreement);

    QTest::mouseClick(agreement->Command1, Qt::LeftButton);
    QCOMPARE(storedFlag(), QString());
    QVERIFY(agreement->isVisible());
    QVERIFY(!m_welcome->isVisible());

    // Selecting the mark twice leaves "I Agree" enabled.
    for (int i = 0; i < 2; ++i)
        QTest::mouseClick(agreement->Option1, Qt::LeftButton, {}, QPoint(8, 8));
    QVERIFY(agreement->Command1->isEnabled());
    QTest::mouseClick(agreement->Command1, Qt::LeftButton);

    QCOMPARE(storedFlag(), QStringLiteral("^"));
    QVERIFY(!agreement->isVisible());
    QVERIFY(!agreement->isLoaded());
    // The settings window as its start-up left it.
    QVERIFY(m_welcome->isVisible());
    QCOMPARE(m_welcome->Text1->text(), QStringLiteral("4"));
    QVERIFY(m_welcome->Combo1->isHidden());
    QCOMPARE(m_runtime->programEnd.count(), 0);

    // The next start goes straight to the settings window.
    m_welcome.reset();
    start();
    QVERIFY(m_welcome->isVisible());
    QVERIFY(!m_welcome->eula());
}

void EulaTest::refusingEndsTheProgramAndStoresNothing_data()
{
    QTest::addColumn<bool>("byButton");
    QTest::newRow("I Disagree") << true;
    QTest::newRow("the close box") << false;
}

void EulaTest::refusingEndsTheProgramAndStoresNothing()
{
    QFETCH(bool, byButton);
    start();
    Eula* agreement = m_welcome->eula();
    QVERIFY(agreement);
    QTest::mouseClick(agreement->Option1, Qt::LeftButton, {}, QPoint(8, 8));
    if (byButton)
        QVERIFY_THROWS_EXCEPTION(
            ProgramEnded, QTest::mouseClick(agreement->Command2, Qt::LeftButton));
    else
        QVERIFY_THROWS_EXCEPTION(ProgramEnded, agreement->close());

    QCOMPARE(m_runtime->programEnd.count(), 1);
    QVERIFY(!m_welcome->isVisible());
    QVERIFY(!QFile::exists(RegModule::storeFile()));
}

QTEST_MAIN(EulaTest)
#include "tst_eula.moc"
