// Waking the screen on a real X server (Xvfb): a running screen saver ends
// when the desktop session wakes the screen.

#include "DesktopSession.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

// Xlib's macros clash with Qt's names: its headers come last.
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

class ScreenWakeTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void wakingEndsTheScreenSaver();

private:
    // The X screen saver's state (ScreenSaverOn, ScreenSaverOff...), or -1.
    int screenSaverState();

    QProcess m_xserver;
    Display* m_display = nullptr;
};

void ScreenWakeTest::initTestCase()
{
    for (const char* tool : { "Xvfb", "xset" }) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QFAIL(qPrintable(QStringLiteral("%1 is missing: run tools/install-deps").arg(tool)));
    }
    m_xserver.start(QStringLiteral("Xvfb"),
        { "-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp" });
    QVERIFY(m_xserver.waitForReadyRead(10000));
    const QByteArray display = ':' + m_xserver.readLine().trimmed();
    qputenv("DISPLAY", display);
    m_display = XOpenDisplay(display.constData());
    QVERIFY(m_display);
    int eventBase = 0;
    int errorBase = 0;
    QVERIFY(XScreenSaverQueryExtension(m_display, &eventBase, &errorBase));
}

void ScreenWakeTest::cleanupTestCase()
{
    if (m_display)
        XCloseDisplay(m_display);
    m_xserver.kill();
    m_xserver.waitForFinished(3000);
}

int ScreenWakeTest::screenSaverState()
{
    XScreenSaverInfo* info = XScreenSaverAllocInfo();
    int state = -1;
    if (XScreenSaverQueryInfo(m_display, DefaultRootWindow(m_display), info))
        state = info->state;
    XFree(info);
    return state;
}

void ScreenWakeTest::wakingEndsTheScreenSaver()
{
    SystemDesktopSession session(QStringLiteral("Ringwarden"), QImage());

    QCOMPARE(QProcess::execute(QStringLiteral("xset"), { "s", "activate" }), 0);
    QTRY_COMPARE(screenSaverState(), int(ScreenSaverOn));

    session.wakeScreen();
    QTRY_COMPARE(screenSaverState(), int(ScreenSaverOff));
}

QTEST_GUILESS_MAIN(ScreenWakeTest)
#include "tst_screenwake.moc"
