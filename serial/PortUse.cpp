#include "PortUse.h"

#include <QFile>
#include <dirent.h>
#include <memory>
#include <string_view>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace PortUse {
namespace {

// The character devices of the terminal layer itself.
constexpr unsigned kTtyAuxMajor = 5;
constexpr unsigned kOwnTerminalMinor = 0; // /dev/tty
constexpr unsigned kConsoleMinor = 1; // /dev/console
constexpr unsigned kPtmxMinor = 2; // /dev/ptmx

struct DirCloser
{
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

bool isNumber(const char* name)
{
    if (!*name)
        return false;
    for (; *name; ++name) {
        if (*name < '0' || *name > '9')
            return false;
    }
    return true;
}

// The short name the kernel keeps for process `pid`.
QString commandName(const QString& procRoot, const QString& pid)
{
    QFile comm(procRoot + QLatin1Char('/') + pid + QStringLiteral("/comm"));
    if (!comm.open(QIODevice::ReadOnly))
        return QStringLiteral("another program");
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

// True when one of the open files listed in `fdFolder` is `device`.
bool holdsDevice(const QString& fdFolder, DIR* fds, dev_t device)
{
    while (const dirent* entry = ::readdir(fds)) {
        if (!isNumber(entry->d_name))
            continue;
        const QByteArray link
            = (fdFolder + QLatin1Char('/') + QLatin1String(entry->d_name)).toLocal8Bit();
        // Only device files can be our port: skip sockets, pipes and files
        // without touching them.
        char target[64] = {};
        const ssize_t length = ::readlink(link.constData(), target, sizeof target - 1);
        if (length < 5 || std::string_view(target, 5) != "/dev/")
            continue;
        struct stat status
        {
        };
        if (::stat(link.constData(), &status) == 0 && S_ISCHR(status.st_mode)
            && status.st_rdev == device)
            return true;
    }
    return false;
}

// True when udev's record of `device` says ModemManager will take it. udev
// marks every terminal a candidate, but ModemManager's default (strict)
// filter only probes USB devices on its own: a built-in serial port is
// left to us.
bool modemManagerWants(dev_t device, const QString& udevData)
{
    QFile record(udevData + QStringLiteral("/c%1:%2").arg(::major(device)).arg(::minor(device)));
    if (!record.open(QIODevice::ReadOnly))
        return false;
    const QByteArray properties = record.readAll();
    return properties.contains("E:ID_BUS=usb\n") && properties.contains("E:ID_MM_CANDIDATE=1\n")
        && !properties.contains("E:ID_MM_DEVICE_IGNORE=1\n");
}

QString inUseBy(const QString& name, const QString& pid)
{
    return QStringLiteral("in use by %1 (pid %2)").arg(name, pid);
}

} // namespace

QString refusal(const struct stat& status)
{
    if (S_ISREG(status.st_mode))
        return QStringLiteral("a regular file, not a serial device");
    if (S_ISFIFO(status.st_mode))
        return QStringLiteral("a FIFO, not a serial device");
    if (S_ISDIR(status.st_mode))
        return QStringLiteral("a folder, not a serial device");
    if (!S_ISCHR(status.st_mode))
        return QStringLiteral("not a serial device");
    if (::major(status.st_rdev) == kTtyAuxMajor) {
        switch (::minor(status.st_rdev)) {
        case kOwnTerminalMinor:
            return QStringLiteral("the program's own terminal, not a modem");
        case kConsoleMinor:
            return QStringLiteral("the system console, not a modem");
        case kPtmxMinor:
            return QStringLiteral("the pseudo-terminal multiplexer, not a modem");
        default:
            break;
        }
    }
    return {};
}

QString holder(dev_t device, const QString& procRoot, const QString& udevData)
{
    const Dir processes(::opendir(procRoot.toLocal8Bit().constData()));
    if (!processes)
        return {};
    const QByteArray self = QByteArray::number(::getpid());
    QString modemManager;
    while (const dirent* entry = ::readdir(processes.get())) {
        if (!isNumber(entry->d_name) || self == entry->d_name)
            continue;
        const QString pid = QString::fromLatin1(entry->d_name);
        const QString fdFolder = procRoot + QLatin1Char('/') + pid + QStringLiteral("/fd");
        const Dir fds(::opendir(fdFolder.toLocal8Bit().constData()));
        if (fds && holdsDevice(fdFolder, fds.get(), device))
            return inUseBy(commandName(procRoot, pid), pid);
        if (!fds && commandName(procRoot, pid) == QLatin1String("ModemManager"))
            modemManager = pid;
    }
    if (!modemManager.isEmpty() && modemManagerWants(device, udevData))
        return inUseBy(QStringLiteral("ModemManager"), modemManager);
    return {};
}

} // namespace PortUse
