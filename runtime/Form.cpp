#include "Form.h"

#include "Conversions.h"
#include "Screen.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

Form::Form(QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setFont(textFont(kTextPoints));
}

QFont Form::textFont(qreal points, bool bold)
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setFamilies({ QStringLiteral("Liberation Sans"), QStringLiteral("Arial") });
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

void Form::Load()
{
    if (m_loaded)
        return;
    m_loaded = true;
    Form_Load();
}

void Form::Show()
{
    Load();
    if (!m_shownBefore) {
        m_shownBefore = true;
        if (m_centreAtFirstShow) {
            if (const QScreen* screen = QGuiApplication::primaryScreen()) {
                QRect frame(QPoint(), size());
                frame.moveCenter(screen->geometry().center());
                move(frame.topLeft());
            }
        }
    }
    show();
    raise();
    activateWindow();
    if (!m_active)
        activate();
}

void Form::Hide()
{
    hide();
}

void Form::Unload()
{
    if (!m_loaded)
        return;
    Form_Unload();
    m_loaded = false;
    m_active = false;
    hide();
}

int Form::pixelsX(double twips)
{
    return Conversions::twipsToPixels(twips, Runtime::TwipsPerPixelX());
}

int Form::pixelsY(double twips)
{
    return Conversions::twipsToPixels(twips, Runtime::TwipsPerPixelY());
}

void Form::setClientSizeTwips(double width, double height)
{
    resize(pixelsX(width), pixelsY(height));
}

void Form::placeTwips(QWidget* control, double left, double top, double width, double height)
{
    control->setGeometry(pixelsX(left), pixelsY(top), pixelsX(width), pixelsY(height));
}

bool Form::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::WindowActivate:
        if (!m_active && m_loaded && isVisible())
            activate();
        break;
    case QEvent::WindowDeactivate:
        m_active = false;
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

void Form::closeEvent(QCloseEvent* event)
{
    // Closing by the title bar unloads the window like the program does.
    Unload();
    event->accept();
}

void Form::activate()
{
    // Set first: the handler may wait, and an activation event that arrives
    // meanwhile must not run it a second time.
    m_active = true;
    Form_Activate();
}
