#include "PortName.h"

#include <QFileInfo>

namespace PortName {
namespace {

// A name that can stand as a single file name inside the ports folder.
bool isPlainFileName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

// "1", "12": digits without a leading zero, so at least 1.
bool isPortNumber(const QString& text)
{
    if (text.isEmpty() || text.size() > 6 || text.front() == u'0')
        return false;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

} // namespace

QString devicePath(const QString& portName, const QString& portsFolder)
{
    if (!portsFolder.isEmpty() && isPlainFileName(portName)) {
        const QFileInfo mapped(portsFolder + QLatin1Char('/') + portName);
        if (mapped.isSymLink() || mapped.exists())
            return mapped.filePath();
    }

    const QString rest = portName.startsWith(QLatin1String("COM")) ? portName.mid(3) : portName;
    if (rest.isEmpty())
        return {};
    if (isPortNumber(rest))
        return QStringLiteral("/dev/ttyS") + QString::number(rest.toInt() - 1);
    if (rest.startsWith(QLatin1Char('/')))
        return rest;
    return QStringLiteral("/dev/") + rest;
}

} // namespace PortName
