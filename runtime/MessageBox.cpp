#include "MessageBox.h"

#include <cstdio>

void StandardErrorMessageBox::show(const QString& text, const QString& detail)
{
    QString line = QStringLiteral("ringwarden: ") + text;
    if (!detail.isEmpty())
        line += QStringLiteral(": ") + detail;
    std::fprintf(stderr, "%s\n", qPrintable(line));
}
