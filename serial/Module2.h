#pragma once

#include "CommState.h"
#include "Runtime.h"

#include <QString>

// The one serial port through which the program talks to the modem, and the
// one text buffer that collects everything the modem sends.
//
// All of it runs on the window thread and is synchronous: nothing arrives
// unless ReadPort is called. Failures other than the port not opening or
// refusing its settings are not reported here: the program polls again two
// seconds later. A port that has gone away is let go and remembered
// (PortLost), so the listening loop can say so and open it again.
namespace Module2 {

// Everything read from the port since it was last emptied, one character
// per byte received (the byte's value is the character's code, so NUL and
// control characters are kept).
extern QString ReceivedText;
// The open port's file descriptor: 0 before any open, kInvalidHandle after a
// failed open or once the port has been closed.
extern int PortHandle;
// The program's record of the port's settings.
extern DCB PortDCB;
extern COMMTIMEOUTS PortTimeouts;

constexpr int kInvalidHandle = -1;
// One ReadPort never takes more than this many bytes or this long, so a line
// that never falls quiet cannot hold the window thread; the rest stays
// queued for the next call.
constexpr qsizetype kMaxDrainBytes = 8192;
constexpr int kMaxDrainMs = 1000;

// Opens and configures the port `portName` ("COM" followed by the user's
// port text; see PortName for how that becomes a device) at 57600 baud, 8
// data bits, no parity, one stop bit, RTS/CTS flow control, DTR raised, for
// exclusive use, and empties both queues. When the device does not open
// (missing, no permission, in use), shows "<portName> invalid" and leaves
// PortHandle at kInvalidHandle; when it opens but refuses the settings,
// shows "error in setcommstate" and closes it again. Only a terminal is
// taken: a regular file, a FIFO, a folder, the console, /dev/tty and
// /dev/ptmx are "invalid" without being locked or written, and so is a
// device another process has open (the notice's second line names it where
// it can be seen). The device's own terminal settings are kept and put back
// by ClosePort. Meant to be called once per run.
void OpenPort(const QString& portName);

// Opens the port OpenPort was last given again, the same way but quietly:
// no notice on failure. The port name is resolved anew, so a ports-folder
// link or a /dev/serial/by-id name now pointing at another device is
// followed. True when the port is held afterwards (also when it still was).
bool ReopenPort();

// True once the held port has stopped working: a read or write failed the
// way a device that is gone fails (EIO, ENXIO, ENODEV, EBADF, a hang-up), or
// PortIsOpen found the kernel no longer describes it. The port has then been
// let go (PortHandle is kInvalidHandle). False again after OpenPort,
// a successful ReopenPort, or ClosePort.
bool PortLost();

// The port name OpenPort was last given.
const QString& LastPortName();

// Writes the text's bytes (one per character), giving up after the write
// time-out (100 ms). Adds no terminator. Does nothing without a port. A
// write that times out is silent; one that finds the device gone lets the
// port go and sets PortLost.
void SendString(const QString& text);

// Appends every byte that arrives without a gap of 10 ms or more to
// ReceivedText, then returns: about 10 ms after the last byte, or after
// kMaxDrainBytes / kMaxDrainMs. Returns at once without a port; a read error
// ends the call quietly, and one that means the device is gone (unplugged)
// also lets the port go and sets PortLost.
void ReadPort();

// Lowers DTR, which makes the modem hang up, and releases the port. Does
// nothing when no port is held.
void ClosePort();

// Waits while window events go on being handled.
inline void Pause(float seconds)
{
    Runtime::Pause(seconds);
}

// Writes `value` into the bit field of PortDCB.Flags that `mask` selects:
// the value is shifted to the mask's lowest set bit and the other bits of
// the word are kept. The value is not clipped to the field's width.
void SetDCBFlag(qint32 mask, qint16 value);

// True while the kernel still describes the port's settings (read into
// PortDCB): the port is open and has not gone away. A held port that fails
// the test is let go and PortLost set.
bool PortIsOpen();

} // namespace Module2
