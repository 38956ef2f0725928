#include "Tty.h"

#include "PortUse.h"

#include <QDeadlineTimer>
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace Tty {
namespace {

// Keeps the port off descriptors 0 to 2, which mean "no port" to the
// program (0) or belong to the standard streams.
int moveAboveStandardStreams(int fd)
{
    if (fd >= 3)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return moved;
}

int remainingMs(const QDeadlineTimer& deadline)
{
    return static_cast<int>(std::max<qint64>(0, deadline.remainingTime()));
}

} // namespace

Opened openExclusive(const QString& path)
{
    Opened result;
    const QByteArray native = path.toLocal8Bit();

    // Refuse what is no modem before opening it: opening /dev/ptmx alone
    // makes a new pseudo-terminal.
    struct stat before
    {
    };
    if (::stat(native.constData(), &before) == 0) {
        result.refusal = PortUse::refusal(before);
        if (!result.refusal.isEmpty())
            return result;
    }

    // Open tty device: O_NONBLOCK so a modem holding carrier detect low
    // cannot make the open wait, O_NOCTTY so it never becomes our
    // controlling terminal.
    int fd = retryOnEintr(
        [&] { return ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (fd < 0) {
        result.error = errno;
        // Another program holding the terminal in exclusive mode.
        if (result.error == EBUSY && S_ISCHR(before.st_mode))
            result.refusal = PortUse::holder(before.st_rdev);
        return result;
    }
    fd = moveAboveStandardStreams(fd);
    if (fd < 0) {
        result.error = errno;
        return result;
    }

    // Check it is a terminal: the file may have changed since the stat.
    struct stat status
    {
    };
    if (::fstat(fd, &status) != 0) {
        result.error = errno;
        ::close(fd);
        return result;
    }
    result.refusal = PortUse::refusal(status);
    if (result.refusal.isEmpty() && !::isatty(fd))
        result.notATerminal = true;
    if (!result.refusal.isEmpty() || result.notATerminal) {
        ::close(fd);
        return result;
    }

    // Check nobody else reads the modem: whoever does takes its rings.
    result.refusal = PortUse::holder(status.st_rdev);
    if (!result.refusal.isEmpty()) {
        ::close(fd);
        return result;
    }

    // Lock device file: an advisory lock also binds root, whom the
    // terminal's exclusive mode does not stop.
    if (retryOnEintr([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) != 0) {
        result.error = errno;
        ::close(fd);
        return result;
    }

    // Save the device's own settings, to put them back at the close.
    if (::tcgetattr(fd, &result.original) != 0) {
        result.notATerminal = true;
        (void)::flock(fd, LOCK_UN);
        ::close(fd);
        return result;
    }

    // Exclusive mode: further opens of the terminal fail with EBUSY.
    (void)::ioctl(fd, TIOCEXCL);
    result.fd = fd;
    return result;
}

void closeExclusive(int fd, const termios* original)
{
    (void)::ioctl(fd, TIOCNXCL);
    (void)::tcflush(fd, TCIOFLUSH);
    if (original)
        (void)retryOnEintr([&] { return ::tcsetattr(fd, TCSANOW, original); });
    (void)::flock(fd, LOCK_UN);
    ::close(fd);
}

bool meansGone(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF;
}

ReadResult readByte(int fd, int timeoutMs, unsigned char& byte)
{
    pollfd entry { fd, POLLIN, 0 };
    const int ready = retryOnEintr([&] { return ::poll(&entry, 1, timeoutMs); });
    if (ready == 0)
        return ReadResult::Timeout;
    if (ready < 0)
        return meansGone(errno) ? ReadResult::Gone : ReadResult::Failed;
    if (entry.revents & POLLNVAL)
        return ReadResult::Gone;
    // A hang-up may still leave bytes to read: those come first.
    if (!(entry.revents & POLLIN))
        return (entry.revents & (POLLHUP | POLLERR)) ? ReadResult::Gone : ReadResult::Failed;

    unsigned char received = 0;
    const ssize_t count = retryOnEintr([&] { return ::read(fd, &received, 1); });
    if (count == 1) {
        byte = received;
        return ReadResult::Byte;
    }
    // A terminal that has been hung up reads as end of file.
    if (count == 0)
        return ReadResult::Gone;
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return ReadResult::Timeout;
    return meansGone(errno) ? ReadResult::Gone : ReadResult::Failed;
}

qsizetype writeWithin(int fd, const QByteArray& bytes, int timeoutMs, int* error)
{
    const QDeadlineTimer deadline(timeoutMs);
    if (error)
        *error = 0;
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t count = retryOnEintr([&] {
            return ::write(
                fd, bytes.constData() + written, static_cast<size_t>(bytes.size() - written));
        });
        if (count > 0) {
            written += count;
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            if (error)
                *error = errno;
            break;
        }
        pollfd entry { fd, POLLOUT, 0 };
        const int ready = retryOnEintr([&] { return ::poll(&entry, 1, remainingMs(deadline)); });
        if (ready < 0 && error)
            *error = errno;
        if (ready > 0 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) && error)
            *error = (entry.revents & POLLNVAL) ? EBADF : EIO;
        if (ready <= 0 || !(entry.revents & POLLOUT))
            break;
    }
    return written;
}

void purge(int fd)
{
    (void)::tcflush(fd, TCIOFLUSH);
}

void setDtr(int fd, bool raised)
{
    int dtr = TIOCM_DTR;
    (void)::ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &dtr);
}

QString describeError(int error, const QString& path)
{
    const QString reason = QString::fromLocal8Bit(std::strerror(error));
    QString hint;
    switch (error) {
    case EACCES:
    case EPERM:
        hint = QStringLiteral("Serial ports belong to the dialout group: add yourself with "
                              "\"sudo adduser $USER dialout\", then log out and in again.");
        break;
    case EWOULDBLOCK:
    case EBUSY:
        hint = QStringLiteral("Another program (or another copy of Ringwarden) is using the port.");
        return path + QStringLiteral(": in use. ") + hint;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        hint = QStringLiteral("Check the port number, or link the port's name to your modem's "
                              "device in ~/.config/ringwarden/ports/.");
        break;
    default:
        break;
    }
    QString text = path + QStringLiteral(": ") + reason + QLatin1Char('.');
    if (!hint.isEmpty())
        text += QLatin1Char(' ') + hint;
    return text;
}

} // namespace Tty
