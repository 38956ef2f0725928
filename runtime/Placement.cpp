#include "Placement.h"

#include <QGuiApplication>
#include <QWindow>
#include <memory>
#include <xcb/xcb.h>

namespace Placement {

namespace {

// The one window an EWMH window property names, or XCB_WINDOW_NONE.
xcb_window_t windowProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property)
{
    const xcb_get_property_cookie_t cookie
        = xcb_get_property(connection, 0, window, property, XCB_ATOM_WINDOW, 0, 1);
    const std::unique_ptr<xcb_get_property_reply_t, decltype(&free)> reply(
        xcb_get_property_reply(connection, cookie, nullptr), &free);
    if (!reply || reply->type != XCB_ATOM_WINDOW || reply->format != 32
        || xcb_get_property_value_length(reply.get()) < 4)
        return XCB_WINDOW_NONE;
    return *static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
}

} // namespace

void keepAbove(QWindow* window, bool above)
{
    if (!window || window->flags().testFlag(Qt::WindowStaysOnTopHint) == above)
        return;
    // The platform window carries the change to the window manager in
    // place (a _NET_WM_STATE request on X11).
    window->setFlag(Qt::WindowStaysOnTopHint, above);
}

void declareDialog(QWindow* window)
{
    if (!window)
        return;
    // Qt's X11 platform takes the window's type from this property each time
    // it sets the window's flags; 0x80 is its "dialog". Other platforms
    // ignore it.
    constexpr int kXcbDialog = 0x80;
    window->setProperty("_q_xcb_wm_window_type", kXcbDialog);
    // The flags set again, so that the type reaches the native window
    // before it is first shown.
    const Qt::WindowFlags flags = window->flags();
    window->setFlags(flags ^ Qt::WindowContextHelpButtonHint);
    window->setFlags(flags);
}

bool raiseWithoutActivating(QWindow* window)
{
    if (!window || !window->isVisible())
        return false;
    if (windowManagerRuns())
        return false;
    window->raise();
    return true;
}

bool windowManagerRuns()
{
    const auto* x11
        = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    static constexpr char kName[] = "_NET_SUPPORTING_WM_CHECK";
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&free)> atom(
        xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 1, sizeof kName - 1, kName), nullptr),
        &free);
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen)
        return false;
    // A window manager that went away leaves its property on the root
    // window; its check window then no longer names itself.
    const xcb_window_t check = windowProperty(connection, screen->root, atom->atom);
    return check != XCB_WINDOW_NONE && windowProperty(connection, check, atom->atom) == check;
}

} // namespace Placement
