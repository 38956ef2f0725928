// xwatch: times what a program does on the X server, watched from outside the
// program, for the benchmarks in bench/. Every time it prints is CLOCK_MONOTONIC
// (the clock of Python's time.monotonic() and of Qt's "%{time boot}"), taken
// when the X server's report reached us.
//
//   xwatch shown NAME [--timeout S] -- COMMAND [ARGS...]
//       Starts COMMAND and waits until a top-level window whose title is NAME
//       is viewable: the window is mapped and so is the window manager's frame
//       around it. Prints "shown <ms from exec>", then ends COMMAND with
//       SIGTERM and waits for it. Exit status 0, or 1 when the window did not
//       show within the timeout (default 20 s) or COMMAND ended first.
//
//   xwatch requests WINDOW
//       Records, with the X server's RECORD extension, the requests of the
//       client that owns WINDOW (a decimal or 0x window id) that change that
//       window's stacking or title. Prints one line per request, flushed:
//         <seconds> ready              recording has started
//         <seconds> raise              ConfigureWindow with stack mode Above
//         <seconds> above              the window manager was asked to put
//                                      the window in the above state (a
//                                      _NET_WM_STATE client message that adds
//                                      _NET_WM_STATE_ABOVE)
//         <seconds> title <text>       WM_NAME or _NET_WM_NAME set
//         <seconds> gone               the client disconnected (then exits 0)
//       Runs until the client is gone or xwatch is killed. Exit status 1 when
//       the display or RECORD is not there.

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <poll.h>
#include <set>
#include <string>
#include <sys/uio.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

namespace {

double monotonicSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

struct Connection
{
    xcb_connection_t* c = nullptr;
    xcb_screen_t* screen = nullptr;

    Connection()
    {
        int screenNumber = 0;
        c = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(c))
            return;
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
        for (int i = 0; i < screenNumber && it.rem; ++i)
            xcb_screen_next(&it);
        screen = it.data;
    }
    ~Connection() { xcb_disconnect(c); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    bool ok() const { return !xcb_connection_has_error(c) && screen; }
};

xcb_atom_t internAtom(xcb_connection_t* c, const char* name)
{
    auto cookie = xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(c, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The window's title: _NET_WM_NAME when it is set, else WM_NAME.
std::string windowTitle(xcb_connection_t* c, xcb_window_t window, xcb_atom_t netWmName)
{
    for (xcb_atom_t property : { netWmName, xcb_atom_t(XCB_ATOM_WM_NAME) }) {
        auto cookie = xcb_get_property(c, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024);
        std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
            xcb_get_property_reply(c, cookie, nullptr), &std::free);
        if (reply && reply->format == 8 && xcb_get_property_value_length(reply.get()) > 0)
            return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                std::size_t(xcb_get_property_value_length(reply.get())));
    }
    return {};
}

// --- shown ----------------------------------------------------------------

int runShown(const std::string& name, double timeout, char** command)
{
    Connection x;
    if (!x.ok()) {
        std::fprintf(stderr, "xwatch: cannot open the display\n");
        return 1;
    }
    xcb_connection_t* c = x.c;
    const xcb_window_t root = x.screen->root;
    const xcb_atom_t netWmName = internAtom(c, "_NET_WM_NAME");

    // Hear about every window made on, reparented from and mapped on the root,
    // and make sure the server has the selection before the program starts.
    const uint32_t rootMask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &rootMask);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));

    const double started = monotonicSeconds();
    const pid_t child = fork();
    if (child < 0) {
        std::perror("xwatch: fork");
        return 1;
    }
    if (child == 0) {
        execvp(command[0], command);
        std::fprintf(stderr, "xwatch: cannot run %s: %s\n", command[0], std::strerror(errno));
        _exit(127);
    }

    // Each top-level the program made: is it mapped, and where it sits now
    // (the root, or the frame the window manager put it in).
    struct Client
    {
        bool mapped = false;
        xcb_window_t parent = XCB_WINDOW_NONE;
    };
    std::map<xcb_window_t, Client> clients;
    std::set<xcb_window_t> mappedRootChildren;

    const auto viewable = [&](const Client& client) {
        return client.mapped
            && (client.parent == root || mappedRootChildren.count(client.parent) != 0);
    };

    std::optional<double> shownAt;
    const int fd = xcb_get_file_descriptor(c);
    while (!shownAt) {
        const double left = started + timeout - monotonicSeconds();
        if (left <= 0)
            break;
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child) {
            std::fprintf(stderr, "xwatch: %s ended before its window showed\n", command[0]);
            return 1;
        }
        xcb_generic_event_t* event = xcb_poll_for_event(c);
        if (!event) {
            if (xcb_connection_has_error(c))
                break;
            pollfd p { fd, POLLIN, 0 };
            poll(&p, 1, std::min(100, int(left * 1000) + 1));
            continue;
        }
        const double now = monotonicSeconds();
        std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> owner(event, &std::free);
        std::set<xcb_window_t> touched;
        switch (event->response_type & 0x7f) {
        case XCB_CREATE_NOTIFY: {
            const auto* e = reinterpret_cast<xcb_create_notify_event_t*>(event);
            if (e->parent != root)
                break;
            clients[e->window].parent = root;
            const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
            xcb_change_window_attributes(c, e->window, XCB_CW_EVENT_MASK, &mask);
            xcb_flush(c);
            break;
        }
        case XCB_REPARENT_NOTIFY: {
            const auto* e = reinterpret_cast<xcb_reparent_notify_event_t*>(event);
            auto it = clients.find(e->window);
            if (it != clients.end()) {
                it->second.parent = e->parent;
                touched.insert(e->window);
            }
            if (e->event == root && e->parent != root)
                mappedRootChildren.erase(e->window);
            break;
        }
        case XCB_MAP_NOTIFY: {
            const auto* e = reinterpret_cast<xcb_map_notify_event_t*>(event);
            if (e->event == root) {
                mappedRootChildren.insert(e->window);
                for (auto& [window, client] : clients)
                    if (client.parent == e->window)
                        touched.insert(window);
            }
            auto it = clients.find(e->window);
            if (it != clients.end()) {
                it->second.mapped = true;
                touched.insert(e->window);
            }
            break;
        }
        case XCB_UNMAP_NOTIFY: {
            const auto* e = reinterpret_cast<xcb_unmap_notify_event_t*>(event);
            if (e->event == root)
                mappedRootChildren.erase(e->window);
            auto it = clients.find(e->window);
            if (it != clients.end())
                it->second.mapped = false;
            break;
        }
        case XCB_DESTROY_NOTIFY:
            clients.erase(reinterpret_cast<xcb_destroy_notify_event_t*>(event)->window);
            break;
        default:
            break;
        }
        for (xcb_window_t window : touched) {
            if (viewable(clients[window]) && windowTitle(c, window, netWmName) == name) {
                shownAt = now;
                break;
            }
        }
    }

    if (shownAt)
        std::printf("shown %.3f\n", (*shownAt - started) * 1000.0);
    else
        std::fprintf(stderr, "xwatch: no window \"%s\" within %.0f s\n", name.c_str(), timeout);
    std::fflush(stdout);
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    return shownAt ? 0 : 1;
}

// --- requests -------------------------------------------------------------

// The RECORD extension, spoken directly: Debian ships its protocol header but
// libxcb-record's only in a package the project does not otherwise need.
xcb_extension_t recordExtension { "RECORD", 0 };

enum : uint8_t
{
    kRecordQueryVersion = 0,
    kRecordCreateContext = 1,
    kRecordEnableContext = 5,
};
// Categories of the recorded data (0 and 2, from the server and client
// started, are not asked for).
enum : uint8_t
{
    kCategoryFromClient = 1,
    kCategoryClientDied = 3,
    kCategoryStartOfData = 4,
    kCategoryEndOfData = 5,
};
constexpr uint8_t kConfigureWindow = 12;
constexpr uint8_t kChangeProperty = 18;
constexpr uint8_t kSendEvent = 25;
constexpr uint8_t kClientMessage = 33;
constexpr uint32_t kNetWmStateAdd = 1;
constexpr uint16_t kConfigStackMode = 0x40;
constexpr uint32_t kStackModeAbove = 0;

// Sends one RECORD request made of `words`, whose first word is left for
// xcb to fill with the opcodes and length. Returns its sequence number.
unsigned sendRecordRequest(
    xcb_connection_t* c, uint8_t opcode, std::vector<uint32_t>& words, bool hasReply)
{
    iovec parts[4] {};
    parts[2].iov_base = words.data();
    parts[2].iov_len = words.size() * sizeof(uint32_t);
    parts[3].iov_base = nullptr;
    parts[3].iov_len = 0;
    const xcb_protocol_request_t request { 2, &recordExtension, opcode, uint8_t(hasReply ? 0 : 1) };
    return xcb_send_request(c, XCB_REQUEST_CHECKED, parts + 2, &request);
}

uint16_t read16(const uint8_t* p)
{
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
uint32_t read32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

int runRequests(xcb_window_t window)
{
    Connection control;
    Connection data;
    if (!control.ok() || !data.ok()) {
        std::fprintf(stderr, "xwatch: cannot open the display\n");
        return 1;
    }
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(control.c, &recordExtension);
    if (!ext || !ext->present) {
        std::fprintf(stderr, "xwatch: the X server has no RECORD extension\n");
        return 1;
    }
    const xcb_atom_t netWmName = internAtom(control.c, "_NET_WM_NAME");
    const xcb_atom_t netWmState = internAtom(control.c, "_NET_WM_STATE");
    const xcb_atom_t netWmStateAbove = internAtom(control.c, "_NET_WM_STATE_ABOVE");

    // Query the version (the server wants it first), then make a context for
    // the client that owns `window`, taking its ConfigureWindow,
    // ChangeProperty and SendEvent requests (three ranges) and its
    // disconnection.
    std::vector<uint32_t> query { 0, (13u << 16) | 1u };
    std::free(xcb_wait_for_reply(
        control.c, sendRecordRequest(control.c, kRecordQueryVersion, query, true), nullptr));

    const uint32_t context = xcb_generate_id(control.c);
    std::vector<uint32_t> create { 0, context, 0 /* no element headers */, 1, 3, window };
    const auto range = [&](uint8_t request, bool clientDied) {
        uint8_t bytes[24] {};
        bytes[0] = request; // core requests first..last
        bytes[1] = request;
        bytes[23] = clientDied ? 1 : 0;
        uint32_t words[6];
        std::memcpy(words, bytes, sizeof bytes);
        create.insert(create.end(), std::begin(words), std::end(words));
    };
    range(kConfigureWindow, true);
    range(kChangeProperty, false);
    range(kSendEvent, false);
    const unsigned created = sendRecordRequest(control.c, kRecordCreateContext, create, false);
    if (xcb_generic_error_t* error = xcb_request_check(control.c, xcb_void_cookie_t { created })) {
        std::fprintf(
            stderr, "xwatch: RECORD refused the context (X error %d)\n", int(error->error_code));
        std::free(error);
        return 1;
    }

    std::vector<uint32_t> enable { 0, context };
    const unsigned sequence = sendRecordRequest(data.c, kRecordEnableContext, enable, true);
    xcb_flush(data.c);

    for (;;) {
        xcb_generic_error_t* failure = nullptr;
        auto* reply = static_cast<uint8_t*>(xcb_wait_for_reply(data.c, sequence, &failure));
        if (!reply) {
            std::fprintf(stderr, "xwatch: recording stopped (%s)\n",
                failure ? "X error" : "connection closed");
            std::free(failure);
            return 1;
        }
        const double now = monotonicSeconds();
        std::unique_ptr<uint8_t, decltype(&std::free)> owner(reply, &std::free);
        const uint8_t category = reply[1];
        const std::size_t length = std::size_t(read32(reply + 4)) * 4;
        const uint8_t* body = reply + 32;

        if (category == kCategoryStartOfData) {
            std::printf("%.6f ready\n", now);
        } else if (category == kCategoryClientDied || category == kCategoryEndOfData) {
            std::printf("%.6f gone\n", now);
            std::fflush(stdout);
            return 0;
        } else if (category == kCategoryFromClient) {
            // One or more requests, each with its own length.
            std::size_t offset = 0;
            while (offset + 4 <= length) {
                const uint8_t* request = body + offset;
                std::size_t size = std::size_t(read16(request + 2)) * 4;
                if (size == 0 && offset + 8 <= length)
                    size = std::size_t(read32(request + 4)) * 4; // big request
                if (size < 4 || offset + size > length)
                    break;
                if (request[0] == kConfigureWindow && size >= 12 && read32(request + 4) == window) {
                    const uint16_t mask = read16(request + 8);
                    if (mask & kConfigStackMode) {
                        const int index = __builtin_popcount(mask & (kConfigStackMode - 1));
                        if (size >= std::size_t(16 + 4 * index)
                            && read32(request + 12 + 4 * index) == kStackModeAbove)
                            std::printf("%.6f raise\n", now);
                    }
                } else if (request[0] == kSendEvent && size >= 44) {
                    // The event follows the destination and the event mask.
                    const uint8_t* event = request + 12;
                    if ((event[0] & 0x7f) == kClientMessage && event[1] == 32
                        && read32(event + 4) == window && read32(event + 8) == netWmState
                        && read32(event + 12) == kNetWmStateAdd
                        && (read32(event + 16) == netWmStateAbove
                            || read32(event + 20) == netWmStateAbove))
                        std::printf("%.6f above\n", now);
                } else if (request[0] == kChangeProperty && size >= 24
                    && read32(request + 4) == window) {
                    const uint32_t property = read32(request + 8);
                    if (property == XCB_ATOM_WM_NAME || property == netWmName) {
                        const std::size_t count
                            = std::min<std::size_t>(read32(request + 20), size - 24);
                        std::printf("%.6f title %.*s\n", now, int(count),
                            reinterpret_cast<const char*>(request + 24));
                    }
                }
                offset += size;
            }
        }
        std::fflush(stdout);
    }
}

int usage()
{
    std::fprintf(stderr,
        "usage: xwatch shown NAME [--timeout S] -- COMMAND [ARGS...]\n"
        "       xwatch requests WINDOW\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "requests") == 0) {
        char* end = nullptr;
        const unsigned long window = std::strtoul(argv[2], &end, 0);
        if (end == argv[2] || *end != '\0' || window == 0)
            return usage();
        return runRequests(xcb_window_t(window));
    }
    if (argc >= 5 && std::strcmp(argv[1], "shown") == 0) {
        const std::string name = argv[2];
        double timeout = 20.0;
        int i = 3;
        if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
            timeout = std::atof(argv[i + 1]);
            i += 2;
        }
        if (i >= argc || std::strcmp(argv[i], "--") != 0 || i + 1 >= argc)
            return usage();
        return runShown(name, timeout, argv + i + 1);
    }
    return usage();
}
