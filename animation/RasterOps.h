#pragma once

#include <QImage>

// Rectangle copies and single pixels on 32-bit images (QImage::Format_RGB32),
// working straight on the scan lines: the off-screen compositing of the
// ringing animation is made of nothing else.
//
// Every operation writes only where the source rectangle and the target
// overlap; a rectangle partly or wholly outside the target is clipped, never
// an error. An image that is null or not 32 bits deep is left untouched.
namespace RasterOps {

// What a rectangle copy does with each target pixel.
enum class Op
{
    Copy, // target := source
    And, // target := target AND source (a mask: white keeps, black cuts)
    Or, // target := target OR source (black keeps, colour fills)
};

// Applies the whole of `source` onto `target` with its top left corner at
// (x, y), bitwise on the colour. On opaque RGB32 pixels the alpha byte stays
// 0xff under all three operations, so AND and OR act on the 24-bit colour.
void blit(QImage& target, int x, int y, const QImage& source, Op op);

// Sets the pixel (x, y) of `target`; a point outside it changes nothing.
void setPixel(QImage& target, int x, int y, QRgb pixel);

// Fills `target` with `background`, then writes `ink` at every pixel where
// `glyphs` (an 8-bit grey image, QImage::Format_Grayscale8, drawn from the
// top left corner) is not black. This prints pre-rendered text in any
// colour without a painter. A `glyphs` image of another format prints
// nothing.
void print(QImage& target, QRgb background, const QImage& glyphs, QRgb ink);

} // namespace RasterOps
