#include "ModemLink.h"

#include "Module2.h"

#include <limits>

namespace ModemLink {

const std::array<QString, 5>& setupStrings()
{
    static const std::array<QString, 5> strings {
        QStringLiteral("ATZ\r"),
        QStringLiteral("AT&FE0V1W2&D2&C1S0=0-C0\r"),
        QStringLiteral("ATS7=60\\T0L1M1\\N3-J1%C1\"H3\\Q3B0N1X3\r"),
        QStringLiteral("at+vcid=1\r"),
        QStringLiteral("ATS0=0\r"),
    };
    return strings;
}

qint16 NmbrPos(const QString& text)
{
    const qsizetype found = text.indexOf(QLatin1String("NMBR"), 0, Qt::CaseSensitive);
    const qint64 position = (found < 0 ? 0 : found + 1) + 7;
    // A pass is normally a few hundred bytes; a first "NMBR" beyond 32760
    // only comes from a flood, and must not stop the loop.
    return static_cast<qint16>(std::min<qint64>(position, std::numeric_limits<qint16>::max()));
}

void SetUpModem(const QString& portName)
{
    Module2::OpenPort(portName);
    Module2::Pause(0.2f);
    for (const QString& command : setupStrings()) {
        Module2::SendString(command);
        Module2::Pause(2.0f);
    }
    Module2::ReceivedText.clear();
}

void Listen(Listener& listener)
{
    for (;;) {
        Module2::ReadPort();
        listener.setReceivedText(Module2::ReceivedText);
        listener.setNmbrPos(NmbrPos(Module2::ReceivedText));
        Module2::Pause(2.0f);
        Module2::ReceivedText.clear();
    }
}

} // namespace ModemLink
