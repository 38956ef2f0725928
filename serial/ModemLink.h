#pragma once

#include <QString>
#include <QStringList>
#include <array>

// The modem conversation: setting the modem up so that it reports callers
// and never answers, then polling it every two seconds for good, handing each
// pass's text to the window that shows it.
namespace ModemLink {

// The five set-up strings, each ended by its carriage return: reset; factory
// settings with echo off, word results, hang up when DTR drops and no
// automatic answering; line, speaker, error-control and result-code options;
// caller-number reports on; automatic answering off once more.
const std::array<QString, 5>& setupStrings();

// The set-up's caller-ID command (its fourth string) without its carriage
// return, and the commands other chip sets take instead, in the order they
// are tried: AT#CID=1 (many Rockwell/Conexant, USR, TI and PCTel based
// modems), AT%CCID=1 (some others).
inline constexpr QLatin1String kCallerIdCommand { "at+vcid=1" };
const QStringList& otherCallerIdCommands();

// A call is over once the modem has said nothing for this long: more than
// the pause between two rings of any cadence (about 6 s at most) plus a pass.
constexpr double kCallGap = 12.0;

// The window the listening loop feeds, once per pass.
class Listener
{
public:
    virtual ~Listener() = default;
    // Receives the pass's text, also when it is empty.
    virtual void setReceivedText(const QString& text) = 0;
    // Receives the position of the caller's number in that text.
    virtual void setNmbrPos(qint16 position) = 0;
    // The modem has gone away (unplugged, reset, switched off); the loop
    // keeps trying to open it again, once a pass. A call in progress is
    // over: nothing more of it can be heard.
    virtual void linkLost() = 0;
    // The modem is back and set up again; its replies were dropped.
    virtual void linkRestored() = 0;
    // The port `portName` opened but the modem sent nothing in reply to the
    // set-up.
    virtual void noAnswer(const QString& portName) = 0;
    // The modem has been quiet for kCallGap seconds since it last said
    // something: the call it was reporting is over. Comes before the text of
    // the pass that found the silence. A listener that does not follow calls
    // leaves it alone.
    virtual void callEnded() { }
    // Which command makes the modem report callers' numbers. Told when it is
    // not the set-up's own kCallerIdCommand, and again whenever that changes
    // (another modem after a reconnect): `command` as sent, without its
    // carriage return, or "" when the modem took none of `tried`. Calls ring
    // either way.
    virtual void callerIdChecked(
        [[maybe_unused]] const QString& command, [[maybe_unused]] const QStringList& tried)
    { }
};

// The 1-based position of the first "NMBR" in `text` plus 7, which is where
// the number starts in the modem's "NMBR = 5551234" line; 7 when there is no
// "NMBR" (case counts). Positions past the 16-bit range give 32767.
qint16 NmbrPos(const QString& text);

// Opens `portName`, waits 0.2 s, sends the five set-up strings two seconds
// apart without reading anything, then empties ReceivedText. The modem's
// replies stay queued and arrive with the first pass. A port that does not
// open has been reported by OpenPort; everything goes on without it.
void SetUpModem(const QString& portName);

// Polls for good: read the port, hand the text and the number's position to
// `listener`, wait 2 s, empty the text. Never returns; the program ends from
// a handler that runs inside one of the waits.
//
// Callers' numbers kept coming (each command's reply is read within 1 s and
// dropped, so it never reaches the listener's text; anything else that came
// with it, a RING or a caller-ID line, starts the next pass's text; the
// passes stay 2 s apart):
// - after the first pass, which holds the set-up's replies: when the modem
//   refused kCallerIdCommand (the fourth of its five result codes is ERROR;
//   when it did not give five, the command is sent again to find out), the
//   other commands are tried in turn and the first it takes is kept for the
//   run. The listener hears of it (callerIdChecked); when none is taken, a
//   notice that does not wait says so, once per run;
// - after the pass that found a call ended, the kept command is sent again,
//   for modems that drop caller-ID mode during the day;
// - after a reconnect the set-up's replies are looked at the same way, the
//   kept command tried first.
//
// Never silently deaf:
// - when the first pass brings no text although the port is open, the
//   listener hears noAnswer;
// - when the modem, having said something after the set-up, stays quiet for
//   kCallGap seconds, the listener hears callEnded, once;
// - when the port stops working (Module2::PortLost), or never opened, the
//   listener hears linkLost once, and every pass from then on tries to open
//   the port again quietly. Once it opens, the modem is set up again exactly
//   as at the start (0.2 s, the five strings 2 s apart), its replies are read
//   and dropped, so they never reach the listener's text, and the listener
//   hears linkRestored (or noAnswer when nothing came back).
[[noreturn]] void Listen(Listener& listener);

} // namespace ModemLink
