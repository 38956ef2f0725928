#include "Module1.h"

#include "Conversions.h"

#include <cmath>

namespace Module1 {

std::vector<Star> Stars;
Point Centre;
qint32 MaxRadius = 0;

namespace {

// Degrees to radians with pi in single precision, as the animation has
// always computed it; the factor itself is formed in double.
constexpr double kRadiansPerDegree = static_cast<double>(3.1415927f) / 180.0;

} // namespace

qint16 SinOffset(float angle, qint32 radius)
{
    return Conversions::toInt16(std::sin(kRadiansPerDegree * angle) * radius);
}

qint16 CosOffset(float angle, qint32 radius)
{
    return Conversions::toInt16(std::cos(kRadiansPerDegree * angle) * radius);
}

} // namespace Module1
