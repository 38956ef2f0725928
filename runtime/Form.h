#pragma once

#include <QWidget>

// A top-level window with the lifecycle the program's windows are written
// against:
//  - Load runs Form_Load once and shows nothing: the load handler decides
//    whether the window is shown (it may Show it, or keep it hidden and
//    show another window). Show loads the window if needed.
//  - Show makes it visible, brings it forward and activates it; when the
//    window was not already the active one, Form_Activate runs before Show
//    returns. Form_Activate runs again each time the window becomes active
//    later on.
//  - Hide only makes it invisible.
//  - Unload (also reached through the window's close box) runs Form_Unload
//    and then hides the window; it counts as not loaded afterwards.
// Positions and sizes are given in twips and converted with the screen's
// twips per pixel; the window's controls use textFont(kTextPoints) unless
// they set a font of their own.
class Form : public QWidget
{
    Q_OBJECT

public:
    explicit Form(QWidget* parent = nullptr);

    void Load();
    void Show();
    void Hide();
    void Unload();

    bool isLoaded() const { return m_loaded; }

    // The windows' text face: Liberation Sans (Arial's metrics; Arial where
    // that is installed), else the desktop's sans-serif face.
    static QFont textFont(qreal points, bool bold = false);
    // The windows' text size: 7.5 points, 10 pixels at 96 DPI, so that every
    // caption fits the rectangle the windows give it.
    static constexpr qreal kTextPoints = 7.5;

    // Twips to pixels, horizontally and vertically.
    static int pixelsX(double twips);
    static int pixelsY(double twips);

protected:
    virtual void Form_Load() { }
    virtual void Form_Activate() { }
    virtual void Form_Unload() { }

    // Sizes the client area; `centreAtFirstShow` places the window in the
    // middle of the screen when it is first shown.
    void setClientSizeTwips(double width, double height);
    void setCentreAtFirstShow(bool centre) { m_centreAtFirstShow = centre; }
    // Places a child control at left, top, width, height in twips.
    static void placeTwips(QWidget* control, double left, double top, double width, double height);

    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void activate();

    bool m_loaded = false;
    bool m_active = false;
    bool m_shownBefore = false;
    bool m_centreAtFirstShow = true;
};
