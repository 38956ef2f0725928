#pragma once

#include <QByteArray>
#include <QString>
#include <cerrno>

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

// Opens the device at `path` for reading and writing without making it the
// controlling terminal and without waiting for carrier detect, then takes it
// for exclusive use: an advisory lock (flock) that every other program that
// honours it, and a second copy of this one, will find taken, and the
// terminal's exclusive mode against further opens. Returns a descriptor of
// at least 3, or -1 with `error` set to the errno of the failing step (a lock
// held elsewhere gives EWOULDBLOCK); nothing stays open on failure.
int openExclusive(const QString& path, int& error);

// Gives up exclusive use and closes `fd`, dropping anything still waiting to
// be sent so the close cannot wait on a stalled line.
void closeExclusive(int fd);

enum class ReadResult
{
    Byte,
    Timeout,
    Failed
};

// Waits at most `timeoutMs` for one byte and reads it into `byte`. Failed
// covers a device that went away (EIO, hang-up) and any other read error;
// `byte` is then unchanged.
ReadResult readByte(int fd, int timeoutMs, unsigned char& byte);

// Writes `bytes`, waiting at most `timeoutMs` in all for the device to take
// them. Returns how many were written (fewer on time-out or error).
qsizetype writeWithin(int fd, const QByteArray& bytes, int timeoutMs);

// Empties both the input and the output queue.
void purge(int fd);

// Raises or lowers DTR. Fails silently on devices without modem lines.
void setDtr(int fd, bool raised);

// A message for `error` about the device at `path`, with a hint on what to
// do about the common causes (no permission, in use, no such device).
QString describeError(int error, const QString& path);

} // namespace Tty
