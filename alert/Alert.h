#pragma once

#include "CallListener.h"
#include "Form.h"
#include "ModemLink.h"

#include <QCheckBox>
#include <QHash>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <memory>
#include <optional>
#include <vector>

class CallNotifier;
class DesktopSession;
class Label;
class MediaPlayer;
class StatusIcon;
class TextBox;
class Visual;

// The window that stays on screen while the program listens. It shows the
// raw text of each pass of the listening loop in `txtOut`, and turns the
// changes of that text into the alert state: the first change is the
// modem's replies to the set-up, the second their clearing ("Listening for
// calls"), and every change from the third on is a ring: the ringing band
// is shown, this window comes back into view at the top of the screen, and
// the chosen ring tone plays when the play-sound flag is set.
//
// In front without the keyboard: at a ring reaction the window is shown
// without asking to be activated and put into the window manager's "above"
// state, so it stays over the window the user works in, which keeps the
// keyboard. The call's end (or endAlertPlacement) puts it back to a normal
// window where it is. A modem lost or mute brings it into view the same
// way, without the above state.
//
// The ring count lives in the hidden text box `Text1` and the play-sound
// flag in the hidden check box `Check1`, which the settings window sets.
// Closing this window, or clicking the band, closes the port and ends the
// program.
//
// Always on (setAlwaysOn): a run that listens from the login on must not end
// with the first call. A click on the band dismisses the ring instead (the
// band goes, the tone stops, the caption says "Listening for calls" again
// and the "Stealth mode" button comes back); listening goes on and the next
// text from the modem rings again. Closing this window asks first whether
// to stop listening, without holding the listening loop while the question
// is open. The run's state also shows as an icon in the desktop's panel
// (StatusIcon).
//
// Who is calling: after each pass, Label4's caption becomes the caller's
// number from that pass's caller-ID report (without the blanks of a number
// given in groups), or empty when the pass has none; a numeric caption
// writes one record to the call log (CallLog).
// "VIEW LOG FILE" opens the log in the desktop's viewer.
//
// Calls: a call begins with a ring reaction while none is in progress and
// ends when the listening loop reports the modem quiet (callEnded) or lost.
// Its caller is what the passes since the previous call's end reported,
// joined field by field (a NAME line may come a pass after its NMBR), and is
// shown on the ringing band; when the call ends the caller is forgotten, so
// the next call never shows it. Each CallListener added is told of every
// ring reaction, caller and end of call, and of the line's state.
//
// Other stations: the home network brings the ring reactions of other
// computers' modems (remoteRing), which get the same ring reaction as this
// computer's modem. The band shows the caller of the latest ring reaction,
// whichever station it came from. A station without a modem of its own
// (listenToHomeNetworkOnly) is captioned by its broker's connection
// instead of by the modem; always on, its band's click dismisses the ring
// as on a modem's station, the caption going back to "Listening for calls
// (home network)", and the next ring message brings the band back.
class Alert : public Form, public ModemLink::Listener
{
    Q_OBJECT

public:
    explicit Alert(QWidget* parent = nullptr);
    ~Alert() override;

    // The settings window, unloaded when this window becomes active.
    void setStartWindow(Form* window) { m_startWindow = window; }
    // Replaces the sound player (tests use a recording one).
    void setPlayer(std::unique_ptr<MediaPlayer> player);
    // Listening starts: when the play-sound flag is set and there is no
    // player yet, makes the real one now, so that the first ring's tone is
    // not held up by the sound system starting. None is made before (the
    // settings window does not wait on the sound system) nor without the
    // flag. When Qt Multimedia has no usable backend there is no player and
    // every ring is silent; the band and the window still come.
    void prepareSound();

    // ModemLink::Listener
    void setReceivedText(const QString& text) override;
    void setNmbrPos(qint16 position) override;
    // The modem is gone: the window comes into view (also out of "Stealth
    // mode") captioned "Modem disconnected - reconnecting...".
    void linkLost() override;
    // The modem is back: the caption returns to what the ring count says.
    void linkRestored() override;
    // Nothing answered the set-up: the window comes into view captioned
    // "No answer from the modem on <portName>", and the ring count is lifted
    // to 2, as if the replies had come and gone, so that the first text that
    // arrives is taken for a ring.
    void noAnswer(const QString& portName) override;
    // The call in progress is over: the listeners hear of it, its caller is
    // forgotten and the band goes back to its plain text. Also forgets a
    // caller heard outside any call.
    void callEnded() override;
    // The modem took no caller-ID command (`command` is ""): a line above the
    // output box says so, naming the commands `tried`, until another check
    // finds one. Neither the caption nor the ring count changes.
    void callerIdChecked(const QString& command, const QStringList& tried) override;

    // The home network
    // Makes this a station without a modem that hears calls from the home
    // network only: captioned "Connecting to the home network..." until
    // homeNetworkHeard says more. A click on the band does what it does on
    // a modem's station: it ends a plain run (there is no port to close)
    // and dismisses the ring in an always-on run.
    void listenToHomeNetworkOnly();
    // For a station without a modem: `heard` once the broker has granted
    // its subscriptions ("Listening for calls (home network)", or "The
    // Phone is ringing now" after a ring), not heard while the broker
    // cannot be reached: the window comes into view (also out of "Stealth
    // mode") captioned "Home network disconnected - reconnecting...".
    // Listeners hear Listening or HomeNetworkLost. Only a change counts.
    void homeNetworkHeard(bool heard);
    // For a station without a modem that hears the broker: whether any
    // station with a modem is listening. When none is, it hears no call
    // either: the window comes into view captioned "No modem is listening
    // on the home network", and listeners hear HomeNetworkLost, until one
    // is back. Only a change counts.
    void homeNetworkModemsHeard(bool any);
    // A ring reaction of another station's call: `call.station` names the
    // station, its serial and rings are that station's, and its caller is
    // what that station's band shows ("" before caller ID). Does what a
    // ring of this computer's modem does (the band, now with this caller,
    // the window at the top of the screen, the tone when chosen, and the
    // listeners' ringReaction), tells the listeners callerIdentified when
    // that call's caller is new or changed, and writes one call-log record
    // per call once its number is numeric. A call without a station is
    // ignored: this computer's calls come from its modem alone.
    void remoteRing(const Call& call);
    // Another station's call is over: the listeners hear callEnded, and
    // the band forgets its caller when it shows it.
    void remoteCallEnded(const Call& call);
    bool homeNetworkOnly() const { return m_networkOnly; }
    // Ends what a ring reaction put in place for the alert: the window
    // leaves the "above" state (it stays shown where it is) and the screen
    // may go idle again. Done at the end of each call; also for a band the
    // user clicked away while listening goes on. The next ring reaction puts
    // both back.
    void endAlertPlacement();
    // Whether the window is held above the others for a ring.
    bool heldAbove() const;

    // Tells `listener` of every call from now on; it must outlive this
    // window or be removed first.
    void addCallListener(CallListener* listener);
    void removeCallListener(CallListener* listener);

    // Plays the stored ring tone on `objMMControl`; `strFilename` receives
    // the tone's path, or stays as it was when the choice names no tone.
    void PlaySound(MediaPlayer& objMMControl, QString& strFilename);

    // Makes this run always on (see above), or plain again. Set before
    // listening starts; it puts up the status icon.
    void setAlwaysOn(bool on);
    bool alwaysOn() const { return m_alwaysOn; }
    // The panel's icon of an always-on run; none in a plain run.
    StatusIcon* statusIcon() const { return m_statusIcon.get(); }

    // Brings the window into view, also out of "Stealth mode", on top and
    // with the keyboard: the user asked for it (the status icon's "Show the
    // Alert window").
    void showWindow();
    // Opens the call log in the desktop's viewer for text files ("VIEW LOG
    // FILE"); says so in a notice that does not wait when no viewer starts.
    void viewCallLog();

    // The ringing band, while it is loaded.
    Visual* visual() const;

    // The call in progress (serial 0 between calls, when it may still hold
    // a caller heard before the call's first ring reaction).
    const Call& currentCall() const { return m_call; }
    bool callInProgress() const { return m_inCall; }
    // The current call's caller, as the band shows it after "The phone is
    // ringing: " ("5551234 JOHN DOE", "private number", "unknown number");
    // "" until its caller ID has come.
    QString callerDescription() const { return m_call.caller; }
    WatchState watchState() const { return m_state; }

    TextBox* txtOut = nullptr;
    TextBox* Text1 = nullptr;
    QCheckBox* Check1 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command3 = nullptr;
    Label* Label4 = nullptr;
    // None until listening starts with the play-sound flag set (prepareSound).
    std::unique_ptr<MediaPlayer> MMControl1;
    // Where the caller's number starts in the last pass's text.
    qint16 NmbrPos = 0;
    // "No caller ID ...", shown while the modem reports no callers.
    QLabel* noCallerId = nullptr;

protected:
    void Form_Activate() override;
    void Form_Unload() override;
    // Always on: asks whether to stop listening instead of closing.
    void closeEvent(QCloseEvent* event) override;

private:
    void txtOut_Change();
    void Command1_Click();
    void showVisual();
    // A click on the band. A plain run closes the port and returns true when
    // it was ours, so that the band goes on to unload this window, which
    // ends the program; false: the click does nothing. An always-on run
    // dismisses the ring and returns false: the program goes on.
    bool bandClicked();
    // The user has seen the ring: the band is unloaded (its animation
    // stops), the tone stops, the caption and the "Stealth mode" button come
    // back as before the ring, and the listeners hear ringDismissed with the
    // call whose ring the band showed (another station's, perhaps). The
    // next change that brings text from the modem, or the next ring of
    // another station, rings again.
    void dismissRing();
    // Puts the question "Stop listening for calls?" up, once at a time;
    // "Stop listening" unloads this window, which closes the port and ends
    // the program.
    void askToStopListening();
    // Who is calling (the call log and the band's text)
    // Joins what `text` reports of the caller to the current call's, and
    // shows it on the band.
    void takeCaller(const QString& text);
    void showCallerOnBand();
    void Label4_Change();
    // Appends `record` (may be empty) to the call log; a failure is only
    // logged, never stops the listening.
    void appendToCallLog(const QString& record);
    void Command3_Click();
    // The ring reaction for `call`: the band, the window back at the top of
    // the screen, the tone when chosen, a log line that says `what` rang,
    // and the listeners.
    void ringReaction(const Call& call, const QString& what);
    // The caller the band shows: the one of the latest ring reaction.
    QString bandCaller() const;
    // The caption the ring count calls for.
    QString stateCaption() const;
    // Brings the window into view with `caption` while the modem cannot be heard.
    void warn(const QString& caption);
    // Captions a station without a modem by what it hears.
    void showHomeNetwork();
    // Shows the window without asking for the keyboard and brings it to the
    // front (`above`: held in the above state until endAlertPlacement).
    void comeForward(bool above);
    // Puts the window into the above state or takes it out, in place.
    void holdAbove(bool above);
    void setWatchState(WatchState state);
    // Calls `tell` on every listener, in the order they were added.
    template <typename Tell> void tellListeners(Tell tell);

    QPointer<Form> m_startWindow;
    std::unique_ptr<Visual> m_visual;
    // The call in progress, or the caller heard since the last call ended.
    Call m_call;
    bool m_inCall = false;
    // Whether a NMBR has been heard for m_call (a name may come alone).
    bool m_numberHeard = false;
    // The caller became known outside a call: the listeners hear of it
    // after the call's first ring reaction.
    bool m_callerUntold = false;
    int m_calls = 0;
    WatchState m_state = WatchState::Activating;
    bool m_alwaysOn = false;
    // The band was clicked away since the last ring reaction.
    bool m_dismissed = false;
    // The question whether to stop listening is up.
    bool m_asking = false;
    std::vector<CallListener*> m_listeners;
    // Other stations' calls in progress, by station: the call's serial, the
    // caller the listeners last heard of, and whether the log has it.
    struct RemoteCall
    {
        int serial = 0;
        QString caller;
        bool logged = false;
    };
    QHash<QString, RemoteCall> m_remoteCalls;
    // The other station's call the band shows, when the latest ring
    // reaction was one.
    std::optional<Call> m_remoteOnBand;
    bool m_networkOnly = false;
    bool m_networkHeard = false;
    bool m_modemsHeard = true;
    // Whether any ring reaction has happened in this run.
    bool m_rang = false;
    // The call of the latest ring reaction, this computer's or another
    // station's.
    Call m_bandCall;
    // Wakes the screen and notifies the desktop at each ring.
    std::unique_ptr<DesktopSession> m_desktop;
    std::unique_ptr<CallNotifier> m_callNotifier;
    std::unique_ptr<StatusIcon> m_statusIcon;
};
