#include "Image.h"

#include <QMouseEvent>

Image::Image(const QPixmap& picture, QWidget* parent)
    : QLabel(parent)
{
    setPixmap(picture);
    setFocusPolicy(Qt::NoFocus);
}

void Image::mouseReleaseEvent(QMouseEvent* event)
{
    // A click is a press and a release of the left button over the picture.
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit Click();
    QLabel::mouseReleaseEvent(event);
}
