#pragma once

#include <QLabel>

// A picture control: shows a picture at its natural size and reports a left
// click on it with Click. It takes no keyboard focus.
class Image : public QLabel
{
    Q_OBJECT

public:
    explicit Image(const QPixmap& picture, QWidget* parent = nullptr);

signals:
    void Click();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};
