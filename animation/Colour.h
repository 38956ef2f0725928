#pragma once

#include <QRgb>
#include <QtGlobal>

// The program's colours are 32-bit values with red in the lowest byte, green
// in the next and blue in the third (0x00BBGGRR). QImage pixels hold them the
// other way round (0xAARRGGBB); these two helpers are the one place where one
// form becomes the other.
namespace Colour {

// The program's form of (red, green, blue), each 0..255.
constexpr qint32 rgb(int red, int green, int blue)
{
    return red + 256 * green + 65536 * blue;
}

// The opaque image pixel of a program colour.
constexpr QRgb toPixel(qint32 colour)
{
    return qRgb(colour & 0xff, (colour >> 8) & 0xff, (colour >> 16) & 0xff);
}

} // namespace Colour
