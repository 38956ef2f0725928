#include "MessageBox.h"

#include <cstdio>

void StandardErrorMessageBox::show(const QString& text, const QString& detail)
{
    QString line = QStringLiteral("ringwarden: ") + text;
    if (!detail.isEmpty())
        line += QStringLiteral(": ") + detail;
    std::fprintf(stderr, "%s\n", qPrintable(line));
}

void StandardErrorMessageBox::ask(const QString& question, const QString& detail,
    const QString& accept, const QString& reject, std::function<void(bool accepted)> answered)
{
    Q_UNUSED(accept)
    show(question + QStringLiteral(" (") + reject + QStringLiteral(")"), detail);
    if (answered)
        answered(false);
}
