#include "ModemSim.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// While nobody holds the slave open the master reports POLLHUP at once, so it cannot be waited
// on; we look again after this long instead.
constexpr int kClosedLinePollMs = 50;
// How long a write may wait for a program that does not read before the rest is dropped.
constexpr int kWriteStallMs = 500;
// Characters of a command line beyond this are dropped; V.250 asks for at least 40.
constexpr std::size_t kMaxLineLength = 256;
constexpr int kRegisterCount = 100;

enum ResultCode
{
    kOk = 0,
    kConnect = 1,
    kRing = 2,
    kNoCarrier = 3,
    kError = 4
};
constexpr const char* kResultWords[] = { "OK", "CONNECT", "RING", "NO CARRIER", "ERROR" };

constexpr const char* kIdentification = "RINGWARDEN MODEM SIMULATOR";

// Commands that only store a number, with their highest value and power-on value. Ranges follow
// the Rockwell/Conexant chip sets that most US voice modems are built on. H is hang-up: the
// simulated line is always on-hook, so it only answers OK.
struct Setting
{
    std::string_view name;
    int max;
    int initial;
};
// clang-format off
constexpr Setting kSettings[] = {
    { "B", 1, 0 },   { "E", 1, 1 },   { "H", 3, 0 },    { "L", 3, 2 },    { "M", 3, 1 },
    { "N", 1, 1 },   { "Q", 1, 0 },   { "V", 1, 1 },    { "W", 2, 0 },    { "X", 4, 4 },
    { "&C", 1, 1 },  { "&D", 3, 2 },  { "\\N", 7, 3 },  { "\\Q", 3, 3 },  { "\\T", 90, 0 },
    { "-C", 1, 0 },  { "-J", 1, 1 },  { "%C", 3, 3 },   { "\"H", 3, 3 },  { "+VCID", 2, 0 },
    { "#CID", 2, 0 }, { "%CCID", 1, 0 },
};
// clang-format on

// S-register power-on values; registers not listed start at 0.
constexpr int kRegisterDefaults[] = { 0, 0, 43, 13, 10, 8, 2, 50, 2, 6, 14, 95, 50 };

// The caller-ID commands of the modem kinds, in the order of ModemSim::CallerIdCommand.
constexpr std::string_view kCallerIdNames[] = { "+VCID", "#CID", "%CCID" };

const Setting* findSetting(std::string_view name)
{
    for (const Setting& s : kSettings) {
        if (s.name == name)
            return &s;
    }
    return nullptr;
}

// Runs a system call again for as long as a signal interrupts it.
template <typename Call> auto retryOnEintr(Call call)
{
    for (;;) {
        auto result = call();
        if (result != -1 || errno != EINTR)
            return result;
    }
}

[[noreturn]] void failWithErrno(std::string_view what)
{
    throw std::runtime_error(ModemSim::systemError(what, errno));
}

std::string toHex(std::string_view bytes, const char* digits, std::string_view separator)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty())
            out += separator;
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string upper(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

std::string ModemSim::systemError(std::string_view what, int error)
{
    return std::string(what) + ": " + std::strerror(error);
}

ModemSim::ModemSim(Options options)
    : m_options(std::move(options))
{
    m_start = now();
    resetSettings();

    // Open the log
    if (!m_options.logPath.empty()) {
        m_logFile = std::fopen(m_options.logPath.c_str(), "we");
        if (!m_logFile)
            failWithErrno("cannot open log " + m_options.logPath);
    }

    // Open the pty and point the link at it
    try {
        openPty();
        makeLink();
    } catch (...) {
        closePty();
        if (m_logFile)
            std::fclose(m_logFile);
        throw;
    }
    record(Kind::Event, "ready " + m_slavePath);
}

ModemSim::ModemSim()
    : ModemSim(Options())
{ }

ModemSim::~ModemSim()
{
    removeLink();
    closePty();
    if (m_logFile)
        std::fclose(m_logFile);
}

std::chrono::steady_clock::time_point ModemSim::now() const
{
    return m_options.clock ? m_options.clock() : Clock::now();
}

std::string_view ModemSim::callerIdName() const
{
    const auto kind = std::size_t(m_options.callerIdCommand);
    return kind < std::size(kCallerIdNames) ? kCallerIdNames[kind] : std::string_view();
}

int ModemSim::callerIdMode() const
{
    const std::string_view name = callerIdName();
    return name.empty() ? 0 : std::max(setting(name), 0);
}

// Opens a new pty pair and leaves its slave side in raw mode with nobody holding it.
void ModemSim::openPty()
{
    // Open the master side
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0)
        failWithErrno("posix_openpt");
    char name[128] = {};
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0
        || fcntl(master, F_SETFD, FD_CLOEXEC) != 0 || fcntl(master, F_SETFL, O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(master);
        throw std::runtime_error(systemError("cannot set up pseudo-terminal", error));
    }

    // Put the slave side in raw mode once. A fresh pty echoes, and its echo would hand every
    // RING we write straight back to us as if the program had sent it. The tty keeps these
    // settings (and whatever the program sets later) across closes as long as our master stays
    // open. Closing our descriptor again leaves the master reporting POLLHUP, the same state as
    // after any program closes the line; holding the slave would keep a TIOCEXCL set by the
    // program from ever being cleared.
    const int slave = retryOnEintr([&] { return ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC); });
    termios settings {};
    if (slave < 0 || tcgetattr(slave, &settings) != 0) {
        const int error = errno;
        if (slave >= 0)
            ::close(slave);
        ::close(master);
        throw std::runtime_error(systemError(std::string("cannot open ") + name, error));
    }
    cfmakeraw(&settings);
    const bool rawSet = tcsetattr(slave, TCSANOW, &settings) == 0;
    const int error = errno;
    ::close(slave);
    if (!rawSet) {
        ::close(master);
        throw std::runtime_error(systemError(std::string("cannot make raw ") + name, error));
    }

    m_master = master;
    m_slavePath = name;
    m_lineOpen = false;
}

void ModemSim::closePty()
{
    if (m_master >= 0)
        ::close(m_master); // nothing useful to do if the close fails
    m_master = -1;
}

// Points the link at the current slave. An old link is replaced (through a temporary name and
// rename, so an opener never finds the path missing); any other kind of file there is an error.
void ModemSim::makeLink()
{
    const std::string& path = m_options.linkPath;
    if (path.empty())
        return;
    struct stat st = {};
    if (lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
        throw std::runtime_error(path + ": exists and is not a symbolic link");
    const std::string temporary = path + ".new";
    ::unlink(temporary.c_str());
    if (::symlink(m_slavePath.c_str(), temporary.c_str()) != 0)
        failWithErrno("cannot create link " + temporary);
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        throw std::runtime_error(systemError("cannot create link " + path, error));
    }
    m_linkMade = true;
}

// Removes the link, unless someone has since pointed it elsewhere.
void ModemSim::removeLink()
{
    if (!m_linkMade)
        return;
    m_linkMade = false;
    char target[256] = {};
    const ssize_t n = ::readlink(m_options.linkPath.c_str(), target, sizeof target - 1);
    if (n > 0 && m_slavePath == std::string_view(target, std::size_t(n)))
        ::unlink(m_options.linkPath.c_str());
}

// Looks at the master without waiting: the line is open unless it reports POLLHUP.
bool ModemSim::masterSeesSlave() const
{
    pollfd p { m_master, POLLIN, 0 };
    return retryOnEintr([&] { return ::poll(&p, 1, 0); }) >= 0 && !(p.revents & POLLHUP);
}

// Logs "open" or "hangup" when the line's state differs from the last one seen, and returns the
// new state.
bool ModemSim::checkLine()
{
    const bool open = masterSeesSlave();
    if (open != m_lineOpen) {
        m_lineOpen = open;
        m_hungUp = m_hungUp || !open;
        record(Kind::Event, open ? "open" : "hangup");
    }
    return open;
}

void ModemSim::service(int timeoutMs, std::span<pollfd> extra)
{
    // Wait for input, a ring that falls due or one of the caller's descriptors
    int wait = std::max(timeoutMs, 0);
    if (m_call) {
        auto next = m_call->next;
        if (m_call->callerIdAt)
            next = std::min(next, *m_call->callerIdAt);
        const auto due = std::chrono::ceil<std::chrono::milliseconds>(next - now());
        wait = std::min<int>(wait, int(std::max<std::chrono::milliseconds::rep>(due.count(), 0)));
    }
    const bool open = masterSeesSlave(); // logged below, after any data the program left
    if (!open)
        wait = std::min(wait, kClosedLinePollMs);
    std::vector<pollfd> fds;
    fds.push_back({ open ? m_master : -1, POLLIN, 0 });
    fds.insert(fds.end(), extra.begin(), extra.end());
    if (retryOnEintr([&] { return ::poll(fds.data(), fds.size(), wait); }) < 0)
        failWithErrno("poll");
    std::copy(fds.begin() + 1, fds.end(), extra.begin());

    // Read and answer what the program sent; a hang-up is noted only after the last of its data
    if (!m_lineOpen)
        checkLine();
    readAvailable();
    checkLine();

    // Give the next program a fresh tty
    if (m_hungUp && m_options.renewOnHangup) {
        closePty();
        openPty();
        makeLink();
        record(Kind::Event, "renew " + m_slavePath);
    }
    m_hungUp = false;

    // Send the caller ID that is due on its own, then the ring that is due, or end the call
    // after its last one
    if (m_call && m_call->callerIdAt && now() >= *m_call->callerIdAt) {
        m_call->callerIdAt.reset();
        sendCallerId();
    }
    if (m_call && now() >= m_call->next) {
        if (m_call->sent < m_call->rings)
            ring();
        else
            endCall();
    }
}

void ModemSim::readAvailable()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = retryOnEintr([&] { return ::read(m_master, buffer, sizeof buffer); });
        if (n <= 0) {
            // EAGAIN: all read. EIO: the last holder of the slave closed it.
            if (n < 0 && errno != EAGAIN && errno != EIO)
                failWithErrno("read from " + m_slavePath);
            return;
        }
        const std::string_view bytes(buffer, std::size_t(n));
        m_received += bytes;
        record(Kind::Rx, std::string(bytes));
        feed(bytes);
    }
}

// Echoes the bytes while E1 and collects them into command lines; each line is executed when
// its terminator (S3) comes. Echo and replies go out in the order a modem would send them.
void ModemSim::feed(std::string_view bytes)
{
    std::string out;
    for (char c : bytes) {
        if (echoOn())
            out += c;
        if (c == char(m_registers[3])) {
            out += execute(m_lineBuffer);
            m_lineBuffer.clear();
        } else if (c == char(m_registers[5])) {
            if (!m_lineBuffer.empty())
                m_lineBuffer.pop_back();
        } else if (c != '\n' && m_lineBuffer.size() < kMaxLineLength) {
            m_lineBuffer += c;
        }
    }
    send(out);
}

// Runs one command line (without its terminator) and returns what the modem answers: any
// information text, then one result code. Commands run left to right; the first bad one stops
// the line with ERROR and leaves the earlier ones in effect. Lines not starting with AT are
// ignored.
std::string ModemSim::execute(std::string_view line)
{
    if (line.empty())
        return {};
    record(Kind::Cmd, std::string(line));
    if (line.size() < 2 || std::toupper(static_cast<unsigned char>(line[0])) != 'A'
        || std::toupper(static_cast<unsigned char>(line[1])) != 'T')
        return {};

    std::string out;
    std::size_t i = 2;
    auto at = [&](std::size_t k) {
        return k < line.size() ? char(std::toupper(static_cast<unsigned char>(line[k]))) : '\0';
    };
    // A missing number counts as 0; a huge one is kept huge enough to fail range checks.
    auto number = [&] {
        int value = 0;
        for (; i < line.size() && isDigit(line[i]); ++i)
            value = std::min(value * 10 + (line[i] - '0'), 1000000);
        return value;
    };
    auto failed = [&] { return out + resultCode(kError); }; // in the V form in force by then

    while (i < line.size()) {
        const char c = at(i);
        if (c == ' ' || c == ';') {
            ++i;
        } else if (c == 'Z') {
            resetSettings(); // the rest of the line is ignored, as V.250 says
            return out + resultCode(kOk);
        } else if (c == 'A') {
            // Answering is the one thing the program must never make the modem do
            record(Kind::Event, "would-answer");
            endCall();
            return out + resultCode(kNoCarrier);
        } else if (c == 'I') {
            ++i;
            if (number() > 9)
                return failed();
            out += infoText(kIdentification);
        } else if (c == '&' && at(i + 1) == 'F') {
            i += 2;
            if (number() != 0)
                return failed();
            resetSettings();
        } else if (c == 'S') {
            ++i;
            const int reg = number();
            if (reg >= kRegisterCount)
                return failed();
            if (at(i) == '?') {
                ++i;
                char value[8];
                std::snprintf(value, sizeof value, "%03d", m_registers[reg]);
                out += infoText(value);
            } else if (at(i) == '=') {
                ++i;
                const int value = number();
                if (value > 255)
                    return failed();
                m_registers[reg] = value;
            } else {
                return failed();
            }
        } else if (c == '+' || c == '#' || (c == '%' && upper(line.substr(i, 5)) == "%CCID")) {
            // An extended command: a prefix and a name
            const std::size_t start = i++;
            while (std::isalnum(static_cast<unsigned char>(at(i))))
                ++i;
            const std::string name = upper(line.substr(start, i - start));
            const Setting* setting = findSetting(name);
            // A modem knows its own caller-ID command only
            const bool otherKind
                = std::find(std::begin(kCallerIdNames), std::end(kCallerIdNames), name)
                    != std::end(kCallerIdNames)
                && name != callerIdName();
            if (!setting || otherKind)
                return failed();
            if (at(i) == '=' && at(i + 1) == '?') {
                i += 2;
                out += infoText(name + ": (0-" + std::to_string(setting->max) + ")");
            } else if (at(i) == '?') {
                ++i;
                out += infoText(name + ": " + std::to_string(m_settings[name]));
            } else if (at(i) == '=') {
                ++i;
                const int value = number();
                if (value > setting->max)
                    return failed();
                m_settings[name] = value;
            } else {
                return failed();
            }
        } else {
            // A command that stores a number: one letter, or a prefix character and a letter
            const std::size_t length = std::strchr("&\\-%\"", c) ? 2 : 1;
            const std::string name = upper(line.substr(i, length));
            const Setting* setting = name.size() == length ? findSetting(name) : nullptr;
            if (!setting)
                return failed();
            i += length;
            const int value = number();
            if (value > setting->max)
                return failed();
            m_settings[name] = value;
        }
    }
    return out + resultCode(kOk);
}

std::string ModemSim::resultCode(int code) const
{
    if (setting("Q") == 1)
        return {};
    const std::string cr(1, char(m_registers[3]));
    const std::string lf(1, char(m_registers[4]));
    if (setting("V") == 0)
        return std::to_string(code) + cr;
    return cr + lf + kResultWords[code] + cr + lf;
}

std::string ModemSim::infoText(std::string_view text) const
{
    const std::string cr(1, char(m_registers[3]));
    const std::string lf(1, char(m_registers[4]));
    if (setting("V") == 0)
        return std::string(text) + cr + lf;
    return cr + lf + std::string(text) + cr + lf;
}

// The caller-ID report for the current caller-ID mode: formatted lines for 1, an MDMF message in
// hex for 2. A callerIdFirst modem leaves the name out.
std::string ModemSim::callerIdBlock(const CallerId& caller) const
{
    std::string date = caller.date;
    std::string time = caller.time;
    if (date.empty() || time.empty()) {
        const std::time_t now = std::time(nullptr);
        std::tm local {};
        localtime_r(&now, &local);
        char text[8];
        if (date.empty() && std::strftime(text, sizeof text, "%m%d", &local))
            date = text;
        if (time.empty() && std::strftime(text, sizeof text, "%H%M", &local))
            time = text;
    }
    const bool numberWithheld = caller.number == "P" || caller.number == "O";
    const bool nameWithheld = caller.name == "P" || caller.name == "O";

    if (callerIdMode() == 1) {
        const std::string is = m_options.compactCallerId ? "=" : " = ";
        std::string out = "\r\nDATE" + is + date + "\r\nTIME" + is + time + "\r\nNMBR" + is
            + caller.number + "\r\n";
        if (!caller.name.empty() && !m_options.callerIdFirst)
            out += "NAME" + is + caller.name + "\r\n";
        return out + "\r\n";
    }

    // MDMF parameters: 01 date and time, 02 number or 04 reason it is absent, 07 name or 08
    // reason it is absent. The checksum makes all bytes of the message sum to 0 modulo 256.
    std::string body;
    auto parameter = [&](int type, std::string_view value) {
        value = value.substr(0, 20);
        body += char(type);
        body += char(value.size());
        body += value;
    };
    parameter(0x01, date + time);
    parameter(numberWithheld ? 0x04 : 0x02, caller.number);
    if (nameWithheld || !caller.name.empty())
        parameter(nameWithheld ? 0x08 : 0x07, caller.name);
    std::string message = std::string(1, char(0x80)) + char(body.size()) + body;
    unsigned sum = 0;
    for (unsigned char b : message)
        sum += b;
    message += char((256 - sum % 256) % 256);
    return "\r\nMESG = " + toHex(message, "0123456789ABCDEF", "") + "\r\n\r\n";
}

void ModemSim::startCall(const CallerId& caller, int rings, std::chrono::milliseconds interval)
{
    endCall();
    m_call = Call { caller, std::max(rings, 1), 0, interval, now(), {} };
    record(Kind::Event, "call " + caller.number);
    if (m_options.callerIdFirst && callerIdOn()) {
        sendCallerId();
        m_call->next = now() + kCallerIdLead;
        return;
    }
    ring();
}

void ModemSim::sendCallerId()
{
    if (!m_call || !callerIdOn())
        return;
    record(Kind::Event, "cid");
    send(callerIdBlock(m_call->caller));
}

// Sends the next RING, the caller-ID report after the first one, and answers (in the log only)
// when the ring count reaches a non-zero S0.
void ModemSim::ring()
{
    Call& call = *m_call;
    ++call.sent;
    m_registers[1] = call.sent;
    record(Kind::Event, "ring " + std::to_string(call.sent));
    std::string out = resultCode(kRing);
    if (call.sent == 1 && !m_options.callerIdFirst && callerIdOn()) {
        if (m_options.callerIdDelay.count() > 0) {
            call.callerIdAt = now() + m_options.callerIdDelay;
        } else {
            record(Kind::Event, "cid");
            out += callerIdBlock(call.caller);
        }
    }
    send(out);

    if (m_registers[0] > 0 && call.sent >= m_registers[0]) {
        record(Kind::Event, "would-answer");
        endCall();
        return;
    }
    call.next = now() + call.interval;
}

void ModemSim::stopCall()
{
    endCall();
}

void ModemSim::endCall()
{
    if (!m_call)
        return;
    m_call.reset();
    m_registers[1] = 0;
    record(Kind::Event, "call-end");
    if (m_options.forgetCallerId && callerIdOn()) {
        m_settings[std::string(callerIdName())] = 0;
        record(Kind::Event, "cid-off");
    }
}

void ModemSim::writeRaw(std::string_view bytes)
{
    send(std::string(bytes));
}

// Writes to the program. A program that does not read gets kWriteStallMs to make room; what
// still does not fit, and everything while the line is closed, is dropped and logged.
void ModemSim::send(const std::string& bytes)
{
    if (bytes.empty())
        return;
    std::size_t done = 0;
    if (checkLine()) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(kWriteStallMs);
        while (done < bytes.size()) {
            const ssize_t n = retryOnEintr(
                [&] { return ::write(m_master, bytes.data() + done, bytes.size() - done); });
            if (n > 0) {
                done += std::size_t(n);
                continue;
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (n < 0 && errno == EAGAIN && left.count() > 0) {
                pollfd p { m_master, POLLOUT, 0 };
                retryOnEintr([&] { return ::poll(&p, 1, int(left.count())); });
                continue;
            }
            break; // stalled, or EIO: the program let go of the line while we wrote
        }
        if (done > 0)
            record(Kind::Tx, bytes.substr(0, done));
    }
    if (done < bytes.size())
        record(Kind::Event, "dropped " + std::to_string(bytes.size() - done) + " bytes");
}

void ModemSim::record(Kind kind, std::string data)
{
    const double seconds = std::chrono::duration<double>(now() - m_start).count();
    if (m_logFile) {
        static constexpr const char* kNames[] = { "rx", "tx", "cmd", "event" };
        const bool bytes = kind == Kind::Rx || kind == Kind::Tx;
        const std::string payload = bytes ? toHex(data, "0123456789abcdef", " ") : data;
        // A full disk must not stop the simulator; the in-memory log still has everything
        std::fprintf(m_logFile, "%.6f %s %s\n", seconds, kNames[int(kind)], payload.c_str());
        std::fflush(m_logFile);
    }
    m_log.push_back({ seconds, kind, std::move(data) });
}

// Power-on (and factory) state: Z and &F both come here.
void ModemSim::resetSettings()
{
    m_settings.clear();
    for (const Setting& s : kSettings)
        m_settings[std::string(s.name)] = s.initial;
    m_registers.assign(kRegisterCount, 0);
    std::copy(std::begin(kRegisterDefaults), std::end(kRegisterDefaults), m_registers.begin());
}

int ModemSim::registerValue(int n) const
{
    return n >= 0 && n < int(m_registers.size()) ? m_registers[std::size_t(n)] : -1;
}

int ModemSim::setting(std::string_view name) const
{
    const auto it = m_settings.find(name);
    return it == m_settings.end() ? -1 : it->second;
}
