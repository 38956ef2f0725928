#include "Label.h"

Label::Label(const QString& caption, QWidget* parent)
    : QLabel(caption, parent)
{
    setTextFormat(Qt::PlainText);
}

void Label::setCaption(const QString& caption)
{
    if (caption == text())
        return;
    setText(caption);
    emit Change();
}
