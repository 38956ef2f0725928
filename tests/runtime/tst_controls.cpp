// The controls and windows the program is built from: text boxes and labels
// with change events, and the window lifecycle (load, show, activate, unload).

#include "Fakes.h"
#include "Form.h"
#include "Label.h"
#include "TextBox.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

// A window that records its lifecycle handlers.
class RecordingForm : public Form
{
public:
    QStringList calls;
    std::function<void()> onActivate;

protected:
    void Form_Load() override { calls << QStringLiteral("load"); }
    void Form_Activate() override
    {
        calls << QStringLiteral("activate");
        if (onActivate)
            onActivate();
    }
    void Form_Unload() override { calls << QStringLiteral("unload"); }
};

} // namespace

class ControlsTest : public QObject
{
    Q_OBJECT

private slots:
    void assigningADifferentTextRunsChangeInside();
    void assigningTheSameTextRunsNothing();
    void textKeepsControlCharactersExactly();
    void typingCountsAsAChange();
    void labelCaptionChanges();

    void showLoadsOnceAndActivatesBeforeReturning();
    void activationRunsAgainAfterDeactivation();
    void closeBoxUnloads();
};

void ControlsTest::assigningADifferentTextRunsChangeInside()
{
    TextBox box;
    QString seenInside;
    connect(&box, &TextBox::Change, [&] { seenInside = box.text(); });
    QSignalSpy changes(&box, &TextBox::Change);

    box.setText(QStringLiteral("RING"));
    // The handler ran inside the assignment and saw the new text.
    QCOMPARE(changes.count(), 1);
    QCOMPARE(seenInside, QStringLiteral("RING"));

    box.setText(QString());
    QCOMPARE(changes.count(), 2);
    QCOMPARE(seenInside, QString());
}

void ControlsTest::assigningTheSameTextRunsNothing()
{
    TextBox box;
    QSignalSpy changes(&box, &TextBox::Change);
    box.setText(QString());
    QCOMPARE(changes.count(), 0);
    box.setText(QStringLiteral("OK"));
    box.setText(QStringLiteral("OK"));
    QCOMPARE(changes.count(), 1);
}

void ControlsTest::textKeepsControlCharactersExactly()
{
    TextBox box;
    const QString modem
        = QStringLiteral("\r\nRING\r\n") + QChar(0) + QChar(0xff) + QStringLiteral("\rX");
    box.setText(modem);
    QCOMPARE(box.text(), modem);
    QCOMPARE(box.toPlainText(),
        QStringLiteral("\nRING\n") + QChar(0x2400) + QChar(0xff) + QStringLiteral("\nX"));

    // The same text with different line ends is a different text.
    QSignalSpy changes(&box, &TextBox::Change);
    box.setText(QStringLiteral("\nRING\n") + QChar(0) + QChar(0xff) + QStringLiteral("\rX"));
    QCOMPARE(changes.count(), 1);
}

void ControlsTest::typingCountsAsAChange()
{
    TextBox box;
    box.setText(QStringLiteral("AB"));
    QSignalSpy changes(&box, &TextBox::Change);
    box.show();
    box.setFocus();
    box.moveCursor(QTextCursor::End);

    QTest::keyClicks(&box, QStringLiteral("C"));
    QCOMPARE(changes.count(), 1);
    QCOMPARE(box.text(), QStringLiteral("ABC"));
    QTest::keyClick(&box, Qt::Key_Backspace);
    QCOMPARE(changes.count(), 2);
    QCOMPARE(box.text(), QStringLiteral("AB"));
    // A key that changes nothing is no change.
    QTest::keyClick(&box, Qt::Key_Left);
    QCOMPARE(changes.count(), 2);
}

void ControlsTest::labelCaptionChanges()
{
    Label label;
    QSignalSpy changes(&label, &Label::Change);
    label.setCaption(QString());
    QCOMPARE(changes.count(), 0);
    label.setCaption(QStringLiteral("5551234"));
    label.setCaption(QStringLiteral("5551234"));
    QCOMPARE(changes.count(), 1);
    label.setCaption(QStringLiteral("<b>x</b>"));
    QCOMPARE(label.textFormat(), Qt::PlainText);
    QCOMPARE(changes.count(), 2);
}

void ControlsTest::showLoadsOnceAndActivatesBeforeReturning()
{
    TestRuntime runtime;
    RecordingForm form;
    QVERIFY(!form.isLoaded());
    form.Load();
    form.Show();
    QCOMPARE(form.calls, QStringList({ "load", "activate" }));
    QVERIFY(form.isVisible());
    // Already visible and active: a second Show neither loads nor activates.
    form.Show();
    QCOMPARE(form.calls, QStringList({ "load", "activate" }));
}

void ControlsTest::activationRunsAgainAfterDeactivation()
{
    TestRuntime runtime;
    RecordingForm form;
    int nested = 0;
    // An activation that waits, during which the window system reports the
    // activation again: the handler must not run a second time inside itself.
    form.onActivate = [&] {
        runtime.clock.after(1.0, [&] {
            QEvent activate(QEvent::WindowActivate);
            QCoreApplication::sendEvent(&form, &activate);
            ++nested;
        });
        Runtime::Pause(3.0f);
    };
    form.Show();
    QCOMPARE(nested, 1);
    QCOMPARE(form.calls.count(QStringLiteral("activate")), 1);

    QEvent deactivate(QEvent::WindowDeactivate);
    QCoreApplication::sendEvent(&form, &deactivate);
    form.onActivate = nullptr;
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(&form, &activate);
    QCOMPARE(form.calls.count(QStringLiteral("activate")), 2);
}

void ControlsTest::closeBoxUnloads()
{
    TestRuntime runtime;
    RecordingForm form;
    form.Show();
    form.close();
    QCOMPARE(form.calls.last(), QStringLiteral("unload"));
    QVERIFY(!form.isLoaded());
    QVERIFY(!form.isVisible());
    // Showing it again loads it afresh.
    form.Show();
    QCOMPARE(form.calls.count(QStringLiteral("load")), 2);
}

QTEST_MAIN(ControlsTest)
#include "tst_controls.moc"
