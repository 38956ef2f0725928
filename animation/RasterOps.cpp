#include "RasterOps.h"

#include <algorithm>
#include <cstring>

namespace RasterOps {
namespace {

bool is32Bit(const QImage& image)
{
    return !image.isNull() && image.depth() == 32;
}

template <typename Combine>
void combineRows(
    QImage& target, const QImage& source, const QRect& area, QPoint sourceOffset, Combine combine)
{
    uchar* targetBits = target.bits();
    const uchar* sourceBits = source.constBits();
    const qsizetype targetStride = target.bytesPerLine();
    const qsizetype sourceStride = source.bytesPerLine();
    for (int row = 0; row < area.height(); ++row) {
        auto* to
            = reinterpret_cast<quint32*>(targetBits + (area.y() + row) * targetStride) + area.x();
        const auto* from
            = reinterpret_cast<const quint32*>(sourceBits + (sourceOffset.y() + row) * sourceStride)
            + sourceOffset.x();
        combine(to, from, area.width());
    }
}

} // namespace

void blit(QImage& target, int x, int y, const QImage& source, Op op)
{
    if (!is32Bit(target) || !is32Bit(source))
        return;
    // The part of the source rectangle that lies inside the target.
    const QRect area = QRect(x, y, source.width(), source.height()) & target.rect();
    if (area.isEmpty())
        return;
    const QPoint sourceOffset(area.x() - x, area.y() - y);

    switch (op) {
    case Op::Copy:
        combineRows(
            target, source, area, sourceOffset, [](quint32* to, const quint32* from, int count) {
                std::memcpy(to, from, static_cast<size_t>(count) * sizeof(quint32));
            });
        break;
    case Op::And:
        combineRows(
            target, source, area, sourceOffset, [](quint32* to, const quint32* from, int count) {
                for (int i = 0; i < count; ++i)
                    to[i] &= from[i];
            });
        break;
    case Op::Or:
        combineRows(
            target, source, area, sourceOffset, [](quint32* to, const quint32* from, int count) {
                for (int i = 0; i < count; ++i)
                    to[i] |= from[i];
            });
        break;
    }
}

void setPixel(QImage& target, int x, int y, QRgb pixel)
{
    if (!is32Bit(target) || x < 0 || y < 0 || x >= target.width() || y >= target.height())
        return;
    reinterpret_cast<quint32*>(target.scanLine(y))[x] = pixel;
}

void print(QImage& target, QRgb background, const QImage& glyphs, QRgb ink)
{
    if (!is32Bit(target))
        return;
    target.fill(background);
    if (glyphs.format() != QImage::Format_Grayscale8)
        return;
    const int width = std::min(target.width(), glyphs.width());
    const int height = std::min(target.height(), glyphs.height());
    for (int y = 0; y < height; ++y) {
        const uchar* coverage = glyphs.constScanLine(y);
        auto* to = reinterpret_cast<quint32*>(target.scanLine(y));
        for (int x = 0; x < width; ++x) {
            if (coverage[x] != 0)
                to[x] = ink;
        }
    }
}

} // namespace RasterOps
