#pragma once

#include "Form.h"
#include "StartOptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <memory>

class Alert;
class Eula;
class Image;
class Label;
class MediaPlayer;
class Qhelp;
class QAction;
class QMenu;

// The settings window the program starts with: the port the modem is on,
// whether a ring tone is played on a ring and which one, a preview of the
// tone, and the menus that start listening and open the help window. None of
// the choices is loaded from the settings store: every run starts with port
// "4", no sound and "Select Ringtone".
//
// The program loads it (Form::Load) rather than showing it: its load handler
// loads the Alert window hidden and then shows either the first-run
// agreement or this window. It hands over to the Alert window when listening
// starts. "Exit" and the close box end the program; nothing is open before
// listening starts.
//
// Started with options (StartOptions), the port box and the sound box start
// from them, and with --listen the load goes straight on to listening
// without showing this window (after the agreement, when it has not been
// accepted yet).
//
// "Start listening when I log in" in the Start menu writes or removes the
// desktop's autostart entry (Autostart); while it is ticked, each start of
// listening writes the entry anew with that start's port and sound box, and
// the run is always on: a call does not end it (Alert::setAlwaysOn).
class welcome : public Form
{
    Q_OBJECT

public:
    explicit welcome(const StartOptions& options = {}, QWidget* parent = nullptr);
    ~welcome() override;

    // "Start Listening": sets the modem up and polls it for good. Returns
    // at once, doing nothing, when another copy of the program is running
    // or when this window is already listening.
    void mnuHidelisten_Click();
    // The start of a run with --listen: what "Start Listening" does, with
    // the ring tone left as stored. The load queues it; call it directly
    // only where the load has not.
    void listenAtStart();
    // Stores the ring-tone box's text, unchanged, as the chosen tone.
    void newchoice();
    // Plays the tone the ring-tone box names on `objMMControl`, with "wait"
    // sent after "Play"; `strFilename` receives the tone's path. A text that
    // names no tone only stops what the player was playing.
    void PlaySound(MediaPlayer& objMMControl, QString& strFilename);

    // Replaces the preview's player before its first use (tests use a
    // recording one). Without it the first preview creates the real player.
    void setPlayer(std::unique_ptr<MediaPlayer> player);

    Alert* alert() const { return m_alert.get(); }
    // The first-run agreement, once start-up has needed it.
    Eula* eula() const { return m_eula.get(); }
    // The help window, once "What's this" has opened it.
    Qhelp* help() const { return m_help.get(); }

    Image* Image1 = nullptr;
    QComboBox* Combo1 = nullptr;
    Label* Label3 = nullptr;
    Image* Image2 = nullptr;
    Label* Label1 = nullptr;
    QLineEdit* Text1 = nullptr;
    Label* Label2 = nullptr;
    QCheckBox* Check1 = nullptr;
    QMenu* mnubegin = nullptr;
    QAction* mnuHidelisten = nullptr;
    // "Start listening when I log in", checkable: whether the autostart
    // entry is there, read anew each time the menu opens.
    QAction* mnuAutostart = nullptr;
    QAction* mnuExit = nullptr;
    QMenu* mnuHelp = nullptr;
    QAction* mnugethelp = nullptr;
    // The preview's own player, separate from the Alert window's; made at
    // the first preview (none when Qt Multimedia has no usable backend).
    std::unique_ptr<MediaPlayer> MMControl1;

protected:
    void Form_Load() override;
    // The close box ends the program.
    void closeEvent(QCloseEvent* event) override;

private:
    void Check1_Click();
    void Image2_Click();
    void mnugethelp_Click();
    void mnuExit_Click();
    void mnubegin_AboutToShow();
    void mnuAutostart_Click(bool checked);
    // Starts listening: stores the ring-tone box's choice first when
    // `storeTone` and the sound box is ticked, rewrites the autostart entry
    // when there is one, then hands over to the Alert window for good.
    void listen(bool storeTone);
    // The start of listening, after the agreement's "I Agree" or the load
    // of a --listen run: queued, so that it runs from the event loop and
    // not inside a click or the load.
    void listenSoon();
    // The start at log-in that the boxes stand for: --listen with the port
    // box's text, and --sound when the sound box is ticked.
    StartOptions logInOptions() const;

    StartOptions m_options;
    QWidget* m_client = nullptr;
    bool m_listening = false;
    std::unique_ptr<Alert> m_alert;
    std::unique_ptr<Eula> m_eula;
    std::unique_ptr<Qhelp> m_help;
};
