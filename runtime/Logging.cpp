#include "Logging.h"

#include <QTime>

// Debug and info lines are off until a rule switches them on; warnings show.
Q_LOGGING_CATEGORY(lcSerial, "ringwarden.serial", QtWarningMsg)
Q_LOGGING_CATEGORY(lcListen, "ringwarden.listen", QtWarningMsg)
Q_LOGGING_CATEGORY(lcAlert, "ringwarden.alert", QtWarningMsg)
Q_LOGGING_CATEGORY(lcPlayer, "ringwarden.player", QtWarningMsg)
Q_LOGGING_CATEGORY(lcStore, "ringwarden.store", QtWarningMsg)
Q_LOGGING_CATEGORY(lcNetwork, "ringwarden.network", QtWarningMsg)
Q_LOGGING_CATEGORY(lcDesktop, "ringwarden.desktop", QtWarningMsg)

namespace Logging {

QString escaped(const QString& text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        switch (code) {
        case u'\r':
            out += QLatin1String("\\r");
            break;
        case u'\n':
            out += QLatin1String("\\n");
            break;
        case u'\t':
            out += QLatin1String("\\t");
            break;
        case u'\\':
            out += QLatin1String("\\\\");
            break;
        case u'"':
            out += QLatin1String("\\\"");
            break;
        default:
            if (code >= 0x20 && code < 0x7f)
                out += c;
            else if (code < 0x100)
                out += QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
            else
                out += QStringLiteral("\\u{%1}").arg(code, 4, 16, QLatin1Char('0'));
        }
    }
    out += QLatin1Char('"');
    return out;
}

QString timeOfDay()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
}

} // namespace Logging
