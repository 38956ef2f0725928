#include "QtMessageBox.h"

#include <QMessageBox>

void QtMessageBox::show(const QString& text, const QString& detail)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Ringwarden"), text, QMessageBox::Ok);
    if (!detail.isEmpty())
        box.setInformativeText(detail);
    box.exec();
}
