#pragma once

#include <QtGlobal>
#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

// The program's number conversions: rounding to the nearest integer with
// ties to even, and 16-bit integers whose overflow is an error rather than a
// wrap-around.
namespace Conversions {

// Rounds to the nearest integer, ties to even (2.5 -> 2, 3.5 -> 4): the
// default floating-point rounding mode, which the program never changes.
inline double roundHalfEven(double value)
{
    return std::nearbyint(value);
}

// Rounds `value` half to even into a 16-bit integer. Throws
// std::overflow_error when the result lies outside -32768..32767 (or is not
// a number).
inline qint16 toInt16(double value)
{
    const double rounded = roundHalfEven(value);
    if (!(rounded >= std::numeric_limits<qint16>::min()
            && rounded <= std::numeric_limits<qint16>::max()))
        throw std::overflow_error("16-bit integer overflow");
    return static_cast<qint16>(rounded);
}

// Rounds `value` half to even into a 32-bit integer; throws
// std::overflow_error outside its range.
inline qint32 toInt32(double value)
{
    const double rounded = roundHalfEven(value);
    if (!(rounded >= std::numeric_limits<qint32>::min()
            && rounded <= std::numeric_limits<qint32>::max()))
        throw std::overflow_error("32-bit integer overflow");
    return static_cast<qint32>(rounded);
}

// A length in twips as whole pixels: both the length and the twips per
// pixel are rounded to integers first, and the quotient's fraction is
// dropped. A twips-per-pixel below 1 counts as 1.
inline int twipsToPixels(double twips, double twipsPerPixel)
{
    const double perPixel = std::max(1.0, roundHalfEven(twipsPerPixel));
    return static_cast<int>(std::trunc(roundHalfEven(twips) / perPixel));
}

} // namespace Conversions
