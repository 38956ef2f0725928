#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

// A picture control without an image of its own: it shows an image that
// another object keeps and redraws, and reports a click (left button pressed
// and released over it) as Click.
//
// Painting copies the part of the source image that needs repainting to the
// control's top left corner in one piece; whatever the image does not cover
// shows the background colour.
class PictureBox : public QWidget
{
    Q_OBJECT

public:
    explicit PictureBox(QWidget* parent = nullptr);

    // Shows `image`, which is not owned and must stay alive while it is
    // shown (nullptr shows the background alone). Painting reads the image
    // as it is at that moment; nothing is copied or kept.
    void setSource(const QImage* image);
    void setBackground(const QColor& colour);

signals:
    void Click();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    const QImage* m_source = nullptr;
    QColor m_background = Qt::black;
    bool m_pressed = false;
};
