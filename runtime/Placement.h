#pragma once

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

} // namespace Placement
