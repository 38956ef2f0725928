#include "Placement.h"

#include "Logging.h"
#include "SwayIpc.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>

namespace Placement {

namespace {

template <typename Reply> using XReply = std::unique_ptr<Reply, decltype(&free)>;

// Qt's own connection to the X server; nullptr off X11.
xcb_connection_t* x11Connection()
{
    const auto* x11
        = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// The atom `name`, or XCB_ATOM_NONE when no client has made it yet (then
// no window carries it either).
xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    const XReply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 1, uint16_t(strlen(name)), name), nullptr),
        &free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

xcb_window_t rootWindow(xcb_connection_t* connection)
{
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    return screen ? screen->root : xcb_window_t(XCB_WINDOW_NONE);
}

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

// The window manager's check window, or XCB_WINDOW_NONE when no EWMH window
// manager runs.
xcb_window_t windowManagerCheck(xcb_connection_t* connection)
{
    const xcb_atom_t check = atom(connection, "_NET_SUPPORTING_WM_CHECK");
    const xcb_window_t root = rootWindow(connection);
    if (check == XCB_ATOM_NONE || root == XCB_WINDOW_NONE)
        return XCB_WINDOW_NONE;
    // A window manager that went away leaves its property on the root
    // window; its check window then no longer names itself.
    const xcb_window_t window = windowProperty(connection, root, check);
    if (window == XCB_WINDOW_NONE || windowProperty(connection, window, check) != window)
        return XCB_WINDOW_NONE;
    return window;
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
    xcb_connection_t* connection = x11Connection();
    return connection && windowManagerCheck(connection) != XCB_WINDOW_NONE;
}

QString windowManagerName()
{
    xcb_connection_t* connection = x11Connection();
    if (!connection)
        return {};
    const xcb_window_t check = windowManagerCheck(connection);
    if (check == XCB_WINDOW_NONE)
        return {};
    const XReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection,
            xcb_get_property(connection, 0, check, atom(connection, "_NET_WM_NAME"),
                atom(connection, "UTF8_STRING"), 0, 256),
            nullptr),
        &free);
    if (!reply || reply->format != 8)
        return {};
    return QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(reply.get())),
        xcb_get_property_value_length(reply.get()));
}

void activateForUser(QWindow* window)
{
    if (!window)
        return;
    xcb_connection_t* connection = x11Connection();
    const xcb_atom_t activeWindow
        = connection ? atom(connection, "_NET_ACTIVE_WINDOW") : xcb_atom_t(XCB_ATOM_NONE);
    if (activeWindow == XCB_ATOM_NONE || !windowManagerRuns()) {
        window->raise();
        window->requestActivate();
        return;
    }
    // EWMH: source 2 is "a pager or another client acting for the user".
    // No timestamp of the user's (the click was in the panel, not in a
    // window of ours): 0, which window managers take as "now".
    xcb_client_message_event_t event {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = xcb_window_t(window->winId());
    event.type = activeWindow;
    event.data.data32[0] = 2;
    event.data.data32[1] = XCB_CURRENT_TIME;
    event.data.data32[2] = XCB_WINDOW_NONE;
    xcb_send_event(connection, 0, rootWindow(connection),
        XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
        reinterpret_cast<const char*>(&event));
    xcb_flush(connection);
}

std::optional<QString> swayTopCommand(const SwayScene& scene)
{
    if (scene.socketPath.isEmpty() || scene.platform != QLatin1String("xcb")
        || scene.windowManager != QLatin1String("wlroots wm") || scene.windowId == 0)
        return std::nullopt;
    // Relative to the workspace, whose top is below any bar.
    const int x = std::max(0, (scene.screenWidth - scene.windowWidth) / 2);
    return QStringLiteral("[id=%1] move position %2 px 0 px").arg(scene.windowId).arg(x);
}

void moveToTopOnSway(QWindow* window)
{
    if (!window || !window->screen())
        return;
    SwayScene scene;
    scene.socketPath = qEnvironmentVariable("SWAYSOCK");
    scene.platform = QGuiApplication::platformName();
    // Asked only where sway may be behind the X server: a round trip each.
    if (!scene.socketPath.isEmpty() && scene.platform == QLatin1String("xcb"))
        scene.windowManager = windowManagerName();
    scene.windowId = window->winId();
    scene.screenWidth = window->screen()->geometry().width();
    scene.windowWidth = window->frameGeometry().width();
    const std::optional<QString> command = swayTopCommand(scene);
    if (!command)
        return;

    // The window's own move has reached the X server, and with it sway's
    // X connection, before sway hears from us.
    if (xcb_connection_t* connection = x11Connection())
        free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    // A window just shown may not be sway's yet: asked again a few times.
    auto* sway = new SwayCommand(scene.socketPath, *command, 4, 250, 2000, window);
    QObject::connect(
        sway, &SwayCommand::finished, sway, [command = *command](bool ok, const QString& error) {
            qCDebug(lcDesktop).noquote()
                << "sway:" << command
                << (ok ? QStringLiteral("done") : QStringLiteral("failed: ") + error);
        });
}

} // namespace Placement
