#include "views/zoom.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace vexa {

namespace {

// trunc(z) or trunc(1 / z), never 0 and never beyond the int range.
int wholePart(double zoom)
{
    if (!(zoom > 0))
        return 1;
    const double part = zoom >= 1 ? zoom : 1.0 / zoom;
    return static_cast<int>(std::clamp(std::trunc(part), 1.0, 1073741824.0));
}

int clampToInt(std::int64_t v)
{
    return static_cast<int>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

int roundHalfUp(double v)
{
    const double r = std::floor(v + 0.5);
    return static_cast<int>(std::clamp(r, -2147483648.0, 2147483647.0));
}

} // namespace

int zoomCount(int n, double zoom)
{
    if (zoom >= 1)
        return clampToInt(std::int64_t(n) * wholePart(zoom));
    return n / wholePart(zoom);
}

int zoomCoordinate(int c, int origin, double zoom)
{
    const std::int64_t d = std::int64_t(c) - origin;
    if (zoom >= 1)
        return clampToInt(d * wholePart(zoom));
    return clampToInt(d / wholePart(zoom));
}

int imageCoordinate(int p, int origin, double zoom)
{
    const int k = wholePart(zoom);
    if (zoom >= 1) {
        // Floor division, so that pixels left of the image map left of the origin.
        const int q = p >= 0 ? p / k : -((-p + k - 1) / k);
        return clampToInt(std::int64_t(q) + origin);
    }
    return clampToInt(std::int64_t(p) * k + origin);
}

ZoomPair quantiseZoom(double fx, double fy, double ratio)
{
    if (!(ratio > 0) || !std::isfinite(ratio))
        ratio = 1;
    double z = std::min(fx, fy / ratio);
    if (std::isnan(z))
        z = 1;
    if (z < 0.25) {
        z = kMinZoom;
    } else {
        // Beyond 256 the limits below bring it back anyway.
        double p = 0.25;
        while (p * 2 <= z && p < kMaxZoom)
            p *= 2;
        z = p;
    }
    if (ratio < 1) {
        z = std::min(z, kMaxZoom);
        if (z * ratio < kMinZoom)
            z = kMinZoom / ratio;
    } else {
        if (z * ratio > kMaxZoom)
            z = kMaxZoom / ratio;
        if (z < kMinZoom)
            z = kMinZoom;
    }
    return { z, z * ratio };
}

AxisView visibleAxis(int clientPixels, int n, double zoom, int origin)
{
    AxisView axis;
    clientPixels = std::max(clientPixels, 0);
    const int k = wholePart(zoom);
    std::int64_t count;
    bool exact;
    if (zoom >= 1) {
        count = clientPixels / k;
        exact = clientPixels % k == 0;
    } else {
        count = std::int64_t(clientPixels) * k;
        exact = true;
    }
    if (count >= n) {
        axis.origin = 0;
        axis.visible = std::max(n, 0);
        axis.scrollHidden = true;
        return axis;
    }
    if (!exact)
        ++count;
    axis.visible = static_cast<int>(std::max<std::int64_t>(count, 1));
    axis.origin = std::max(0, std::min(origin, n - axis.visible));
    axis.scrollHidden = false;
    return axis;
}

void updateVisible(ZoomView& view)
{
    if (view.clientW <= 0 && view.clientH <= 0) {
        // No window yet: the whole image.
        view.originX = view.originY = 0;
        view.visibleW = std::max(view.imageW, 0);
        view.visibleH = std::max(view.imageH, 0);
        view.scrollXHidden = view.scrollYHidden = true;
        return;
    }
    const AxisView x = visibleAxis(view.clientW, view.imageW, view.zoomX, view.originX);
    const AxisView y = visibleAxis(view.clientH, view.imageH, view.zoomY, view.originY);
    view.originX = x.origin;
    view.visibleW = x.visible;
    view.scrollXHidden = x.scrollHidden;
    view.originY = y.origin;
    view.visibleH = y.visible;
    view.scrollYHidden = y.scrollHidden;
}

void setOrigin(ZoomView& view, int originX, int originY)
{
    view.originX = std::clamp(originX, 0, std::max(view.imageW - 1, 0));
    view.originY = std::clamp(originY, 0, std::max(view.imageH - 1, 0));
    updateVisible(view);
}

bool zoomIn(ZoomView& view, std::optional<ImagePoint> point)
{
    if (view.zoomX >= kMaxZoom || view.zoomY >= kMaxZoom)
        return false;
    view.zoomX *= 2;
    view.zoomY *= 2;
    int ox, oy;
    if (point) {
        ox = roundHalfUp(point->x - view.visibleW * 0.25);
        oy = roundHalfUp(point->y - view.visibleH * 0.25);
    } else {
        ox = view.originX + view.visibleW / 4;
        oy = view.originY + view.visibleH / 4;
    }
    setOrigin(view, ox, oy);
    return true;
}

bool zoomOut(ZoomView& view, std::optional<ImagePoint> point)
{
    if (view.zoomX <= kMinZoom || view.zoomY <= kMinZoom)
        return false;
    view.zoomX *= 0.5;
    view.zoomY *= 0.5;
    int ox, oy;
    if (point) {
        ox = roundHalfUp(point->x - view.visibleW + 0.0);
        oy = roundHalfUp(point->y - view.visibleH + 0.0);
    } else {
        ox = view.originX - view.visibleW / 2;
        oy = view.originY - view.visibleH / 2;
    }
    setOrigin(view, ox, oy);
    return true;
}

bool windowZoomIn(ZoomView& view)
{
    if (!(view.visibleW * view.zoomX * 2 < 10000 && view.visibleH * view.zoomY * 2 < 10000))
        return false;
    const ZoomPair z = quantiseZoom(view.zoomX * 2, view.zoomY * 2, view.ratio());
    view.zoomX = z.zoomX;
    view.zoomY = z.zoomY;
    return true;
}

bool windowZoomOut(ZoomView& view)
{
    const ZoomPair z = quantiseZoom(view.zoomX * 0.5, view.zoomY * 0.5, view.ratio());
    if (z.zoomX == view.zoomX && z.zoomY == view.zoomY)
        return false;
    view.zoomX = z.zoomX;
    view.zoomY = z.zoomY;
    return true;
}

int initialDisplaySize(int n, double zoom)
{
    const int d = zoomCount(n, zoom);
    if (zoom < 1 && std::int64_t(d) * wholePart(zoom) < n)
        return d + 1;
    return d;
}

PixelSize initialDisplay(ZoomView& view)
{
    const double w = std::max(view.imageW, 1), h = std::max(view.imageH, 1);
    const double r = view.ratio();
    auto apply = [&](double fx, double fy) {
        const ZoomPair z = quantiseZoom(fx, fy, r);
        view.zoomX = z.zoomX;
        view.zoomY = z.zoomY;
        return PixelSize { initialDisplaySize(view.imageW, z.zoomX),
            initialDisplaySize(view.imageH, z.zoomY) };
    };
    PixelSize size = apply(900 / w, 675 / h);
    if (size.width > 750 || size.height > 600)
        size = apply(900 / w, 600 / h);
    if (size.width > 900 || size.height > 600)
        size = apply(750 / w, 675 / h);
    view.originX = 0;
    view.originY = 0;
    return size;
}

} // namespace vexa
