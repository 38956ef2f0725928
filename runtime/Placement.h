#pragma once

#include <QString>
#include <optional>

class QWindow;

// How a window that must be seen (the ringing band, the Alert window) comes
// to the front without taking the keyboard from the window the user works
// in.
//
// Under an X11 window manager a window reaches the front through its
// "above" state (_NET_WM_STATE_ABOVE), which GNOME Shell, KWin, Xfwm and
// Openbox honour whoever has the keyboard. A raise request is no good there:
// GNOME refuses it to a window whose program does not have the keyboard and
// marks the window as demanding attention instead, which shows the banner
// "... is ready" and holds back the program's own notification. On a bare X
// server (no window manager) the server carries a raise out itself, so
// there the window is raised.
namespace Placement {

// Puts `window` into the window manager's "above" state, or back to the
// normal one, while it stays shown: the native window is neither hidden,
// re-created nor activated. Before the window exists this only records the
// wish for its first show.
void keepAbove(QWindow* window, bool above);

// Declares `window` an alert box of its own (no parent): a dialog in the
// window manager's terms (_NET_WM_WINDOW_TYPE_DIALOG on X11). Tiling window
// managers (sway, i3) float dialogs over the tiled windows instead of
// squeezing them into a column; stacking ones treat it as a normal window.
// Unlike Qt::Dialog this adds no WM_TRANSIENT_FOR, so the window keeps its
// own taskbar entry. `window` must exist (QWidget::winId()).
void declareDialog(QWindow* window);

// Raises a shown `window` to the top of its layer where that can be done
// without asking for the keyboard: always on a bare X server and on
// platforms other than X11 (where the compositor decides anyway), never
// under an X11 window manager (see above). Returns whether it asked for a
// raise.
bool raiseWithoutActivating(QWindow* window);

// Whether an EWMH window manager manages the X screen the program runs on
// (_NET_SUPPORTING_WM_CHECK on the root window names a live window that
// names itself). False off X11.
bool windowManagerRuns();

// The name that window manager gives itself (_NET_WM_NAME of that window):
// "GNOME Shell", "KWin", "Openbox", "wlroots wm" (sway's XWayland...); ""
// when none runs, it gives none, or off X11.
QString windowManagerName();

// Brings `window` to the front with the keyboard for the user's own request
// made outside the window, such as an item of the panel's menu: the
// window manager gets no input event of ours that would show the request
// came from the user. Under an X11 window manager this asks for the
// window's activation as a pager does (_NET_ACTIVE_WINDOW, source 2), which
// window managers carry out for the user's tools without their
// focus-stealing prevention (GNOME marks the window as demanding attention
// instead, with its "is ready" banner, when a program asks for itself). On
// a bare X server and off X11: a raise and Qt's activation request.
void activateForUser(QWindow* window);

// sway centres a floating X11 window at each of its move or resize
// requests, so a window's own move to the top of the screen ends up in the
// middle there. This asks sway itself, over its IPC socket, to move
// `window` to the top of its workspace, once sway has seen the window's own
// move: a round trip to the X server first, then a fresh connection (see
// SwayCommand). Nothing waits for sway, and without a sway behind the X
// server (swayTopCommand) nothing is sent. The outcome goes to the log.
void moveToTopOnSway(QWindow* window);

// What the command for moveToTopOnSway depends on.
struct SwayScene
{
    // $SWAYSOCK ("" when unset).
    QString socketPath;
    // Qt's platform ("xcb", "wayland"...).
    QString platform;
    // windowManagerName().
    QString windowManager;
    // The X11 window's id.
    quint64 windowId = 0;
    // The widths of the window's screen and of the window with its frame.
    int screenWidth = 0;
    int windowWidth = 0;
};

// The sway command that moves the X11 window to the top of its workspace,
// centred across, as sway itself centres it; nullopt unless the program
// runs on X11 under sway's XWayland (its window manager calls itself
// "wlroots wm") with $SWAYSOCK set. A pure function.
std::optional<QString> swayTopCommand(const SwayScene& scene);

} // namespace Placement
