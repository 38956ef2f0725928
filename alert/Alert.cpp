#include "Alert.h"

#include "CallLog.h"
#include "CallNotifier.h"
#include "CallerId.h"
#include "DesktopSession.h"
#include "Label.h"
#include "Logging.h"
#include "MediaPlayer.h"
#include "Module2.h"
#include "Placement.h"
#include "RingTones.h"
#include "Runtime.h"
#include "StatusIcon.h"
#include "TextBox.h"
#include "Visual.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDebug>
#include <QFont>
#include <QFontDatabase>
#include <QIcon>
#include <QLocale>
#include <QWindow>
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
    , noCallerId(new QLabel(this))
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

    // Above the output box, only while the modem reports no callers.
    placeTwips(noCallerId, 480, 120, 9885, 660);
    noCallerId->setFont(sansFont(9, true));
    noCallerId->setWordWrap(true);
    QPalette word = noCallerId->palette();
    word.setColor(QPalette::WindowText, QColor(255, 255, 0));
    noCallerId->setPalette(word);
    noCallerId->hide();

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

    addCallListener(m_callNotifier.get());

    // An alert box to the window manager, so that a tiling one floats it
    // over the user's work at a ring.
    winId();
    Placement::declareDialog(windowHandle());
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

void Alert::addCallListener(CallListener* listener)
{
    if (listener
        && std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end())
        m_listeners.push_back(listener);
}

void Alert::removeCallListener(CallListener* listener)
{
    std::erase(m_listeners, listener);
}

template <typename Tell> void Alert::tellListeners(Tell tell)
{
    // A copy: a listener may remove itself meanwhile.
    const std::vector<CallListener*> listeners = m_listeners;
    for (CallListener* listener : listeners)
        tell(*listener);
}

void Alert::setReceivedText(const QString& text)
{
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
    // A number given in groups ("01632 960123", as in the UK) is a number
    // all the same: the label holds its digits, the log the number as given.
    const std::optional<CallerId::Caller> caller = CallerId::find(Module2::ReceivedText);
    Label4->setCaption(caller ? QString(caller->number).remove(QLatin1Char(' ')) : QString());
}

void Alert::linkLost()
{
    // First, so that nobody who passes the line's state on says "listening"
    // in between.
    setWatchState(WatchState::ModemLost);
    // Nothing more of a call in progress can be heard.
    callEnded();
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
    setWatchState(WatchState::Listening);
}

void Alert::noAnswer(const QString& portName)
{
    if (Text1->text().toInt() < 2)
        Text1->setText(QStringLiteral("2"));
    warn(QStringLiteral("No answer from the modem on ") + portName);
    setWatchState(WatchState::NoAnswer);
}

void Alert::callEnded()
{
    if (m_inCall) {
        m_call.time = QDateTime::currentDateTime();
        qCDebug(lcAlert).noquote() << QStringLiteral("call %1 ended after %2 ring reactions")
                                          .arg(m_call.serial)
                                          .arg(m_call.rings);
        const Call ended = m_call;
        // Another station's call may still be ringing here.
        if (m_remoteCalls.isEmpty())
            endAlertPlacement();
        tellListeners([&](CallListener& listener) { listener.callEnded(ended); });
    }
    m_inCall = false;
    m_call = Call {};
    m_numberHeard = false;
    m_callerUntold = false;
    showCallerOnBand();
}

void Alert::callerIdChecked(const QString& command, const QStringList& tried)
{
    noCallerId->setText(QStringLiteral("No caller ID: this modem took none of %1. Calls still "
                                       "ring, without the caller's number.")
                            .arg(tried.join(QStringLiteral(", "))));
    noCallerId->setVisible(command.isEmpty());
    qCDebug(lcAlert).noquote() << (command.isEmpty()
            ? QStringLiteral("no caller ID: shown above the output box")
            : QStringLiteral("caller ID through ") + command);
}

void Alert::setWatchState(WatchState state)
{
    if (state == m_state)
        return;
    m_state = state;
    tellListeners([state](CallListener& listener) { listener.watchStateChanged(state); });
}

QString Alert::stateCaption() const
{
    if (m_networkOnly) {
        if (m_rang && !m_dismissed)
            return QStringLiteral("The Phone is ringing now");
        return m_networkHeard ? QStringLiteral("Listening for calls (home network)")
                              : QStringLiteral("Connecting to the home network...");
    }
    const int count = Text1->text().toInt();
    if (count < 2)
        return QStringLiteral("Activating modem...");
    if (count == 2 || m_dismissed)
        return QStringLiteral("Listening for calls");
    return QStringLiteral("The Phone is ringing now");
}

void Alert::warn(const QString& caption)
{
    comeForward(false);
    setWindowTitle(caption);
}

void Alert::comeForward(bool above)
{
    // Shown without activation: the keyboard stays where the user is, and
    // no desktop is asked for a focus it would refuse with an "is ready"
    // banner. (The show at Start Listening asks for activation: it follows
    // the user's own click.)
    setAttribute(Qt::WA_ShowWithoutActivating);
    if (above)
        holdAbove(true);
    setVisible(true);
    const bool raised = Placement::raiseWithoutActivating(windowHandle());
    qCDebug(lcDesktop).noquote() << "Alert window forward:"
                                 << (heldAbove() ? "above the others," : "normal stacking,")
                                 << (raised ? "raised" : "the window manager stacks it");
}

void Alert::holdAbove(bool above)
{
    Qt::WindowFlags flags = windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, above);
    // setWindowFlags would re-create the native window and hide it: the
    // widget's record is changed alone, and the native window is told in
    // place.
    overrideWindowFlags(flags);
    Placement::keepAbove(windowHandle(), above);
}

bool Alert::heldAbove() const
{
    return windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

void Alert::endAlertPlacement()
{
    if (heldAbove())
        qCDebug(lcDesktop) << "Alert window back to normal stacking";
    holdAbove(false);
    m_desktop->letScreenSleep();
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
        setWatchState(WatchState::Listening);
    }

    // After the band was clicked away, the modem's text going back to empty
    // is no new ring: only text from the modem brings the band back.
    if (count > 2 && m_dismissed && txtOut->text().isEmpty()) {
        qCDebug(lcAlert).noquote()
            << QStringLiteral("change %1 (ring count %1): the text emptied after the ring was "
                              "dismissed, no ring reaction")
                   .arg(count);
        return;
    }

    if (count > 2) {
        // A ring while no call is in progress begins one, with whatever
        // caller ID came before it since the last call ended.
        if (!m_inCall) {
            m_inCall = true;
            m_call.serial = ++m_calls;
            m_call.rings = 0;
        }
        ++m_call.rings;
        m_call.time = QDateTime::currentDateTime();
        // Text from a modem that said nothing to its set-up: it is there.
        if (m_state == WatchState::NoAnswer)
            setWatchState(WatchState::Listening);
        // The band shows this computer's caller again.
        m_remoteOnBand.reset();
        ringReaction(m_call, QStringLiteral("change %1 (ring count %1)").arg(count));
        if (m_callerUntold) {
            m_callerUntold = false;
            const Call call = m_call;
            tellListeners([&](CallListener& listener) { listener.callerIdentified(call); });
        }
    }
}

void Alert::ringReaction(const Call& call, const QString& what)
{
    // The band first: its first load handles pending events, which must
    // not see this window shown yet (an activation would clear the pass's
    // text).
    showVisual();
    // Back into view and in front, also after "Stealth mode" hid the
    // window, until the call ends; the band stays over it.
    comeForward(true);
    if (m_visual)
        m_visual->raise();
    Command1->setVisible(false);
    move(x(), 0);
    Placement::moveToTopOnSway(windowHandle());
    setWindowTitle(QStringLiteral("The Phone is ringing now"));
    m_rang = true;
    m_dismissed = false;
    m_bandCall = call;
    // The window's activation waits, and the home network may have been
    // lost meanwhile: that is said over the ring's caption.
    if (m_networkOnly && (!m_networkHeard || !m_modemsHeard))
        showHomeNetwork();

    // Without a player (no multimedia backend) the ring stays silent.
    const bool tone = Check1->isChecked() && MMControl1;
    if (tone) {
        QString strFilename;
        PlaySound(*MMControl1, strFilename);
    }
    const QString sound = tone ? QStringLiteral("tone started")
        : Check1->isChecked()  ? QStringLiteral("no player, no tone")
                               : QStringLiteral("sound off");
    qCDebug(lcAlert).noquote() << QStringLiteral(
        "ring reaction: %1, band shown, window raised, %2 (call %3, ring %4)")
                                      .arg(what, sound)
                                      .arg(call.serial)
                                      .arg(call.rings);

    // Last, so the band, the window and the tone never wait for the desktop
    // or the network.
    tellListeners([&](CallListener& listener) { listener.ringReaction(call); });
}

void Alert::listenToHomeNetworkOnly()
{
    m_networkOnly = true;
    setWindowTitle(QStringLiteral("Connecting to the home network..."));
}

void Alert::homeNetworkHeard(bool heard)
{
    if (!m_networkOnly || (heard == m_networkHeard && m_state != WatchState::Activating))
        return;
    m_networkHeard = heard;
    // Until the stations say otherwise.
    m_modemsHeard = true;
    showHomeNetwork();
}

void Alert::homeNetworkModemsHeard(bool any)
{
    if (!m_networkOnly || !m_networkHeard || any == m_modemsHeard)
        return;
    m_modemsHeard = any;
    showHomeNetwork();
}

void Alert::showHomeNetwork()
{
    if (!m_networkHeard) {
        warn(QStringLiteral("Home network disconnected - reconnecting..."));
        setWatchState(WatchState::HomeNetworkLost);
    } else if (!m_modemsHeard) {
        warn(QStringLiteral("No modem is listening on the home network"));
        setWatchState(WatchState::HomeNetworkLost);
    } else {
        setWindowTitle(stateCaption());
        setWatchState(WatchState::Listening);
    }
}

void Alert::remoteRing(const Call& call)
{
    if (call.station.isEmpty())
        return;
    RemoteCall& known = m_remoteCalls[call.station];
    if (known.serial != call.serial)
        known = RemoteCall { call.serial, {}, false };
    m_remoteOnBand = call;
    ringReaction(call, QStringLiteral("station ") + call.station);
    if (!call.caller.isEmpty() && call.caller != known.caller) {
        known.caller = call.caller;
        qCDebug(lcAlert).noquote()
            << "caller ID from" << call.station + QLatin1Char(':') << call.caller;
        tellListeners([&](CallListener& listener) { listener.callerIdentified(call); });
    }
    // Once per call, as this computer's modem sends its number once.
    if (!known.logged && CallLog::isNumeric(call.number)) {
        known.logged = true;
        appendToCallLog(CallLog::record(
            CallLog::dateTimeText(QDateTime::currentDateTime(), QLocale::system()), call.number));
    }
}

void Alert::remoteCallEnded(const Call& call)
{
    if (call.station.isEmpty())
        return;
    const auto known = m_remoteCalls.constFind(call.station);
    if (known != m_remoteCalls.constEnd() && known->serial == call.serial)
        m_remoteCalls.erase(known);
    if (m_remoteOnBand && m_remoteOnBand->station == call.station
        && m_remoteOnBand->serial == call.serial) {
        m_remoteOnBand.reset();
        showCallerOnBand();
    }
    qCDebug(lcAlert).noquote()
        << QStringLiteral("call %1 of station %2 ended").arg(call.serial).arg(call.station);
    if (!m_inCall && m_remoteCalls.isEmpty())
        endAlertPlacement();
    tellListeners([&](CallListener& listener) { listener.callEnded(call); });
}

QString Alert::bandCaller() const
{
    return m_remoteOnBand ? m_remoteOnBand->caller : m_call.caller;
}

void Alert::showVisual()
{
    // A band the user closed is made afresh, with a new star field.
    if (!m_visual || !m_visual->isLoaded())
        m_visual = std::make_unique<Visual>([this] { return bandClicked(); }, [this] { Unload(); });
    m_visual->Show();
    // A caller ID that came before the band was loaded.
    showCallerOnBand();
}

bool Alert::bandClicked()
{
    if (m_alwaysOn) {
        dismissRing();
        return false;
    }
    // A station without a modem has no port to close.
    if (m_networkOnly)
        return true;
    // The band closes the port only while it is open. While the modem is
    // gone the port is ours all the same: the click still ends the program.
    if (!Module2::PortIsOpen())
        return Module2::PortLost();
    Module2::ClosePort();
    return true;
}

void Alert::dismissRing()
{
    // Unloaded rather than hidden: a hidden band would go on drawing frames
    // all day. The next ring makes a fresh one.
    if (m_visual && m_visual->isLoaded())
        m_visual->Unload();
    if (MMControl1)
        MMControl1->setCommand(QStringLiteral("Close"));
    m_dismissed = true;
    // Nothing of the alert stays in the way: the window is an ordinary one
    // again and the screen may sleep.
    endAlertPlacement();
    Command1->setVisible(true);
    // A warning about the modem stays until the modem is back.
    if (m_state == WatchState::Listening)
        setWindowTitle(stateCaption());
    // This computer's call may have learnt its caller since its ring.
    const Call call
        = m_bandCall.station.isEmpty() && m_bandCall.serial == m_call.serial ? m_call : m_bandCall;
    qCDebug(lcAlert).noquote() << QStringLiteral(
        "ring dismissed (call %1%2): band closed, tone stopped, listening goes on")
                                      .arg(call.serial)
                                      .arg(call.station.isEmpty()
                                              ? QString()
                                              : QStringLiteral(" of station ") + call.station);
    tellListeners([&](CallListener& listener) { listener.ringDismissed(call); });
}

void Alert::setAlwaysOn(bool on)
{
    m_alwaysOn = on;
    if (on && !m_statusIcon) {
        m_statusIcon = std::make_unique<StatusIcon>(*this);
        addCallListener(m_statusIcon.get());
    } else if (!on && m_statusIcon) {
        removeCallListener(m_statusIcon.get());
        m_statusIcon.reset();
    }
}

void Alert::showWindow()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    setVisible(true);
    // The user asked for the window from outside it (the panel's menu): it
    // comes with the keyboard, as from a taskbar.
    Placement::activateForUser(windowHandle());
}

void Alert::closeEvent(QCloseEvent* event)
{
    if (!m_alwaysOn) {
        Form::closeEvent(event);
        return;
    }
    event->ignore();
    askToStopListening();
}

void Alert::askToStopListening()
{
    if (m_asking)
        return;
    m_asking = true;
    // The answer comes later, from the loop's own waits: the window may be
    // gone by then in a test, never in the program.
    Runtime::Ask(QStringLiteral("Stop listening for calls?"),
        QStringLiteral("Ringwarden will not show calls until it is started again."),
        QStringLiteral("Stop listening"), QStringLiteral("Keep listening"),
        [window = QPointer<Alert>(this)](bool stop) {
            if (!window)
                return;
            window->m_asking = false;
            if (stop)
                window->Unload();
        });
}

void Alert::takeCaller(const QString& text)
{
    const CallerId::Report report = CallerId::read(text);
    if (report.isEmpty())
        return;
    // Another number is another caller: the name heard with the first is
    // not theirs.
    if (report.number && (!m_numberHeard || *report.number != m_call.number)) {
        if (m_numberHeard && !report.name)
            m_call.name.clear();
        m_call.number = *report.number;
        m_numberHeard = true;
    }
    if (report.name)
        m_call.name = *report.name;
    CallerId::Report known;
    if (m_numberHeard)
        known.number = m_call.number;
    if (!m_call.name.isEmpty())
        known.name = m_call.name;
    const QString caller = CallerId::describe(known);
    if (caller == m_call.caller)
        return;
    m_call.caller = caller;
    m_call.time = QDateTime::currentDateTime();
    // The caller is personal: debug level only.
    qCDebug(lcAlert).noquote() << "caller ID:" << m_call.caller;
    showCallerOnBand();
    if (m_inCall) {
        const Call call = m_call;
        tellListeners([&](CallListener& listener) { listener.callerIdentified(call); });
    } else {
        m_callerUntold = true;
    }
}

void Alert::showCallerOnBand()
{
    Visual* band = visual();
    if (!band)
        return;
    band->Text1->setText(
        CallerId::bandText(bandCaller(), band->textFont(), band->picBuffer.width()));
}

void Alert::Label4_Change()
{
    QString record;
    if (CallLog::isNumeric(Label4->caption())) {
        record = CallLog::record(
            CallLog::dateTimeText(QDateTime::currentDateTime(), QLocale::system()),
            CallerId::numberAt(Module2::ReceivedText, NmbrPos));
    }
    appendToCallLog(record);
}

void Alert::appendToCallLog(const QString& record)
{
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
    viewCallLog();
}

void Alert::viewCallLog()
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
    tellListeners([](CallListener& listener) { listener.watchStopped(); });
    if (Module2::PortIsOpen())
        Module2::ClosePort();
    Runtime::End();
}
