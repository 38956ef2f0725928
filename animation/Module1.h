#pragma once

#include <QtGlobal>
#include <vector>

// The star data of the ringing animation, shared by the Visual window's
// drawing and motion, and the two trigonometric helpers that turn a star's
// direction and distance into a pixel offset from the centre.
//
// A star's position is always Centre plus a polar offset: x grows by
// SinOffset(Angle, Distance) and y by CosOffset(Angle, Distance), so angle 0
// points straight down, 90 right, 180 up and 270 left.
namespace Module1 {

// One star of the field.
struct Star
{
    qint32 Speed = 0; // pixels added to Distance every frame, 1 to 10
    float Angle = 0.0f; // direction in degrees, 0 up to 360
    qint32 Distance = 0; // pixels from the centre
    qint32 Brightness = 0; // grey level 0 to 255
};

struct Point
{
    qint32 X = 0;
    qint32 Y = 0;
};

// How many stars the field holds.
constexpr int kStarCount = 200;

// The star table: empty until the Visual window's load builds it, then
// kStarCount stars processed in index order.
extern std::vector<Star> Stars;
// The centre of the frame buffer in pixels (origin top left, y down).
extern Point Centre;
// The smaller of Centre.X and Centre.Y: scales start distances and
// brightness.
extern qint32 MaxRadius;

// The horizontal and vertical offsets of a point `radius` pixels from the
// centre in direction `angle` (degrees): sin(angle * pi / 180) * radius and
// cos(angle * pi / 180) * radius, rounded to the nearest integer with ties
// to even. Pi is the single-precision 3.1415927; pi / 180 is formed in
// double precision first, then multiplied by the angle. Throws
// std::overflow_error when the result lies outside -32768..32767.
qint16 SinOffset(float angle, qint32 radius);
qint16 CosOffset(float angle, qint32 radius);

} // namespace Module1
