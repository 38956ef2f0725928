#pragma once

#include <QString>
#include <QStringList>

// A command sent to the modem while listening, and its reply taken back out
// of what the modem says meanwhile. A modem that is ringing does not wait
// for our command: a RING or a caller-ID line may come in the same burst as
// the reply, and must reach the next pass instead of being dropped with it.
namespace CommandReply {

// A reply that has not come within this long is not coming; we look again
// this often meanwhile.
constexpr double kReplyWait = 1.0;
constexpr double kReplyPoll = 0.1;

// The result codes in `text`, in order: every complete line (one ended by
// CR or LF) that reads "OK" or "ERROR", or "0" or "4", the same codes from a
// modem that gives them in numeric form (V0), given as "OK" and "ERROR".
// Blanks around a code are ignored. Echoed commands, RING, caller-ID lines
// and other information text are no result codes.
QStringList resultCodes(const QString& text);

// `text` parted into the reply to `command` and the rest.
struct Parted
{
    // "OK", "ERROR", or "" when `text` holds no complete result code yet.
    QString code;
    // Everything that is not the reply, in order. Left empty when it is
    // only line ends and blanks: those are the reply's own framing, and a
    // lone line end in a pass would count as a ring.
    QString rest;
};
// The reply is the first result code (see resultCodes) with the line ends
// around it ("\r\nOK\r\n", "0\r"), and the echo of `command` (its text
// followed by CR) before it, when the modem echoes.
Parted part(const QString& text, const QString& command);

// Sends `command` followed by CR, then reads the port until its result code
// has come, at most kReplyWait, pausing kReplyPoll between the reads
// (Module2::Pause: window events go on, and the test clock drives it). The
// reply is dropped; whatever else arrived is appended to `kept`, and
// ReceivedText is left as it was. Gives up early when the port goes away.
struct Outcome
{
    // "OK", "ERROR", or "" when no result code came in time.
    QString code;
    // Seconds spent in pauses.
    double waited = 0;
};
Outcome exchange(const QString& command, QString& kept);

} // namespace CommandReply
