#include "CommState.h"

#include <array>
#include <sys/ioctl.h>
#include <termios.h>

namespace {

struct BaudEntry
{
    quint32 rate;
    speed_t code;
};

constexpr std::array kBaudRates {
    BaudEntry { 300, B300 },
    BaudEntry { 600, B600 },
    BaudEntry { 1200, B1200 },
    BaudEntry { 2400, B2400 },
    BaudEntry { 4800, B4800 },
    BaudEntry { 9600, B9600 },
    BaudEntry { 19200, B19200 },
    BaudEntry { 38400, B38400 },
    BaudEntry { 57600, B57600 },
    BaudEntry { 115200, B115200 },
    BaudEntry { 230400, B230400 },
};

bool codeForRate(quint32 rate, speed_t& code)
{
    for (const BaudEntry& entry : kBaudRates) {
        if (entry.rate == rate) {
            code = entry.code;
            return true;
        }
    }
    return false;
}

quint32 rateForCode(speed_t code)
{
    for (const BaudEntry& entry : kBaudRates) {
        if (entry.code == code)
            return entry.rate;
    }
    return 0;
}

quint32 field(quint32 flags, qint32 mask, int shift)
{
    return (flags & static_cast<quint32>(mask)) >> shift;
}

void setField(quint32& flags, qint32 mask, int shift, quint32 value)
{
    flags = (flags & ~static_cast<quint32>(mask)) | ((value << shift) & static_cast<quint32>(mask));
}

constexpr tcflag_t kCharacterBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
// What must read back as asked for the line to work at all. Some USB serial
// adapters have no RTS/CTS and clear the flag; the modem still works
// without hardware flow control, so that alone is no refusal.
constexpr tcflag_t kFramingBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;

} // namespace

bool GetCommState(int fd, DCB& dcb)
{
    termios tio {};
    if (::tcgetattr(fd, &tio) != 0)
        return false;

    dcb.DCBlength = kDcbLength;
    dcb.BaudRate = rateForCode(::cfgetospeed(&tio));

    switch (tio.c_cflag & CSIZE) {
    case CS5:
        dcb.ByteSize = 5;
        break;
    case CS6:
        dcb.ByteSize = 6;
        break;
    case CS7:
        dcb.ByteSize = 7;
        break;
    default:
        dcb.ByteSize = 8;
        break;
    }
    if (!(tio.c_cflag & PARENB))
        dcb.Parity = 0;
    else if (tio.c_cflag & CMSPAR)
        dcb.Parity = (tio.c_cflag & PARODD) ? 3 : 4;
    else
        dcb.Parity = (tio.c_cflag & PARODD) ? 1 : 2;
    dcb.StopBits = (tio.c_cflag & CSTOPB) ? 2 : 0;

    const bool hardwareFlow = tio.c_cflag & CRTSCTS;
    setField(dcb.Flags, DcbFlag::Binary, 0, (tio.c_lflag & ICANON) ? 0 : 1);
    setField(dcb.Flags, DcbFlag::Parity, 1, (tio.c_iflag & INPCK) ? 1 : 0);
    setField(dcb.Flags, DcbFlag::OutxCtsFlow, 2, hardwareFlow ? 1 : 0);
    setField(dcb.Flags, DcbFlag::OutX, 8, (tio.c_iflag & IXON) ? 1 : 0);
    setField(dcb.Flags, DcbFlag::InX, 9, (tio.c_iflag & IXOFF) ? 1 : 0);
    if (hardwareFlow)
        setField(dcb.Flags, DcbFlag::RtsControl, 12, kRtsControlHandshake);
    else if (field(dcb.Flags, DcbFlag::RtsControl, 12) == kRtsControlHandshake)
        setField(dcb.Flags, DcbFlag::RtsControl, 12, 1);

    int lines = 0;
    if (::ioctl(fd, TIOCMGET, &lines) == 0)
        setField(dcb.Flags, DcbFlag::DtrControl, 4, (lines & TIOCM_DTR) ? kDtrControlEnable : 0);

    dcb.XonChar = static_cast<char>(tio.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(tio.c_cc[VSTOP]);
    dcb.EofChar = static_cast<char>(tio.c_cc[VEOF]);
    return true;
}

bool SetCommState(int fd, const DCB& dcb)
{
    termios tio {};
    if (::tcgetattr(fd, &tio) != 0)
        return false;

    speed_t speed = B0;
    if (!codeForRate(dcb.BaudRate, speed))
        return false;

    tcflag_t size = 0;
    switch (dcb.ByteSize) {
    case 5:
        size = CS5;
        break;
    case 6:
        size = CS6;
        break;
    case 7:
        size = CS7;
        break;
    case 8:
        size = CS8;
        break;
    default:
        return false;
    }

    tcflag_t parity = 0;
    switch (dcb.Parity) {
    case 0:
        break;
    case 1:
        parity = PARENB | PARODD;
        break;
    case 2:
        parity = PARENB;
        break;
    case 3:
        parity = PARENB | CMSPAR | PARODD;
        break;
    case 4:
        parity = PARENB | CMSPAR;
        break;
    default:
        return false;
    }
    if (dcb.StopBits > 2)
        return false;

    // Raw bytes in both directions: no line editing, no echo, no signals,
    // no translation of CR or LF, no output processing.
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~kCharacterBits;
    tio.c_cflag |= size | parity | (dcb.StopBits ? CSTOPB : 0);
    tio.c_cflag |= CREAD | CLOCAL | HUPCL;

    const bool hardwareFlow = field(dcb.Flags, DcbFlag::OutxCtsFlow, 2) != 0
        || field(dcb.Flags, DcbFlag::RtsControl, 12) == kRtsControlHandshake;
    if (hardwareFlow)
        tio.c_cflag |= CRTSCTS;

    tio.c_iflag &= ~(INPCK | IXON | IXOFF | IXANY);
    if (field(dcb.Flags, DcbFlag::Parity, 1))
        tio.c_iflag |= INPCK;
    if (field(dcb.Flags, DcbFlag::OutX, 8))
        tio.c_iflag |= IXON;
    if (field(dcb.Flags, DcbFlag::InX, 9))
        tio.c_iflag |= IXOFF;
    if (dcb.XonChar)
        tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    if (dcb.XoffChar)
        tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);

    // Reads are paced with poll(); a read itself never waits.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;

    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0)
        return false;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0)
        return false;

    // tcsetattr succeeds when any part was applied: check the essentials.
    termios applied {};
    if (::tcgetattr(fd, &applied) != 0)
        return false;
    if ((applied.c_cflag & kFramingBits) != (tio.c_cflag & kFramingBits)
        || ::cfgetospeed(&applied) != speed)
        return false;

    // A pseudo-terminal has no modem lines; the request then fails harmlessly.
    int dtr = TIOCM_DTR;
    const bool raise = field(dcb.Flags, DcbFlag::DtrControl, 4) == kDtrControlEnable;
    (void)::ioctl(fd, raise ? TIOCMBIS : TIOCMBIC, &dtr);
    return true;
}

QString describeLine(int fd)
{
    termios tio {};
    if (::tcgetattr(fd, &tio) != 0)
        return QStringLiteral("not a terminal");
    QString bits;
    switch (tio.c_cflag & CSIZE) {
    case CS5:
        bits = QStringLiteral("5");
        break;
    case CS6:
        bits = QStringLiteral("6");
        break;
    case CS7:
        bits = QStringLiteral("7");
        break;
    default:
        bits = QStringLiteral("8");
        break;
    }
    QString parity = QStringLiteral("no parity");
    if (tio.c_cflag & PARENB) {
        if (tio.c_cflag & CMSPAR)
            parity = (tio.c_cflag & PARODD) ? QStringLiteral("mark parity")
                                            : QStringLiteral("space parity");
        else
            parity = (tio.c_cflag & PARODD) ? QStringLiteral("odd parity")
                                            : QStringLiteral("even parity");
    }
    const quint32 rate = rateForCode(::cfgetospeed(&tio));
    QString dtr = QStringLiteral("DTR: no modem lines");
    int lines = 0;
    if (::ioctl(fd, TIOCMGET, &lines) == 0)
        dtr = (lines & TIOCM_DTR) ? QStringLiteral("DTR raised") : QStringLiteral("DTR lowered");
    return (rate ? QString::number(rate) : QStringLiteral("unknown")) + QStringLiteral(" baud, ")
        + bits + QStringLiteral(" data bits, ") + parity + QStringLiteral(", ")
        + ((tio.c_cflag & CSTOPB) ? QStringLiteral("2") : QStringLiteral("1"))
        + QStringLiteral(" stop bit, RTS/CTS flow control ")
        + ((tio.c_cflag & CRTSCTS) ? QStringLiteral("on") : QStringLiteral("off"))
        + QStringLiteral(", XON/XOFF ")
        + ((tio.c_iflag & (IXON | IXOFF)) ? QStringLiteral("on") : QStringLiteral("off"))
        + QStringLiteral(", ") + dtr;
}
