#include "Alert.h"

#include "CallLog.h"
#include "CallNotifier.h"
#include "CallerId.h"
#include "DesktopSession.h"
#include "Label.h"
#include "Logging.h"
#include "MediaPlayer.h"
#include "Module2.h"
#include "RingTones.h"
#include "Runtime.h"
#include "TextBox.h"
#include "Visual.h"

#include <QDateTime>
#include <QDebug>
#include <QFont>
#include <QFontDatabase>
#include <QIcon>
#include <QLocale>
#include <algorithm>
#include <limits>

namespace {

// The desktop's sans-serif font at a given size and weight, for the labels
// and the output box.
QFont sansFont(qreal points, bool bold)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

} // namespace

Alert::Alert(QWidget* parent)
    : Form(parent)
    , txtOut(new TextBox(this))
    , Text1(new TextBox(this))
    , Check1(new QCheckBox(QStringLiteral("Check1"), this))
    , Command1(new QPushButton(QStringLiteral("Stealth mode"), this))
    , Command3(new QPushButton(QStringLiteral("VIEW LOG FILE"), this))
    , Label4(new Label(QString(), this))
    , m_desktop(std::make_unique<SystemDesktopSession>(QStringLiteral("Ringwarden"),
          QImage(QStringLiteral(":/ringwarden/icons/ringwarden-48.png"))))
    , m_callNotifier(std::make_unique<CallNotifier>(*m_desktop))
{
    setWindowTitle(QStringLiteral("Activating modem..."));
    setWindowIcon(QIcon(QStringLiteral(":/ringwarden/icons/ringwarden-16.png")));
    setClientSizeTwips(10560, 2685);
    QPalette background = palette();
    background.setColor(QPalette::Window, QColor(0, 0, 192));
    setPalette(background);
    setAutoFillBackground(true);

    // The output box: green bold text on black, editable, no scroll bars.
    placeTwips(txtOut, 480, 840, 9885, 1095);
    QPalette output = txtOut->palette();
    output.setColor(QPalette::Base, Qt::black);
    output.setColor(QPalette::Text, QColor(0, 255, 0));
    txtOut->setPalette(output);
    txtOut->setFont(sansFont(12, true));
    txtOut->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    txtOut->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    placeTwips(Command1, 2880, 1920, 5280, 360);

    // The ring count and the play-sound flag are kept in controls the user
    // never sees.
    placeTwips(Text1, 1800, 1560, 375, 285);
    Text1->setText(QStringLiteral("0"));
    Text1->hide();
    placeTwips(Check1, 6360, 360, 255, 195);
    Check1->hide();

    // The call log's button and label lie below the client area; they come
    // into view only when the user makes the window taller.
    placeTwips(Command3, 6960, 5400, 135, 195);
    placeTwips(Label4, 7560, 5280, 165, 210);
    Label4->setFont(sansFont(8.25, true));

    setTabOrder(txtOut, Command1);

    connect(txtOut, &TextBox::Change, this, &Alert::txtOut_Change);
    connect(Command1, &QPushButton::clicked, this, &Alert::Command1_Click);
    connect(Label4, &Label::Change, this, &Alert::Label4_Change);
    connect(Command3, &QPushButton::clicked, this, &Alert::Command3_Click);
}

Alert::~Alert() = default;

void Alert::setPlayer(std::unique_ptr<MediaPlayer> player)
{
    MMControl1 = std::move(player);
}

void Alert::prepareSound()
{
    if (!Check1->isChecked() || MMControl1)
        return;
    MMControl1 = QtMediaPlayer::create();
    qCDebug(lcAlert) << (MMControl1 ? "sound on: the player is ready" : "sound on, but no player");
}

void Alert::setReceivedText(const QString& text)
{
    // Any text from the modem keeps the current call going.
    if (!text.isEmpty())
        m_callNotifier->modemSpoke();
    // Before the text goes in, so the ring reaction it sets off already
    // names this pass's caller on the band and in the notification.
    takeCaller(text);
    txtOut->setText(text);
}

void Alert::setNmbrPos(qint16 position)
{
    NmbrPos = position;
    // The loop empties the text only after its pause: it is still this
    // pass's text. Empty for a pass without caller ID, so the next call's
    // number is a change even when it is the same number.
    const std::optional<CallerId::Caller> caller = CallerId::find(Module2::ReceivedText);
    Label4->setCaption(caller ? caller->number : QString());
}

void Alert::linkLost()
{
    warn(QStringLiteral("Modem disconnected - reconnecting..."));
}

void Alert::linkRestored()
{
    // The set-up's replies after a reopen are dropped, so they never take
    // the first two changes: when the modem was lost (or missing) before they
    // came, the next change is a ring, as after a mute modem.
    if (Text1->text().toInt() < 2)
        Text1->setText(QStringLiteral("2"));
    setWindowTitle(stateCaption());
}

void Alert::noAnswer(const QString& portName)
{
    if (Text1->text().toInt() < 2)
        Text1->setText(QStringLiteral("2"));
    warn(QStringLiteral("No answer from the modem on ") + portName);
}

QString Alert::stateCaption() const
{
    const int count = Text1->text().toInt();
    if (count < 2)
        return QStringLiteral("Activating modem...");
    if (count == 2)
        return QStringLiteral("Listening for calls");
    return QStringLiteral("The Phone is ringing now");
}

void Alert::warn(const QString& caption)
{
    setVisible(true);
    raise();
    setWindowTitle(caption);
}

Visual* Alert::visual() const
{
    return m_visual && m_visual->isLoaded() ? m_visual.get() : nullptr;
}

void Alert::txtOut_Change()
{
    // The count saturates instead of overflowing after 32767 changes.
    const int previous = Text1->text().toInt();
    const int count = std::min(previous + 1, int(std::numeric_limits<qint16>::max()));
    Text1->setText(QString::number(count));

    if (count == 1)
        qCDebug(lcAlert) << "change 1 (ring count 1): the modem's replies to the set-up";
    if (count == 2) {
        qCDebug(lcAlert) << "change 2 (ring count 2): listening for calls";
        setWindowTitle(QStringLiteral("Listening for calls"));
    }

    if (count > 2) {
        showVisual();
        // Back into view, also after "Stealth mode" hid the window.
        setVisible(true);
        raise();
        Command1->setVisible(false);
        move(x(), 0);
        setWindowTitle(QStringLiteral("The Phone is ringing now"));
    }

    // Without a player (no multimedia backend) the ring stays silent.
    const bool tone = Check1->isChecked() && count >= 3 && MMControl1;
    if (tone) {
        QString strFilename;
        PlaySound(*MMControl1, strFilename);
    }
    if (count > 2) {
        const QString sound = tone ? QStringLiteral("tone started")
            : Check1->isChecked()  ? QStringLiteral("no player, no tone")
                                   : QStringLiteral("sound off");
        qCDebug(lcAlert).noquote() << QStringLiteral(
            "ring reaction: change %1 (ring count %1), band shown, window raised, %2")
                                          .arg(count)
                                          .arg(sound);
    }

    // Last, so the band, the window and the tone never wait for the desktop.
    if (count > 2)
        m_callNotifier->ring(m_callerDescription);
}

void Alert::showVisual()
{
    // A band the user closed is made afresh, with a new star field.
    if (!m_visual || !m_visual->isLoaded())
        m_visual = std::make_unique<Visual>(
            [] {
                // The band closes the port only while it is open. While the
                // modem is gone the port is ours all the same: the click
                // still ends the program.
                if (!Module2::PortIsOpen())
                    return Module2::PortLost();
                Module2::ClosePort();
                return true;
            },
            [this] { Unload(); });
    m_visual->Show();
    // A caller ID that came before the band was loaded.
    showCallerOnBand();
}

void Alert::takeCaller(const QString& text)
{
    if (const std::optional<CallerId::Caller> caller = CallerId::find(text)) {
        m_callerDescription = CallerId::describe(*caller);
        // The caller is personal: debug level only.
        qCDebug(lcAlert).noquote() << "caller ID:" << m_callerDescription;
        showCallerOnBand();
    }
}

void Alert::showCallerOnBand()
{
    Visual* band = visual();
    if (!band)
        return;
    band->Text1->setText(
        CallerId::bandText(m_callerDescription, band->textFont(), band->picBuffer.width()));
}

void Alert::Label4_Change()
{
    QString record;
    if (CallLog::isNumeric(Label4->caption())) {
        record = CallLog::record(
            CallLog::dateTimeText(QDateTime::currentDateTime(), QLocale::system()),
            CallerId::numberAt(Module2::ReceivedText, NmbrPos));
    }
    // A log that cannot be written must not stop the listening: no message
    // box, only a line on standard error.
    QString error;
    if (!CallLog::append(CallLog::path(), record, &error))
        qCWarning(lcAlert).noquote()
            << "cannot write the call log" << CallLog::path() + QLatin1Char(':') << error;
    else if (!record.isEmpty())
        qCDebug(lcAlert).noquote()
            << "call log: wrote" << Logging::escaped(record) << "to" << CallLog::path();
}

void Alert::Command3_Click()
{
    // An empty log rather than a viewer complaining about a missing file;
    // when it cannot be made, the viewer tells the user so.
    const QString log = CallLog::path();
    CallLog::append(log, {});
    if (!Runtime::Shell(QStringLiteral("xdg-open"), { log }))
        Runtime::Notice(QStringLiteral("No viewer could be started for the call log ") + log,
            QStringLiteral("xdg-open could not be started."));
}

void Alert::PlaySound(MediaPlayer& objMMControl, QString& strFilename)
{
    RingTones::play(objMMControl, strFilename, RingTones::storedChoice);
}

void Alert::Form_Activate()
{
    if (m_startWindow)
        m_startWindow->Unload();
    Runtime::DoEvents();
    Runtime::Pause(3.0f);
    Module2::ReceivedText.clear();
}

void Alert::Command1_Click()
{
    setVisible(false);
}

void Alert::Form_Unload()
{
    if (Module2::PortIsOpen())
        Module2::ClosePort();
    Runtime::End();
}
