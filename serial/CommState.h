#pragma once

#include <QString>
#include <QtGlobal>

// The program's record of a serial port's settings, laid out like the
// Windows device-control block (DCB), and the one place
// where that record is mapped to and from the terminal settings (termios) of
// a Linux serial device.

// Bit fields of DCB::Flags.
namespace DcbFlag {
constexpr qint32 Binary = 0x0001;
constexpr qint32 Parity = 0x0002;
constexpr qint32 OutxCtsFlow = 0x0004;
constexpr qint32 OutxDsrFlow = 0x0008;
constexpr qint32 DtrControl = 0x0030; // 0 disable, 1 enable, 2 handshake
constexpr qint32 DsrSensitivity = 0x0040;
constexpr qint32 TXContinueOnXoff = 0x0080;
constexpr qint32 OutX = 0x0100;
constexpr qint32 InX = 0x0200;
constexpr qint32 ErrorChar = 0x0400;
constexpr qint32 Null = 0x0800;
constexpr qint32 RtsControl = 0x3000; // 0 disable, 1 enable, 2 handshake, 3 toggle
constexpr qint32 AbortOnError = 0x4000;
} // namespace DcbFlag

constexpr int kDtrControlEnable = 1;
constexpr int kRtsControlHandshake = 2;

struct DCB
{
    quint32 DCBlength = 0;
    quint32 BaudRate = 0;
    quint32 Flags = 0;
    quint16 wReserved = 0;
    quint16 XonLim = 0;
    quint16 XoffLim = 0;
    quint8 ByteSize = 0;
    quint8 Parity = 0; // 0 none, 1 odd, 2 even, 3 mark, 4 space
    quint8 StopBits = 0; // 0 one, 1 one and a half, 2 two
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    quint16 wReserved1 = 0;
};

// Time-outs in milliseconds. Only the two constants are used: a read gives
// up after ReadTotalTimeoutConstant without a byte, a write after
// WriteTotalTimeoutConstant.
struct COMMTIMEOUTS
{
    quint32 ReadIntervalTimeout = 0;
    quint32 ReadTotalTimeoutMultiplier = 0;
    quint32 ReadTotalTimeoutConstant = 0;
    quint32 WriteTotalTimeoutMultiplier = 0;
    quint32 WriteTotalTimeoutConstant = 0;
};

// Reads the terminal settings of `fd` into `dcb`: baud rate, byte size,
// parity, stop bits, flow control, XON/XOFF characters and (where the device
// reports modem lines) the DTR state. Fields with no terminal counterpart
// (the DSR settings, XonLim, XoffLim, the reserved words) keep what `dcb`
// held. Returns false, leaving `dcb` untouched, when `fd` is not a terminal
// the kernel will describe.
bool GetCommState(int fd, DCB& dcb);

// Applies `dcb` to `fd`: raw bytes both ways, the baud rate, byte size,
// parity and stop bits, RTS/CTS flow control when CTS output flow or RTS
// handshaking is asked for, XON/XOFF as the flags say, the receiver on,
// modem status lines not gating reads (so a modem holding carrier detect low
// cannot block us) and DTR dropped on the last close (HUPCL, so DTR drops
// even if the program dies). Then raises or lowers DTR as fDtrControl says.
// The DSR flow settings and the XON/XOFF limits have no termios
// counterpart and are not applied.
// Returns false when the device refuses: not a terminal, an unsupported
// value, or a speed or framing (byte size, parity, stop bits) that does not
// read back as applied. A device without RTS/CTS lines that drops the flow
// control is still taken. Modem-line requests
// that a device cannot honour (a pseudo-terminal has no DTR) are ignored.
bool SetCommState(int fd, const DCB& dcb);

// What the kernel reports for the line of `fd`, for the log: "57600 baud,
// 8 data bits, no parity, 1 stop bit, RTS/CTS flow control on, XON/XOFF
// off, DTR raised" ("DTR: no modem lines" on a device without them, such as
// a pseudo-terminal). "not a terminal" when `fd` has no terminal settings.
QString describeLine(int fd);

// The size of the Windows device-control block.
constexpr quint32 kDcbLength = 28;
