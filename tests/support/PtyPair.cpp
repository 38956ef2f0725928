#include "PtyPair.h"

#include <QtTest>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        qFatal("cannot create a pseudo-terminal: %s", strerror(errno));
    m_slavePath = QString::fromLocal8Bit(::ptsname(m_master));
}

PtyPair::~PtyPair()
{
    closeMaster();
}

void PtyPair::write(const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t count
            = ::write(m_master, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            qFatal("writing to the pseudo-terminal failed: %s", strerror(errno));
        done += count;
    }
}

QByteArray PtyPair::read(int firstByteMs, int quietMs)
{
    QByteArray received;
    int timeout = firstByteMs;
    for (;;) {
        pollfd entry { m_master, POLLIN, 0 };
        const int ready = ::poll(&entry, 1, timeout);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || !(entry.revents & POLLIN))
            return received;
        char buffer[4096];
        const ssize_t count = ::read(m_master, buffer, sizeof buffer);
        if (count <= 0)
            return received;
        received.append(buffer, count);
        timeout = quietMs;
    }
}

void PtyPair::closeMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}
