#include "Screen.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace Runtime {
namespace {

qreal logicalDpi(bool horizontal)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return 96.0;
    return horizontal ? screen->logicalDotsPerInchX() : screen->logicalDotsPerInchY();
}

} // namespace

float TwipsPerPixelX()
{
    return static_cast<float>(1440.0 / logicalDpi(true));
}

float TwipsPerPixelY()
{
    return static_cast<float>(1440.0 / logicalDpi(false));
}

int ScreenWidthTwips()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int pixels = screen ? screen->geometry().width() : 0;
    return static_cast<int>(std::nearbyint(pixels * static_cast<double>(TwipsPerPixelX())));
}

} // namespace Runtime
