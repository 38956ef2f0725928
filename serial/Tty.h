#pragma once

#include <QByteArray>
#include <QString>
#include <cerrno>
#include <termios.h>

// Low-level input and output on a serial device: opening it for exclusive
// use, reading one byte with a time-out, writing with a time-out, the DTR
// line, and the messages for what went wrong. Every function works on a
// plain file descriptor and leaves the device settings to CommState.
namespace Tty {

// Repeats a system call while it fails with EINTR; returns its last result.
template <typename Call> auto retryOnEintr(Call call)
{
    decltype(call()) result;
    do {
        result = call();
    } while (result == -1 && errno == EINTR);
    return result;
}

// What openExclusive gives: the descriptor and the device's own terminal
// settings as they were before we touched them, or why the device was not
// opened.
struct Opened
{
    int fd = -1;
    termios original {};
    // The errno of the failing step (a lock held elsewhere gives
    // EWOULDBLOCK), or 0 when `refusal` says why.
    int error = 0;
    // Set when the device is not one we may use as a modem ("a FIFO, not a
    // serial device", "in use by sleep (pid 812)").
    QString refusal;
    // The device is a character device but no terminal (/dev/null): it
    // cannot take serial settings.
    bool notATerminal = false;
};

// Opens the device at `path` for reading and writing without making it the
// controlling terminal and without waiting for carrier detect, then takes it
// for exclusive use. In this order, each step only when the one before held:
//  1. only a character device that is a terminal goes on; the console, the
//     process's own terminal (/dev/tty) and the pseudo-terminal multiplexer
//     (/dev/ptmx) are refused before they are opened;
//  2. a device that another process holds open is refused, naming it where
//     the system lets us see it (PortUse);
//  3. an advisory lock (flock) that every other program that honours it, and
//     a second copy of this one, will find taken;
//  4. the terminal's settings are saved, and its exclusive mode keeps further
//     opens out.
// So nothing that is not a terminal is ever locked or written. Returns
// `fd` of at least 3, or -1 with `error` or `refusal` set; nothing stays
// open on failure.
Opened openExclusive(const QString& path);

// Gives up exclusive use, puts back the terminal settings `original` and
// closes `fd`, dropping anything still waiting to be sent so the close
// cannot wait on a stalled line. On a device that has gone away only the
// close does anything.
void closeExclusive(int fd, const termios* original = nullptr);

enum class ReadResult
{
    Byte,
    Timeout,
    Gone,
    Failed
};

// True for the errors that mean the device itself is gone (unplugged,
// reset, the other end of a pseudo-terminal closed): EIO, ENXIO, ENODEV,
// EBADF.
bool meansGone(int error);

// Waits at most `timeoutMs` for one byte and reads it into `byte`. Gone when
// the device has gone away (a hang-up with no data left, end of file, or
// an error meansGone() names), Failed for any other read error; `byte` is
// then unchanged.
ReadResult readByte(int fd, int timeoutMs, unsigned char& byte);

// Writes `bytes`, waiting at most `timeoutMs` in all for the device to take
// them. Returns how many were written (fewer on time-out or error); a failing
// write leaves its errno in `*error` (0 when it merely timed out).
qsizetype writeWithin(int fd, const QByteArray& bytes, int timeoutMs, int* error = nullptr);

// Empties both the input and the output queue.
void purge(int fd);

// Raises or lowers DTR. Fails silently on devices without modem lines.
void setDtr(int fd, bool raised);

// A message for `error` about the device at `path`, with a hint on what to
// do about the common causes (no permission, in use, no such device).
QString describeError(int error, const QString& path);

} // namespace Tty
