#pragma once

#include <QString>

// Turns a port name of the form "COM" followed by the user's port text into
// the device file to open, in this order:
//  1. a file of that exact name in `portsFolder` (a symbolic link to the
//     modem's device, or a device node): "COM4" -> <portsFolder>/COM4;
//  2. "COM" and a number n of 1 or more, without leading zeros:
//     /dev/ttyS(n-1) ("COM1" -> /dev/ttyS0);
//  3. "COM" and an absolute path: that path ("COM/dev/ttyACM0");
//  4. "COM" and any other text: that name under /dev ("COMttyUSB0").
// Returns an empty path when there is nothing to open ("COM" alone).
namespace PortName {

QString devicePath(const QString& portName, const QString& portsFolder);

} // namespace PortName
