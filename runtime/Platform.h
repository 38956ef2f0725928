#pragma once

#include <QString>
#include <string>
#include <vector>

// Which of Qt's window-system platforms the program runs on, chosen before
// the application object exists.
//
// The band and the Alert window need what Wayland compositors give no
// ordinary window: a place of its own choosing, a stay above the others and
// a way to the front without the keyboard. X11 windows have all of that, also
// through XWayland, which GNOME Shell, KWin and wlroots compositors start when
// an X client connects. So wherever an X server answers, the program runs on
// "xcb", unless the user chose a platform (QT_QPA_PLATFORM or -platform).
// Without an X server, Qt's own choice stands.
namespace Platform {

// What the choice depends on.
struct Environment
{
    // The user's own choice: the -platform argument, else QT_QPA_PLATFORM;
    // "" when there is neither.
    QString userPlatform;
    // DISPLAY and WAYLAND_DISPLAY as set ("" when unset).
    QString display;
    QString waylandDisplay;
    // Whether an X server at `display` let us connect.
    bool xServerAnswers = false;
};

struct Choice
{
    // The platform to ask Qt for; "" leaves the choice to the user's setting
    // or to Qt.
    QString platform;
    // Why, in one line for the log.
    QString reason;
    // True when the windows end up on a Wayland compositor of their own
    // (no X server, or the user chose Wayland): the compositor then decides
    // where the band goes and who has the keyboard.
    bool nativeWayland = false;
};

// The choice for `environment`. A pure function: it reads nothing else.
Choice choose(const Environment& environment);

// The environment of this process and its command line (`argc`, `argv` as
// main receives them). Tries DISPLAY's server when it is a local one (a
// socket on this machine: ":0", "unix:0", "localhost:10"); a display on
// another host is taken to answer, as Qt would try it anyway.
Environment current(int argc, char** argv);

// Whether the X server at `display` accepts a connection from us (its
// socket answers and our authority is good). The connection is closed again
// at once. "" is no server. A local server answers within milliseconds, or
// refuses at once; an XWayland started on demand is waited for, as Qt's own
// connection would wait for it a moment later.
bool xServerAnswers(const QString& display);

// The command line the application is made from: main's own, with
// "-platform xcb" added when the choice asks for it. Deciding logs the
// choice and its reason in ringwarden.desktop at info level, and warns when
// the windows end up native on Wayland.
class Arguments
{
public:
    Arguments(int argc, char** argv);

    // For QApplication(int&, char**): both stay valid while this object lives.
    int& count() { return m_count; }
    char** values() { return m_pointers.data(); }
    const Choice& choice() const { return m_choice; }

private:
    Choice m_choice;
    std::vector<std::string> m_values;
    std::vector<char*> m_pointers;
    int m_count = 0;
};

} // namespace Platform
