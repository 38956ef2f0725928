#include "QtMessageBox.h"

#include <QMessageBox>
#include <QPushButton>

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

void QtMessageBox::ask(const QString& question, const QString& detail, const QString& accept,
    const QString& reject, std::function<void(bool accepted)> answered)
{
    auto* box = new QMessageBox(QMessageBox::Question, QStringLiteral("Ringwarden"), question);
    QPushButton* yes = box->addButton(accept, QMessageBox::AcceptRole);
    QPushButton* no = box->addButton(reject, QMessageBox::RejectRole);
    box->setDefaultButton(no);
    box->setEscapeButton(no);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    fill(*box, detail);
    QObject::connect(box, &QMessageBox::finished, box, [box, yes, answered] {
        if (answered)
            answered(box->clickedButton() == yes);
    });
    box->show();
}
