// ModemSim: a Hayes/V.250 voice modem simulated on a pseudo-terminal.
//
// The simulator owns the master side of a pty. The program under test opens the slave side
// (or a symbolic link to it) as if it were the modem's serial port, sends AT command lines and
// reads the replies; on request the simulator reports an incoming call with RING result codes
// and a caller-ID block. Everything is synchronous: nothing happens unless service() or one of
// the call/write functions is called, so tests can drive it from their own thread.
//
// Commands: Z, &F, A (answers NO CARRIER), I<n>, S<n>=<v>, S<n>?, the caller-ID command of the
// modem's kind with =<n>, ? and =? (see below), and the commands that only store a number (E V Q
// W L M X B N H &C &D \N \Q \T -C -J %C "H, ranges in ModemSim.cpp). Anything else answers
// ERROR, and so does a value out of range. Z and &F restore the power-on state (E1 V1 Q0, caller
// ID off, registers). A line that does not start with AT (in any case) is echoed but gets no
// reply.
//
// Modem kinds, for the ways real modems differ in caller ID (Options, and setters for later
// calls):
//   callerIdCommand  which command switches caller-ID reports on: +VCID=<0-2> (most voice
//                    modems; the default), #CID=<0-2> (many Rockwell/Conexant, USR, TI and PCTel
//                    based ones), %CCID=<0-1> (some others) or none; the other two answer ERROR
//   forgetCallerId   caller ID drops back to off at the end of every call (event "cid-off"),
//                    as some firmware does
//   callerIdFirst    the report comes kCallerIdLead before the first RING and has no NAME line,
//                    as on lines in the UK
//   callerIdDelay    the report comes this long after the first RING instead of with it, as most
//                    modems send it (about 3 s: the data is sent between the first two rings)
//
// Line and result formats (S3 = 13 and S4 = 10 unless changed):
//   echo        while E1, every received byte is sent back as it arrives, the CR included
//   V1 results  "\r\nOK\r\n", "\r\nERROR\r\n", "\r\nRING\r\n", "\r\nNO CARRIER\r\n"
//   V0 results  "0\r", "4\r", "2\r", "3\r"
//   Q1          no result codes at all (information text still goes out)
//   info text   V1 "\r\n<text>\r\n", V0 "<text>\r\n"; S<n>? answers three digits ("060")
// Caller-ID block, sent once right after the first RING when caller ID is on (=1):
//   "\r\nDATE = MMDD\r\nTIME = HHMM\r\nNMBR = <number>\r\nNAME = <name>\r\n\r\n"
//   or, as other modems print it, without the blanks: "DATE=MMDD", "NMBR=<number>" ...
//   A withheld caller has number and name "P", an out-of-area caller "O". The NAME line is left
//   out when the name is empty. With =2 (+VCID, #CID) the same data goes out unformatted, as
//   "\r\nMESG = <hex>\r\n\r\n": an MDMF message (type 80, length, parameters, checksum).
//
// Log format, one line per event, flushed after each line:
//   <seconds since start, 6 decimals> <kind> <payload>
//   rx     bytes read from the program in one read, as lower-case hex pairs separated by blanks
//   tx     bytes written to the program in one write, same form
//   cmd    one complete command line as text, without its terminating CR (LFs dropped)
//   event  free text: "ready <slave>", "open", "hangup", "renew <slave>", "call <number>",
//          "ring <n>", "cid" (a caller-ID block), "would-answer", "call-end", "cid-off",
//          "dropped <n> bytes"
// Example:  0.412337 rx 41 54 5a 0d
//
// The line is "open" while some process holds the slave side open; the master then stops
// reporting POLLHUP. Output produced while the line is closed is dropped (and logged), as a
// real serial port discards what arrives while nobody has it open.

#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <poll.h>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class ModemSim
{
public:
    // Who is calling. Empty date ("MMDD") or time ("HHMM") means the local clock at the ring.
    struct CallerId
    {
        std::string number = "5551234";
        std::string name = "JOHN DOE";
        std::string date;
        std::string time;

        static CallerId withheld() { return { "P", "P", {}, {} }; }
        static CallerId outOfArea() { return { "O", "O", {}, {} }; }
    };

    // The command that switches caller-ID reports on (see the modem kinds above).
    enum class CallerIdCommand
    {
        Vcid, // +VCID
        Cid, // #CID
        Ccid, // %CCID
        None
    };

    struct Options
    {
        std::string linkPath; // symbolic link to the slave, made and removed by us; "" = none
        std::string logPath; // log file, truncated at start; "" = in memory only
        // Replace the pty by a fresh one after each hang-up (the link follows). A TIOCEXCL set
        // by the program outlives its close for as long as our master stays open, and makes
        // the next open by a non-root program fail with EBUSY; a fresh pty has no such flag.
        bool renewOnHangup = false;
        // Caller-ID lines without blanks around the equals sign ("NMBR=5551234").
        bool compactCallerId = false;
        // The modem kinds (see above).
        CallerIdCommand callerIdCommand = CallerIdCommand::Vcid;
        bool forgetCallerId = false;
        bool callerIdFirst = false;
        std::chrono::milliseconds callerIdDelay { 0 };
        // Where rings and the log's times take the time from: steady_clock when empty. Tests
        // pass a clock of their own to ring on their time; waits for the program to read stay
        // in real time.
        std::function<std::chrono::steady_clock::time_point()> clock {};
    };

    enum class Kind
    {
        Rx,
        Tx,
        Cmd,
        Event
    };

    struct LogEntry
    {
        double seconds = 0;
        Kind kind = Kind::Event;
        std::string data; // raw bytes for Rx/Tx, text for Cmd/Event
    };

    static constexpr int kDefaultRings = 4;
    static constexpr std::chrono::milliseconds kDefaultRingInterval { 6000 };
    // How long before the first RING a callerIdFirst modem reports the caller.
    static constexpr std::chrono::milliseconds kCallerIdLead { 2000 };

    // Opens the pty, puts its slave side in raw mode (no echo, no CR/LF mapping), creates the
    // link and the log file. Throws std::runtime_error naming the failed step and the system's
    // message; nothing is left behind then.
    explicit ModemSim(Options options);
    ModemSim();
    ~ModemSim();
    ModemSim(const ModemSim&) = delete;
    ModemSim& operator=(const ModemSim&) = delete;

    const std::string& slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }

    // One round of work: waits at most timeoutMs for input from the program (or for a ring that
    // falls due), reads all that is there, logs it, echoes it and answers every completed command
    // line, then sends any ring that is due. While no one has the slave open the master cannot be
    // waited on, so the round then sleeps at most 50 ms. The extra descriptors are polled in the
    // same wait and their revents filled in for the caller. Throws std::runtime_error on an
    // unexpected read or poll error, or when a renewed pty cannot be opened.
    void service(int timeoutMs, std::span<pollfd> extra = {});

    // Starts a call: logs "call <number>", sends the first RING (and the caller-ID block when
    // reporting is on) at once; service() sends the rest every interval. A callerIdFirst modem
    // sends the block at once and the first RING kCallerIdLead later; with a callerIdDelay the
    // block follows the first RING by that long. The call ends one
    // interval after the last ring, when the ring count reaches a non-zero S0 (logged as
    // "would-answer"), on ATA, or on stopCall(). A call already in progress is ended first.
    // Fewer than one ring counts as one.
    void startCall(const CallerId& caller, int rings = kDefaultRings,
        std::chrono::milliseconds interval = kDefaultRingInterval);
    void stopCall();
    // Switches the caller-ID lines between "NMBR = 5551234" and "NMBR=5551234" for later calls.
    void setCompactCallerId(bool compact) { m_options.compactCallerId = compact; }
    // Change the modem's kind; they apply from the next command or call on.
    void setCallerIdCommand(CallerIdCommand command) { m_options.callerIdCommand = command; }
    void setForgetCallerId(bool forget) { m_options.forgetCallerId = forget; }
    void setCallerIdFirst(bool first) { m_options.callerIdFirst = first; }
    void setCallerIdDelay(std::chrono::milliseconds delay) { m_options.callerIdDelay = delay; }
    bool callInProgress() const { return m_call.has_value(); }

    // Sends bytes to the program as they are (line noise, unsolicited reports).
    void writeRaw(std::string_view bytes);

    // True while some process has the slave side open, as seen by the last check.
    bool lineOpen() const { return m_lineOpen; }
    const std::string& received() const { return m_received; }
    const std::vector<LogEntry>& log() const { return m_log; }
    bool echoOn() const { return setting("E") == 1; }
    // True while the modem reports callers (its kind's caller-ID command is set above 0).
    bool callerIdOn() const { return callerIdMode() > 0; }
    int registerValue(int n) const;
    // Value of a command setting by its name as typed, e.g. "V", "&D", "\\N", "+VCID", "#CID";
    // -1 if none.
    int setting(std::string_view name) const;

    // The one place that turns errno into text: "<what>: <system message>".
    static std::string systemError(std::string_view what, int error);

private:
    struct Call
    {
        CallerId caller;
        int rings = 1;
        int sent = 0;
        std::chrono::milliseconds interval {};
        std::chrono::steady_clock::time_point next;
        // When the caller-ID block is still to come on its own.
        std::optional<std::chrono::steady_clock::time_point> callerIdAt;
    };

    std::chrono::steady_clock::time_point now() const;
    // The caller-ID command's name for this kind ("+VCID", "#CID", "%CCID"; "" for none), and
    // its value (0 when off or when the modem has none).
    std::string_view callerIdName() const;
    int callerIdMode() const;
    void openPty();
    void closePty();
    void makeLink();
    void removeLink();
    bool masterSeesSlave() const;
    bool checkLine();
    void readAvailable();
    void feed(std::string_view bytes);
    std::string execute(std::string_view line);
    std::string resultCode(int code) const;
    std::string infoText(std::string_view text) const;
    std::string callerIdBlock(const CallerId& caller) const;
    void sendCallerId();
    void ring();
    void endCall();
    void resetSettings();
    void send(const std::string& bytes);
    void record(Kind kind, std::string data);

    Options m_options;
    int m_master = -1;
    std::string m_slavePath;
    bool m_linkMade = false;
    bool m_lineOpen = false;
    bool m_hungUp = false; // a hang-up was seen that service() has not acted on yet
    std::FILE* m_logFile = nullptr;
    std::chrono::steady_clock::time_point m_start;

    std::string m_lineBuffer;
    std::map<std::string, int, std::less<>> m_settings;
    std::vector<int> m_registers;
    std::optional<Call> m_call;

    std::string m_received;
    std::vector<LogEntry> m_log;
};
