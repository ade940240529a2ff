#include "views/viewlayers.h"

#include "data/block.h"
#include "data/section.h"
#include "vexa_types.h"
#include "vexamem.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace vexa {

int layerPart(double zoom)
{
    return zoom >= 1 ? static_cast<int>(std::min(zoom, 65536.0)) : 0;
}

int mapX(const ZoomView& view, int x)
{
    return zoomCoordinate(x, view.originX, view.zoomX);
}

int mapY(const ZoomView& view, int y)
{
    return zoomCoordinate(y, view.originY, view.zoomY);
}

std::vector<Segment> gridSegments(const ZoomView& view, bool gridOn)
{
    std::vector<Segment> lines;
    if (!gridOn || view.zoomX < 4 || view.zoomY < 4)
        return lines;
    const int zx = layerPart(view.zoomX), zy = layerPart(view.zoomY);
    const int bottom = zy * view.visibleH, right = zx * view.visibleW;
    lines.reserve(std::size_t(2) * std::size_t(view.visibleW + view.visibleH));
    for (int i = 0; i < view.visibleW; ++i) {
        lines.push_back({ zx * i, 0, zx * i, bottom });
        lines.push_back({ zx * i + zx - 1, 0, zx * i + zx - 1, bottom });
    }
    for (int j = 0; j < view.visibleH; ++j) {
        lines.push_back({ 0, zy * j, right, zy * j });
        lines.push_back({ 0, zy * j + zy - 1, right, zy * j + zy - 1 });
    }
    return lines;
}

int cursorLineX(const ZoomView& view, int x)
{
    return mapX(view, x) + static_cast<int>(view.zoomX * 0.5);
}

int cursorLineY(const ZoomView& view, int y)
{
    return mapY(view, y) + static_cast<int>(view.zoomY * 0.5);
}

std::vector<Segment> clickBox(int X, int Y, int zx, int zy)
{
    return { { X, Y, X + zx, Y }, { X + zx, Y, X + zx, Y + zy }, { X + zx, Y + zy, X - 1, Y + zy },
        { X, Y + zy, X, Y - 1 } };
}

CursorPen cursorPen(const ContrastSource& image, int cursorX, int cursorY, bool vertical)
{
    if (!image.samples || image.width <= 0 || image.height <= 0 || !vexaTypeIsValid(image.type))
        return CursorPen::Red;
    const int length = vertical ? image.height : image.width;
    const int centre = vertical ? cursorY : cursorX;
    const int n = std::min(11, length);
    const int first = std::max(centre - n / 2, 0);
    const int last = std::min(centre - n / 2 + n - 1, length - 1);
    if (first > last
        || (vertical ? (cursorX < 0 || cursorX >= image.width)
                     : (cursorY < 0 || cursorY >= image.height)))
        return CursorPen::Red;
    const int count = last - first + 1;
    const std::size_t es = std::size_t(vexaTypeSize(image.type));
    // The run, gathered contiguously.
    std::vector<std::uint8_t> run(std::size_t(count) * es);
    const auto* base = static_cast<const std::uint8_t*>(image.samples);
    for (int k = 0; k < count; ++k) {
        const int x = vertical ? cursorX : first + k;
        const int y = vertical ? first + k : cursorY;
        std::memcpy(run.data() + std::size_t(k) * es,
            base + (std::size_t(y) * std::size_t(image.width) + std::size_t(x)) * es, es);
    }
    long sumR = 0, sumG = 0, sumB = 0;
    if (image.type == TYPEDATA_RGBA) {
        for (int k = 0; k < count; ++k) {
            sumR += run[std::size_t(4 * k)];
            sumG += run[std::size_t(4 * k + 1)];
            sumB += run[std::size_t(4 * k + 2)];
        }
    } else {
        std::vector<std::uint8_t> levels(static_cast<std::size_t>(count));
        vexaMemConvertInto(
            run.data(), count, image.gain, image.offset, image.type, TYPEDATA_U8, levels.data());
        for (std::uint8_t level : levels) {
            if (image.colours) {
                const auto& c = (*image.colours)[level];
                sumB += c[0];
                sumG += c[1];
                sumR += c[2];
            } else {
                sumR += level;
                sumG += level;
                sumB += level;
            }
        }
    }
    const long r = sumR / count, g = sumG / count, b = sumB / count;
    const long m = (r + g + b) / 3;
    if (std::labs(r - m) + std::labs(g - m) + std::labs(b - m) >= 60)
        return m <= 127 ? CursorPen::Blue : CursorPen::Black;
    return CursorPen::Red;
}

SectionPoint blockCursorOnSection(const BlockDescriptor& block, int plane)
{
    switch (plane) {
    case PLANE_RIGHT:
        return { block.cursorZ, block.cursorY };
    case PLANE_TOP:
        return { block.cursorX, block.dimZ - 1 - block.cursorZ };
    default:
        return { block.cursorX, block.cursorY };
    }
}

std::vector<SectionPoint> blockClicksOnSection(const BlockDescriptor& block, int plane)
{
    std::vector<SectionPoint> points;
    const std::size_t n
        = std::min({ block.clickX.size(), block.clickY.size(), block.clickZ.size() });
    for (std::size_t i = 0; i < n; ++i) {
        const int x = block.clickX[i], y = block.clickY[i], z = block.clickZ[i];
        if (plane == PLANE_FRONT && z == block.cursorZ)
            points.push_back({ x, y });
        else if (plane == PLANE_RIGHT && x == block.cursorX)
            points.push_back({ z, y });
        else if (plane == PLANE_TOP && y == block.cursorY)
            points.push_back({ x, block.dimZ - 1 - z });
    }
    return points;
}

VolumePoint sectionToVolume(const BlockDescriptor& block, int plane, int c, int r)
{
    switch (plane) {
    case PLANE_RIGHT:
        return { block.cursorX, r, c };
    case PLANE_TOP:
        return { c, block.cursorY, block.dimZ - r - 1 };
    default:
        return { c, r, block.cursorZ };
    }
}

void sectionExtent(const BlockDescriptor& block, int plane, int& width, int& height)
{
    switch (plane) {
    case PLANE_RIGHT:
        width = block.dimZ;
        height = block.dimY;
        break;
    case PLANE_TOP:
        width = block.dimX;
        height = block.dimZ;
        break;
    default:
        width = block.dimX;
        height = block.dimY;
    }
}

LoupeGeometry loupeGeometry(double zoomX, double zoomY)
{
    LoupeGeometry g;
    auto compute = [&] {
        const auto odd = [](double zoom, double f) {
            const double scaled = std::floor(std::min(zoom * f, 1e6) + 0.5);
            return 2 * static_cast<int>(scaled / 2) + 1;
        };
        g.sx = odd(zoomX, g.factor);
        g.sy = odd(zoomY, g.factor);
        g.width = (2 * g.hx + 1) * g.sx;
        g.height = (2 * g.hy + 1) * g.sy;
    };
    compute();
    while (std::min(g.width, g.height) >= 301 && g.hx != 0 && g.hy != 0) {
        --g.hx;
        --g.hy;
        compute();
    }
    // Both sizes are at least 23 pixels, so this ends after a few dozen steps.
    while (std::max(g.width, g.height) <= 49) {
        g.factor *= 1.1;
        compute();
    }
    return g;
}

} // namespace vexa
