#include "views/viewzoom.h"

#include "data/section.h"

#include <algorithm>
#include <mutex>

namespace vexa {

void startView(DataRecord& record)
{
    ImageDescriptor* image = record.image2d();
    if (!image)
        return;
    std::lock_guard lock(image->lock);
    ImageViewData& v = imageViewData(*image);
    if (const BlockDescriptor* block = record.block()) {
        v.plane = PLANE_FRONT;
        const SectionPoint p = blockCursorOnSection(*block, PLANE_FRONT);
        v.cursor3dX = p.c;
        v.cursor3dY = p.r;
    }
    ZoomView& z = v.zoom;
    z.imageW = image->width;
    z.imageH = image->height;
    initialDisplay(z);
    z.clientW = z.clientH = 0;
    updateVisible(z);
}

bool zoomView(DataRecord& record, ViewZoom command, std::optional<ImagePoint> point)
{
    ImageDescriptor* image = record.image2d();
    if (!image)
        return false;
    std::lock_guard lock(image->lock);
    ZoomView& z = imageViewData(*image).zoom;
    switch (command) {
    case ViewZoom::In:
        return zoomIn(z, point);
    case ViewZoom::Out:
        return zoomOut(z, point);
    case ViewZoom::Initial:
        initialDisplay(z);
        return true;
    case ViewZoom::WindowLarger:
        return windowZoomIn(z);
    case ViewZoom::WindowSmaller:
        return windowZoomOut(z);
    }
    return false;
}

void refreshVisible(DataRecord& record)
{
    ImageDescriptor* image = record.image2d();
    if (!image)
        return;
    std::lock_guard lock(image->lock);
    updateVisible(imageViewData(*image).zoom);
}

void panView(DataRecord& record, int originX, int originY)
{
    ImageDescriptor* image = record.image2d();
    if (!image)
        return;
    std::lock_guard lock(image->lock);
    setOrigin(imageViewData(*image).zoom, originX, originY);
}

void resizeView(DataRecord& record, int width, int height)
{
    ImageDescriptor* image = record.image2d();
    if (!image)
        return;
    std::lock_guard lock(image->lock);
    ZoomView& z = imageViewData(*image).zoom;
    z.clientW = std::max(width, 1);
    z.clientH = std::max(height, 1);
    updateVisible(z);
}

bool synchroniseView(DataRecord& from, DataRecord& to)
{
    ImageDescriptor* source = from.image2d();
    ImageDescriptor* target = to.image2d();
    if (!source || !target || source == target)
        return false;
    ZoomView z;
    {
        std::lock_guard lock(source->lock);
        const ImageViewData& v = imageViewData(*source);
        if (!v.sync2d)
            return false;
        z = v.zoom;
    }
    // One lock at a time: two windows synchronising each other never wait in a cycle.
    std::lock_guard lock(target->lock);
    ImageViewData& o = imageViewData(*target);
    if (!o.sync2d || o.zoom.imageW != z.imageW || o.zoom.imageH != z.imageH)
        return false;
    o.zoom.originX = z.originX;
    o.zoom.originY = z.originY;
    o.zoom.visibleW = z.visibleW;
    o.zoom.visibleH = z.visibleH;
    o.zoom.zoomX = z.zoomX;
    o.zoom.zoomY = z.zoomY;
    return true;
}

void withDisplay(DataRecord& record, const std::function<void(const DisplayBitmap&)>& fn)
{
    ImageDescriptor* image = record.image2d();
    if (!image || !fn)
        return;
    std::lock_guard lock(image->lock);
    fn(imageViewData(*image).display);
}

} // namespace vexa
