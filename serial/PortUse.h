#pragma once

#include <QString>
#include <sys/stat.h>
#include <sys/types.h>

// Whether a device may serve as the modem's port at all, and who else is
// using it. A modem that another program reads from never shows us a ring,
// so such a port is refused rather than shared.
namespace PortUse {

// Why the file whose status is `status` cannot be a modem's port, or ""
// when it is a character device that may be one (whether it is a terminal
// is then asked of the open descriptor). Refused: anything that is not a
// character device (a regular file, a FIFO, a folder, a socket), the
// console, the process's own terminal (/dev/tty) and the pseudo-terminal
// multiplexer (/dev/ptmx, which makes a new terminal each time it is
// opened).
QString refusal(const struct stat& status);

// Another process that has the character device `device` open, as "in use
// by <name> (pid <n>)", or "" when none can be seen. Looks through the open
// files of every process under `procRoot` that we may read, this process
// excepted. ModemManager runs as root, so its files stay hidden: when it
// runs and the device's udev record under `udevData` marks the device as a
// USB modem it will probe (ID_BUS usb, ID_MM_CANDIDATE) without
// ID_MM_DEVICE_IGNORE, it is named as the holder. Where neither can be seen, the answer is "".
QString holder(dev_t device, const QString& procRoot = QStringLiteral("/proc"),
    const QString& udevData = QStringLiteral("/run/udev/data"));

} // namespace PortUse
