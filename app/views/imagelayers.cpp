#include "views/imagelayers.h"

#include "data/object2d.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <shared_mutex>
#include <vector>

namespace vexa {

namespace {

constexpr LayerPen kGridPen { 0, 0, 255, 1, PenStyle::Solid };
constexpr LayerPen kClickPen { 0, 0, 255, 2, PenStyle::Solid };
constexpr LayerPen kBlockCursorPen { 255, 255, 0, 1, PenStyle::Dotted };
constexpr LayerPen kBlockClickPen { 255, 0, 0, 2, PenStyle::Solid };
constexpr LayerPen kDragPen { 255, 0, 0, 1, PenStyle::Solid };

// What the layers need of the view and the image, taken under the image's lock in one
// go (the display buffer stays behind).
struct LayerState {
    ZoomView zoom;
    int mouseMode = MOUSE_NONE;
    int cursorX = 0, cursorY = 0;
    bool cursorSolidV = true, cursorSolidH = true, cursorShown = false;
    int cursor3dX = 0, cursor3dY = 0;
    bool gridOn = false, valuesOn = false, innerLoupeOn = false;
    int plane = 0;
    int width = 0, height = 0;
    std::vector<int> clickX, clickY;
};

LayerState layerState(ImageDescriptor& image)
{
    std::lock_guard lock(image.lock);
    const ImageViewData& v = imageViewData(image);
    return { v.zoom, v.mouseMode, v.cursorX, v.cursorY, v.cursorSolidV != 0, v.cursorSolidH != 0,
        v.cursorShown != 0, v.cursor3dX, v.cursor3dY, v.gridOn != 0, v.valuesOn != 0,
        v.innerLoupeOn != 0, v.plane, image.width, image.height, image.clickX, image.clickY };
}

// A vertical and a horizontal line through a sample, across the whole display.
void drawCross(LayerPainter& painter, const ZoomView& z, int x, int y, const LayerPen& vertical,
    const LayerPen& horizontal)
{
    const int X = cursorLineX(z, x), Y = cursorLineY(z, y);
    const Segment v[] = { { X, 0, X, z.displayH() } };
    const Segment h[] = { { 0, Y, z.displayW(), Y } };
    painter.drawSegments(v, vertical);
    painter.drawSegments(h, horizontal);
}

} // namespace

LayerPen cursorLinePen(CursorPen pen, bool solid)
{
    LayerPen p;
    switch (pen) {
    case CursorPen::Blue:
        p.b = 255;
        break;
    case CursorPen::Black:
        break;
    default:
        p.r = 255;
    }
    p.style = solid ? PenStyle::Solid : PenStyle::Dotted;
    return p;
}

void drawImageLayers(DataRecord& record, const ImageMouse& mouse, LayerPainter& painter)
{
    ImageDescriptor* image = record.image2d();
    if (!image)
        return;
    const LayerState s = layerState(*image);
    const ZoomView& z = s.zoom;
    const int zx = layerPart(z.zoomX), zy = layerPart(z.zoomY);

    if (s.gridOn) {
        const std::vector<Segment> grid = gridSegments(z, true);
        if (!grid.empty())
            painter.drawSegments(grid, kGridPen);
    }
    const bool cursorInside
        = s.cursorX >= 0 && s.cursorY >= 0 && s.cursorX < s.width && s.cursorY < s.height;
    if (s.cursorShown && cursorInside)
        drawCross(painter, z, s.cursorX, s.cursorY,
            cursorLinePen(recordCursorPen(record, true), s.cursorSolidV),
            cursorLinePen(recordCursorPen(record, false), s.cursorSolidH));

    // The latest click is numbered 0.
    const std::size_t clicks = std::min(s.clickX.size(), s.clickY.size());
    for (std::size_t i = 0; i < clicks; ++i) {
        const int X = mapX(z, s.clickX[i]), Y = mapY(z, s.clickY[i]);
        painter.drawSegments(clickBox(X, Y, zx, zy), kClickPen);
        painter.drawTextBelow(X, Y + zy, std::to_string(clicks - i - 1), kClickPen);
    }

    if (const BlockDescriptor* block = record.block()) {
        if (block->cursor3dShown)
            drawCross(painter, z, s.cursor3dX, s.cursor3dY, kBlockCursorPen, kBlockCursorPen);
        std::vector<SectionPoint> points;
        {
            std::shared_lock lock(block->lock);
            points = blockClicksOnSection(*block, s.plane);
        }
        for (const SectionPoint& p : points)
            painter.drawSegments(clickBox(mapX(z, p.c), mapY(z, p.r), zx, zy), kBlockClickPen);
    }

    {
        const ImageToScreen map = [&z](double x, double y) {
            return PixelPoint { zoomCoordinate(int(std::floor(x)), z.originX, z.zoomX),
                zoomCoordinate(int(std::floor(y)), z.originY, z.zoomY) };
        };
        std::lock_guard lock(image->lock);
        overlayDraw(*image, painter, map);
        if (auto* objects = dynamic_cast<ImageOverlay*>(image->objects.get()))
            objects->graphs.draw(painter);
    }

    if (s.innerLoupeOn && cursorInside) {
        const LoupeGeometry g = loupeGeometry(z.zoomX, z.zoomY);
        DisplayBitmap loupe;
        if (buildLoupeBitmap(record, g, loupe) && loupe.ready)
            painter.drawBitmap(
                mapX(z, s.cursorX) - loupe.width / 2, mapY(z, s.cursorY) - loupe.height / 2, loupe);
    }
    if (s.valuesOn && cursorInside)
        painter.drawValueBox(cursorLineX(z, s.cursorX), cursorLineY(z, s.cursorY),
            recordValueReadout(record, s.cursorX, s.cursorY));

    if (const std::optional<DragRectangle> drag = mouse.dragRectangle(z, s.mouseMode)) {
        painter.drawRectangle(drag->left, drag->top, drag->right, drag->bottom, kDragPen);
        if (!drag->size.empty())
            painter.drawTextAt(drag->textX, drag->textY, drag->size, kDragPen);
    }
}

} // namespace vexa
