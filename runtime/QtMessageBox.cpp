#include "QtMessageBox.h"

#include <QMessageBox>

namespace {

void fill(QMessageBox& box, const QString& detail)
{
    if (!detail.isEmpty())
        box.setInformativeText(detail);
}

} // namespace

void QtMessageBox::show(const QString& text, const QString& detail)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Ringwarden"), text, QMessageBox::Ok);
    fill(box, detail);
    box.exec();
}

void QtMessageBox::post(const QString& text, const QString& detail)
{
    auto* box
        = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Ringwarden"), text, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    fill(*box, detail);
    box->show();
}
