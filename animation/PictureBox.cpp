#include "PictureBox.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

PictureBox::PictureBox(QWidget* parent)
    : QWidget(parent)
{
    // Every pixel is painted by paintEvent: no background fill beforehand,
    // which would be a second copy per frame.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
}

void PictureBox::setSource(const QImage* image)
{
    m_source = image;
    update();
}

void PictureBox::setBackground(const QColor& colour)
{
    m_background = colour;
    update();
}

void PictureBox::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QRect dirty = event->rect();
    QRect covered;
    if (m_source && !m_source->isNull()) {
        covered = dirty & m_source->rect();
        if (!covered.isEmpty())
            painter.drawImage(covered.topLeft(), *m_source, covered);
    }
    if (covered != dirty) {
        const QRegion uncovered = QRegion(dirty) - QRegion(covered);
        for (const QRect& rect : uncovered)
            painter.fillRect(rect, m_background);
    }
}

void PictureBox::mousePressEvent(QMouseEvent* event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void PictureBox::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton
        && rect().contains(event->position().toPoint());
    m_pressed = false;
    event->accept();
    if (click)
        emit Click();
}
