#include "Module2.h"

#include "Logging.h"
#include "PortName.h"
#include "Tty.h"

#include <QDeadlineTimer>
#include <termios.h>

namespace Module2 {

QString ReceivedText;
int PortHandle = 0;
DCB PortDCB;
COMMTIMEOUTS PortTimeouts;

namespace {

// The settings the device had before OpenPort changed them.
termios OriginalSettings {};
// The port name OpenPort was last given, for reconnecting.
QString LastName;
// The open port stopped working while it was held (see PortLost).
bool Lost = false;

bool holdsPort()
{
    return PortHandle != 0 && PortHandle != kInvalidHandle;
}

// Opens and configures the port. On failure returns false with the two
// lines of the notice in `text` and `detail`, and no port held.
bool openAndConfigure(const QString& portName, QString& text, QString& detail)
{
    // Find and open the device for exclusive use.
    const QString path
        = PortName::devicePath(portName, Runtime::ConfigDir() + QStringLiteral("/ports"));
    Tty::Opened opened;
    if (path.isEmpty())
        opened.error = ENOENT;
    else
        opened = Tty::openExclusive(path);
    if (opened.notATerminal) {
        PortHandle = kInvalidHandle;
        text = QStringLiteral("error in setcommstate");
        detail = path + QStringLiteral(": the device does not take serial-port settings.");
        return false;
    }
    PortHandle = opened.fd < 0 ? kInvalidHandle : opened.fd;
    if (PortHandle == kInvalidHandle) {
        text = portName + QStringLiteral(" invalid");
        if (path.isEmpty())
            detail = QStringLiteral("No serial device is named.");
        else if (!opened.refusal.isEmpty())
            detail = path + QStringLiteral(": ") + opened.refusal + QLatin1Char('.');
        else
            detail = Tty::describeError(opened.error, path);
        return false;
    }
    OriginalSettings = opened.original;

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
        text = QStringLiteral("error in setcommstate");
        detail = path + QStringLiteral(": the device does not take serial-port settings.");
        Tty::closeExclusive(PortHandle, &OriginalSettings);
        PortHandle = kInvalidHandle;
        return false;
    }

    // Flush stale I/O: nothing received before the set-up is ever read.
    Tty::purge(PortHandle);
    qCDebug(lcSerial).noquote() << "opened" << portName << "as" << path;
    qCDebug(lcSerial).noquote() << "settings read back:" << describeLine(PortHandle);
    return true;
}

// The held port stopped working (`why`): let it go and remember that it did.
void markLost(const char* why)
{
    qCDebug(lcSerial).noquote() << "the port" << LastName
                                << "stopped working (" + QString::fromLatin1(why)
            + QStringLiteral("); let go");
    Tty::closeExclusive(PortHandle, &OriginalSettings);
    PortHandle = kInvalidHandle;
    Lost = true;
}

} // namespace

void OpenPort(const QString& portName)
{
    LastName = portName;
    Lost = false;
    QString text;
    QString detail;
    if (!openAndConfigure(portName, text, detail)) {
        qCDebug(lcSerial).noquote()
            << "cannot open" << portName + QLatin1Char(':') << text << "-" << detail;
        Runtime::MsgBox(text, detail);
    }
}

bool ReopenPort()
{
    if (holdsPort())
        return true;
    QString text;
    QString detail;
    if (!openAndConfigure(LastName, text, detail)) {
        qCDebug(lcSerial).noquote()
            << "cannot open" << LastName + QLatin1Char(':') << text << "-" << detail;
        return false;
    }
    Lost = false;
    return true;
}

bool PortLost()
{
    return Lost;
}

const QString& LastPortName()
{
    return LastName;
}

void SendString(const QString& text)
{
    if (!holdsPort() || text.isEmpty())
        return;
    // A short write (the modem holding CTS low) goes unnoticed, like every
    // other modem reply; a device that is gone is remembered.
    int error = 0;
    const QByteArray bytes = text.toLatin1();
    const qsizetype written = Tty::writeWithin(
        PortHandle, bytes, static_cast<int>(PortTimeouts.WriteTotalTimeoutConstant), &error);
    if (written == bytes.size())
        qCDebug(lcSerial).noquote() << Logging::timeOfDay() << "sent" << Logging::escaped(text);
    else
        qCDebug(lcSerial).noquote() << Logging::timeOfDay() << "sent" << Logging::escaped(text)
                                    << "- only" << written << "of" << bytes.size() << "bytes taken";
    if (Tty::meansGone(error))
        markLost("the write failed");
}

void ReadPort()
{
    if (!holdsPort())
        return;
    const qsizetype before = ReceivedText.size();
    const QDeadlineTimer drainLimit(kMaxDrainMs);
    const int gapMs = static_cast<int>(PortTimeouts.ReadTotalTimeoutConstant);
    for (qsizetype count = 0; count < kMaxDrainBytes && !drainLimit.hasExpired(); ++count) {
        unsigned char byte = 0;
        const Tty::ReadResult result = Tty::readByte(PortHandle, gapMs, byte);
        if (result == Tty::ReadResult::Gone)
            markLost("the read found the device gone");
        if (result != Tty::ReadResult::Byte)
            break;
        ReceivedText += QChar(byte);
    }
    // The bytes may hold a caller's number: debug level only.
    if (ReceivedText.size() == before)
        qCDebug(lcSerial).noquote() << Logging::timeOfDay() << "received nothing";
    else
        qCDebug(lcSerial).noquote()
            << Logging::timeOfDay() << "received" << Logging::escaped(ReceivedText.mid(before));
}

void ClosePort()
{
    if (!holdsPort())
        return;
    Tty::setDtr(PortHandle, false);
    Tty::closeExclusive(PortHandle, &OriginalSettings);
    PortHandle = kInvalidHandle;
    Lost = false;
    qCDebug(lcSerial).noquote() << "closed" << LastName << "(DTR lowered)";
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
    if (!holdsPort())
        return false;
    if (GetCommState(PortHandle, PortDCB))
        return true;
    markLost("the kernel no longer describes it");
    return false;
}

} // namespace Module2
