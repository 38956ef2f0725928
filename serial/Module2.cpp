#include "Module2.h"

#include "PortName.h"
#include "Tty.h"

#include <QDeadlineTimer>

namespace Module2 {

QString ReceivedText;
int PortHandle = 0;
DCB PortDCB;
COMMTIMEOUTS PortTimeouts;

namespace {

bool holdsPort()
{
    return PortHandle != 0 && PortHandle != kInvalidHandle;
}

} // namespace

void OpenPort(const QString& portName)
{
    // Find and open the device for exclusive use.
    const QString path
        = PortName::devicePath(portName, Runtime::ConfigDir() + QStringLiteral("/ports"));
    int error = ENOENT;
    PortHandle = path.isEmpty() ? kInvalidHandle : Tty::openExclusive(path, error);
    if (PortHandle == kInvalidHandle) {
        Runtime::MsgBox(portName + QStringLiteral(" invalid"),
            path.isEmpty() ? QStringLiteral("No serial device is named.")
                           : Tty::describeError(error, path));
        return;
    }

    // The kernel's queues have a fixed size (4 KiB each way on a serial
    // port), so there is nothing to size here.

    // Time-outs: a read gives up after 10 ms without a byte, a write after 100 ms.
    PortTimeouts = COMMTIMEOUTS { 0, 0, 10, 0, 100 };

    // Start from the device's current settings; a failure shows up when the
    // new settings are applied.
    (void)GetCommState(PortHandle, PortDCB);

    // Binary, no parity check, CTS and DSR output flow, DTR raised, DSR
    // input gating, no XON/XOFF, no error or NUL replacement, RTS handshake.
    SetDCBFlag(DcbFlag::Binary, 1);
    SetDCBFlag(DcbFlag::Parity, 0);
    SetDCBFlag(DcbFlag::OutxCtsFlow, 1);
    SetDCBFlag(DcbFlag::OutxDsrFlow, 1);
    SetDCBFlag(DcbFlag::DtrControl, kDtrControlEnable);
    SetDCBFlag(DcbFlag::DsrSensitivity, 1);
    SetDCBFlag(DcbFlag::TXContinueOnXoff, 0);
    SetDCBFlag(DcbFlag::OutX, 0);
    SetDCBFlag(DcbFlag::InX, 0);
    SetDCBFlag(DcbFlag::ErrorChar, 0);
    SetDCBFlag(DcbFlag::Null, 0);
    SetDCBFlag(DcbFlag::RtsControl, kRtsControlHandshake);
    SetDCBFlag(DcbFlag::AbortOnError, 0);

    // 57600 baud, 8 data bits, no parity, one stop bit.
    PortDCB.XonLim = 1024;
    PortDCB.XoffLim = 7168;
    PortDCB.ByteSize = 8;
    PortDCB.Parity = 0;
    PortDCB.StopBits = 0;
    PortDCB.BaudRate = 57600;

    if (!SetCommState(PortHandle, PortDCB)) {
        Runtime::MsgBox(QStringLiteral("error in setcommstate"),
            path + QStringLiteral(": the device does not take serial-port settings."));
        Tty::closeExclusive(PortHandle);
        PortHandle = kInvalidHandle;
        return;
    }

    // Flush stale I/O: nothing received before the set-up is ever read.
    Tty::purge(PortHandle);
}

void SendString(const QString& text)
{
    if (!holdsPort() || text.isEmpty())
        return;
    // A short or failed write goes unnoticed, like every other modem reply.
    (void)Tty::writeWithin(
        PortHandle, text.toLatin1(), static_cast<int>(PortTimeouts.WriteTotalTimeoutConstant));
}

void ReadPort()
{
    if (!holdsPort())
        return;
    const QDeadlineTimer drainLimit(kMaxDrainMs);
    const int gapMs = static_cast<int>(PortTimeouts.ReadTotalTimeoutConstant);
    for (qsizetype count = 0; count < kMaxDrainBytes && !drainLimit.hasExpired(); ++count) {
        unsigned char byte = 0;
        if (Tty::readByte(PortHandle, gapMs, byte) != Tty::ReadResult::Byte)
            break;
        ReceivedText += QChar(byte);
    }
}

void ClosePort()
{
    if (!holdsPort())
        return;
    Tty::setDtr(PortHandle, false);
    Tty::closeExclusive(PortHandle);
    PortHandle = kInvalidHandle;
}

void SetDCBFlag(qint32 mask, qint16 value)
{
    quint32 remaining = static_cast<quint32>(mask);
    quint64 weight = 1;
    for (int i = 0; i < 32 && !(remaining & 1u); ++i) {
        remaining >>= 1;
        weight <<= 1;
    }
    const auto shifted
        = static_cast<quint32>(static_cast<qint64>(value) * static_cast<qint64>(weight));
    PortDCB.Flags = shifted | (PortDCB.Flags & ~static_cast<quint32>(mask));
}

bool PortIsOpen()
{
    return holdsPort() && GetCommState(PortHandle, PortDCB);
}

} // namespace Module2
