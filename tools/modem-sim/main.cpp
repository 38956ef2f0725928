// modem-sim: runs ModemSim on a pseudo-terminal until told to stop, so that Ringwarden (or a
// person with a terminal program) can talk to a voice modem without having one.
//
// Prints the slave path on standard output once the pty is ready. Calls come from
// --call-after or from text commands written to the --control FIFO, one per line:
//   call <number> [name...]    a call from that number (no NAME line without a name)
//   call-private               a caller who withholds the number ("P")
//   call-out-of-area           a caller whose number is not available ("O")
//   compact-caller-id on|off   caller-ID lines of later calls without / with blanks around "="
//   caller-id-command KIND     the caller-ID command the modem takes: vcid, cid, ccid or none
//   forget-caller-id on|off    caller ID switches itself off at the end of each call
//   caller-id-first on|off     caller ID before the first RING, without a NAME line
//   caller-id-delay SECONDS    caller ID that long after the first RING (0: with it)
//   stop                       the caller hangs up
//   quit                       end the simulator
// --rings and --ring-interval apply to every call; --compact-caller-id starts with the lines
// printed without blanks ("NMBR=5551234"); --caller-id-command, --forget-caller-id,
// --caller-id-first and --caller-id-delay choose the modem's kind from the start (see
// ModemSim.h). --renew-on-hangup gives each program that opens the line a fresh pty behind the
// --link path (see ModemSim::Options). --help describes all of it.
// SIGTERM, SIGINT and SIGHUP end it too; the link and the FIFO it created are removed.
// Exit status: 0 when stopped, 1 when the pty, link, log or FIFO cannot be set up, 2 for a bad
// command line.

#include "ModemSim.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kUsage
    = "usage: modem-sim [--link PATH] [--log FILE] [--control FIFO] [--call-after SECONDS]\n"
      "                 [--number N] [--name NAME] [--rings N] [--ring-interval SECONDS]\n"
      "                 [--exit-after SECONDS] [--renew-on-hangup] [--compact-caller-id]\n"
      "                 [--caller-id-command vcid|cid|ccid|none] [--forget-caller-id]\n"
      "                 [--caller-id-first] [--caller-id-delay SECONDS]\n";

constexpr const char* kHelp
    = "\n"
      "A Hayes/V.250 voice modem on a pseudo-terminal. Prints the terminal's path once ready.\n"
      "\n"
      "  --link PATH            a symbolic link to the terminal, made and removed by us\n"
      "  --log FILE             every byte in and out, command and event, with its time\n"
      "  --control FIFO         a FIFO taking the commands below, one a line\n"
      "  --call-after SECONDS   a call that long after the start, from --number and --name\n"
      "  --number N, --name NAME   that call's caller (5551234, JOHN DOE)\n"
      "  --rings N              rings per call (4)\n"
      "  --ring-interval SECONDS   between two rings (6)\n"
      "  --exit-after SECONDS   end that long after the start\n"
      "  --renew-on-hangup      a fresh terminal behind --link after each hang-up\n"
      "  --compact-caller-id    caller-ID lines without blanks around \"=\" (NMBR=5551234)\n"
      "\n"
      "The modem's kind, as real modems differ in caller ID:\n"
      "  --caller-id-command vcid|cid|ccid|none\n"
      "                         the command that switches caller ID on: AT+VCID=1 (vcid, the\n"
      "                         default), AT#CID=1 (cid), AT%CCID=1 (ccid) or none at all; the\n"
      "                         others answer ERROR\n"
      "  --forget-caller-id     caller ID switches itself off at the end of every call\n"
      "  --caller-id-first      caller ID comes 2 s before the first RING, without a NAME line\n"
      "  --caller-id-delay SECONDS   caller ID comes that long after the first RING\n"
      "\n"
      "Commands on the control FIFO:\n"
      "  call <number> [name...]    a call from that number (no NAME line without a name)\n"
      "  call-private               a caller who withholds the number (\"P\")\n"
      "  call-out-of-area           a caller whose number is not available (\"O\")\n"
      "  compact-caller-id on|off   caller-ID lines of later calls without / with blanks\n"
      "  caller-id-command vcid|cid|ccid|none   as the option, from the next command on\n"
      "  forget-caller-id on|off    as the option\n"
      "  caller-id-first on|off     as the option, for later calls\n"
      "  caller-id-delay SECONDS    as the option, for later calls (0: with the first RING)\n"
      "  stop                       the caller hangs up\n"
      "  quit                       end the simulator\n";

struct Arguments
{
    ModemSim::Options sim;
    std::string controlPath;
    std::optional<double> callAfter;
    std::optional<double> exitAfter;
    ModemSim::CallerId caller;
    int rings = ModemSim::kDefaultRings;
    std::chrono::milliseconds interval = ModemSim::kDefaultRingInterval;
    bool showHelp = false;
};

// A caller-ID command kind by its name. Returns nothing for an unknown name.
std::optional<ModemSim::CallerIdCommand> parseCallerIdCommand(std::string_view name)
{
    using Command = ModemSim::CallerIdCommand;
    if (name == "vcid")
        return Command::Vcid;
    if (name == "cid")
        return Command::Cid;
    if (name == "ccid")
        return Command::Ccid;
    if (name == "none")
        return Command::None;
    return std::nullopt;
}

std::chrono::milliseconds toMilliseconds(double seconds)
{
    return std::chrono::milliseconds(std::llround(seconds * 1000));
}

// A number of seconds: finite, not negative. Returns nothing for anything else.
std::optional<double> parseSeconds(const char* text)
{
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(value) || value < 0 || value > 1e6)
        return std::nullopt;
    return value;
}

// Reads the command line. Returns nothing (after printing why) when it is not usable.
std::optional<Arguments> parseArguments(int argc, char** argv)
{
    Arguments args;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help") {
            args.showHelp = true;
            return args;
        }
        if (option == "--renew-on-hangup") {
            args.sim.renewOnHangup = true;
            continue;
        }
        if (option == "--compact-caller-id") {
            args.sim.compactCallerId = true;
            continue;
        }
        if (option == "--forget-caller-id") {
            args.sim.forgetCallerId = true;
            continue;
        }
        if (option == "--caller-id-first") {
            args.sim.callerIdFirst = true;
            continue;
        }
        static const std::string_view kValueOptions[] = { "--link", "--log", "--control",
            "--number", "--name", "--call-after", "--exit-after", "--ring-interval", "--rings",
            "--caller-id-command", "--caller-id-delay" };
        if (std::find(std::begin(kValueOptions), std::end(kValueOptions), option)
            == std::end(kValueOptions)) {
            std::fprintf(stderr, "modem-sim: unknown option %s\n%s", option.c_str(), kUsage);
            return std::nullopt;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "modem-sim: %s needs a value\n%s", option.c_str(), kUsage);
            return std::nullopt;
        }
        const char* value = argv[++i];
        bool ok = true;
        if (option == "--link") {
            args.sim.linkPath = value;
        } else if (option == "--log") {
            args.sim.logPath = value;
        } else if (option == "--control") {
            args.controlPath = value;
        } else if (option == "--number") {
            args.caller.number = value;
        } else if (option == "--name") {
            args.caller.name = value;
        } else if (option == "--call-after") {
            args.callAfter = parseSeconds(value);
            ok = args.callAfter.has_value();
        } else if (option == "--exit-after") {
            args.exitAfter = parseSeconds(value);
            ok = args.exitAfter.has_value();
        } else if (option == "--ring-interval") {
            const auto seconds = parseSeconds(value);
            ok = seconds && *seconds > 0;
            if (ok)
                args.interval = toMilliseconds(*seconds);
        } else if (option == "--caller-id-command") {
            const auto command = parseCallerIdCommand(value);
            ok = command.has_value();
            if (ok)
                args.sim.callerIdCommand = *command;
        } else if (option == "--caller-id-delay") {
            const auto seconds = parseSeconds(value);
            ok = seconds.has_value();
            if (ok)
                args.sim.callerIdDelay = toMilliseconds(*seconds);
        } else { // --rings
            const std::string_view text(value);
            const auto [end, error]
                = std::from_chars(text.data(), text.data() + text.size(), args.rings);
            ok = error == std::errc() && end == text.data() + text.size() && args.rings >= 1;
        }
        if (!ok) {
            std::fprintf(stderr, "modem-sim: bad value for %s: %s\n", option.c_str(), value);
            return std::nullopt;
        }
    }
    return args;
}

// The control FIFO: created unless it already exists, opened for reading and writing so that
// it never reports end-of-file when a writer goes away. Removed again if we created it.
struct ControlFifo
{
    std::string path;
    int fd = -1;
    bool made = false;
    std::string pending;

    explicit ControlFifo(std::string fifoPath)
        : path(std::move(fifoPath))
    {
        if (path.empty())
            return;
        struct stat st
        {
        };
        if (::mkfifo(path.c_str(), 0600) == 0)
            made = true;
        else if (errno != EEXIST || ::stat(path.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode))
            throw std::runtime_error(ModemSim::systemError("cannot create FIFO " + path, errno));
        fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            if (made)
                ::unlink(path.c_str());
            throw std::runtime_error(ModemSim::systemError("cannot open FIFO " + path, error));
        }
    }
    ~ControlFifo()
    {
        if (fd >= 0)
            ::close(fd);
        if (made)
            ::unlink(path.c_str());
    }
    ControlFifo(const ControlFifo&) = delete;
    ControlFifo& operator=(const ControlFifo&) = delete;

    // Returns the next complete line written to the FIFO, if there is one.
    std::optional<std::string> nextLine()
    {
        char buffer[512];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            pending.append(buffer, std::size_t(n));
        const auto end = pending.find('\n');
        if (end == std::string::npos) {
            if (pending.size() > 4096)
                pending.clear(); // no line is that long: drop the garbage
            return std::nullopt;
        }
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return line;
    }
};

// Carries out one control command. Returns false for "quit".
bool runCommand(const std::string& line, ModemSim& sim, const Arguments& args)
{
    const auto space = line.find(' ');
    const std::string verb = line.substr(0, space);
    std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);

    if (verb == "call" && !rest.empty()) {
        ModemSim::CallerId caller;
        const auto nameStart = rest.find(' ');
        caller.number = rest.substr(0, nameStart);
        caller.name = nameStart == std::string::npos ? std::string() : rest.substr(nameStart + 1);
        sim.startCall(caller, args.rings, args.interval);
    } else if (verb == "call-private") {
        sim.startCall(ModemSim::CallerId::withheld(), args.rings, args.interval);
    } else if (verb == "call-out-of-area") {
        sim.startCall(ModemSim::CallerId::outOfArea(), args.rings, args.interval);
    } else if (verb == "compact-caller-id" && (rest == "on" || rest == "off")) {
        sim.setCompactCallerId(rest == "on");
    } else if (verb == "caller-id-command" && parseCallerIdCommand(rest)) {
        sim.setCallerIdCommand(*parseCallerIdCommand(rest));
    } else if (verb == "forget-caller-id" && (rest == "on" || rest == "off")) {
        sim.setForgetCallerId(rest == "on");
    } else if (verb == "caller-id-first" && (rest == "on" || rest == "off")) {
        sim.setCallerIdFirst(rest == "on");
    } else if (verb == "caller-id-delay" && parseSeconds(rest.c_str())) {
        sim.setCallerIdDelay(toMilliseconds(*parseSeconds(rest.c_str())));
    } else if (verb == "stop") {
        sim.stopCall();
    } else if (verb == "quit") {
        return false;
    } else if (!line.empty()) {
        std::fprintf(stderr, "modem-sim: unknown control command: %s\n", line.c_str());
    }
    return true;
}

int run(const Arguments& args)
{
    // Take the termination signals through a descriptor, so that they end the wait at once
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : { SIGTERM, SIGINT, SIGHUP })
        sigaddset(&signals, s);
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0)
        throw std::runtime_error(ModemSim::systemError("sigprocmask", errno));
    const int signalFd = signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signalFd < 0)
        throw std::runtime_error(ModemSim::systemError("signalfd", errno));

    // Open the modem and the control FIFO, then tell the caller where the modem is
    ModemSim sim(args.sim);
    ControlFifo control(args.controlPath);
    std::printf("%s\n", sim.slavePath().c_str());
    std::fflush(stdout);

    // Serve until a signal, "quit" or --exit-after
    const auto start = Clock::now();
    auto at = [&](std::optional<double> seconds) -> std::optional<Clock::time_point> {
        if (!seconds)
            return std::nullopt;
        return start
            + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*seconds));
    };
    std::optional<Clock::time_point> callAt = at(args.callAfter);
    const std::optional<Clock::time_point> exitAt = at(args.exitAfter);
    bool running = true;
    while (running) {
        int timeoutMs = 1000;
        for (const auto& deadline : { callAt, exitAt }) {
            if (deadline) {
                const auto left
                    = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
                timeoutMs = std::clamp(int(left.count()), 0, timeoutMs);
            }
        }
        pollfd fds[2] = { { signalFd, POLLIN, 0 }, { control.fd, POLLIN, 0 } };
        sim.service(timeoutMs, fds);

        if (fds[0].revents & POLLIN)
            running = false;
        if (fds[1].revents & POLLIN) {
            while (auto line = control.nextLine())
                running = runCommand(*line, sim, args) && running;
        }
        if (callAt && Clock::now() >= *callAt) {
            sim.startCall(args.caller, args.rings, args.interval);
            callAt.reset();
        }
        if (exitAt && Clock::now() >= *exitAt)
            running = false;
    }
    ::close(signalFd);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::optional<Arguments> args = parseArguments(argc, argv);
    if (!args)
        return 2;
    if (args->showHelp) {
        std::fputs(kUsage, stdout);
        std::fputs(kHelp, stdout);
        return 0;
    }
    try {
        return run(*args);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "modem-sim: %s\n", e.what());
        return 1;
    }
}
