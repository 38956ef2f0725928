#include "Tty.h"

#include <QDeadlineTimer>
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
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

int openExclusive(const QString& path, int& error)
{
    error = 0;
    const QByteArray native = path.toLocal8Bit();

    // Open tty device: O_NONBLOCK so a modem holding carrier detect low
    // cannot make the open wait.
    int fd = retryOnEintr(
        [&] { return ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (fd < 0) {
        error = errno;
        return -1;
    }
    fd = moveAboveStandardStreams(fd);
    if (fd < 0) {
        error = errno;
        return -1;
    }

    // Lock device file: an advisory lock also binds root, whom the
    // terminal's exclusive mode does not stop.
    if (retryOnEintr([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) != 0) {
        error = errno;
        ::close(fd);
        return -1;
    }

    // Exclusive mode: further opens of the terminal fail with EBUSY. Not a
    // terminal at all is found out when the settings are applied.
    (void)::ioctl(fd, TIOCEXCL);
    return fd;
}

void closeExclusive(int fd)
{
    (void)::ioctl(fd, TIOCNXCL);
    (void)::tcflush(fd, TCIOFLUSH);
    (void)::flock(fd, LOCK_UN);
    ::close(fd);
}

ReadResult readByte(int fd, int timeoutMs, unsigned char& byte)
{
    pollfd entry { fd, POLLIN, 0 };
    const int ready = retryOnEintr([&] { return ::poll(&entry, 1, timeoutMs); });
    if (ready == 0)
        return ReadResult::Timeout;
    if (ready < 0 || !(entry.revents & POLLIN))
        return ReadResult::Failed;

    unsigned char received = 0;
    const ssize_t count = retryOnEintr([&] { return ::read(fd, &received, 1); });
    if (count == 1) {
        byte = received;
        return ReadResult::Byte;
    }
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return ReadResult::Timeout;
    return ReadResult::Failed;
}

qsizetype writeWithin(int fd, const QByteArray& bytes, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
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
        if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            break;
        pollfd entry { fd, POLLOUT, 0 };
        const int ready = retryOnEintr([&] { return ::poll(&entry, 1, remainingMs(deadline)); });
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
