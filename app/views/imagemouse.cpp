#include "views/imagemouse.h"

#include "views/viewzoom.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace vexa {

int mouseKeyState(unsigned buttons, unsigned modifiers)
{
    int state = 0;
    if (buttons & kMouseLeft)
        state |= 0x1;
    if (buttons & kMouseRight)
        state |= 0x2;
    if (modifiers & kModShift)
        state |= 0x4;
    if (modifiers & kModControl)
        state |= 0x8;
    if (buttons & kMouseMiddle)
        state |= 0x10;
    return state;
}

int mousePositionWord(int x, int y)
{
    const std::uint32_t word = (std::uint32_t(y) & 0xFFFFu) << 16 | (std::uint32_t(x) & 0xFFFFu);
    return static_cast<int>(word);
}

std::string mouseEventName(const MouseInput& input)
{
    if (input.action == MouseAction::Move)
        return "MOUSEMOVE";
    const char* button = input.button == kMouseRight ? "RBUTTON"
        : input.button == kMouseMiddle               ? "MBUTTON"
                                                     : "LBUTTON";
    const char* what = input.action == MouseAction::Press ? "DOWN"
        : input.action == MouseAction::Release            ? "UP"
                                                          : "DBLCLICK";
    return std::string(button) + what;
}

MouseResponse ImageMouse::handle(DataRecord& record, const MouseInput& input)
{
    MouseResponse response;
    ImageDescriptor* image = record.image2d();
    if (!image)
        return response;
    ZoomView z;
    int mode;
    {
        std::lock_guard lock(image->lock);
        const ImageViewData& v = imageViewData(*image);
        z = v.zoom;
        mode = v.mouseMode;
    }
    const int ix = imageCoordinate(input.x, z.originX, z.zoomX);
    const int iy = imageCoordinate(input.y, z.originY, z.zoomY);
    // Hidden samples lie beyond the area's edges (a drag outside, a scrolled view), and
    // the display may end before the image does (a partly shown last sample).
    const bool inside = ix >= 0 && iy >= 0 && ix < z.imageW && iy < z.imageH && input.x >= 0
        && input.y >= 0 && input.x < z.displayW() && input.y < z.displayH();
    mouseImage_ = { ix, iy };
    mouseWindow_ = { input.x, input.y };
    const bool press = input.action == MouseAction::Press;

    if ((input.action == MouseAction::Move || press) && inside) {
        std::lock_guard lock(image->lock);
        ImageViewData& v = imageViewData(*image);
        v.cursorX = ix;
        v.cursorY = iy;
        v.cursorSolidV = v.cursorSolidH = 1;
        response.cursorMoved = true;
    }

    // Callbacks hear every input whatever the mode; the events mode leaves the mouse to
    // them alone.
    ViewEvent e = viewEventOf(record);
    e.x = e.x2 = ix;
    e.y = e.y2 = iy;
    e.x1 = press_ ? press_->x : ix;
    e.y1 = press_ ? press_->y : iy;
    e.screenX = input.x;
    e.screenY = input.y;
    e.wparam = mouseKeyState(input.buttons, input.modifiers);
    e.lparam = mousePositionWord(input.x, input.y);
    if (const BlockDescriptor* block = record.block())
        e.z = sectionToVolume(*block, e.typeView, ix, iy).z;
    fireViewEvent(record, mouseEventName(input), e);
    if (mode == MOUSE_EVENTS) {
        if (press)
            press_ = Point { ix, iy };
        else if (input.action == MouseAction::Release)
            press_.reset();
        return response;
    }

    switch (input.action) {
    case MouseAction::Press:
        press_ = Point { ix, iy };
        pressOrigin_ = { z.originX, z.originY };
        dragging_ = true;
        if (!inside)
            break;
        if (mode == MOUSE_ZOOM) {
            const ViewZoom command = input.button == kMouseRight ? ViewZoom::Out : ViewZoom::In;
            response.zoomed = zoomView(record, command, ImagePoint { double(ix), double(iy) });
        } else if (mode == MOUSE_NONE) {
            if (input.button == kMouseRight) {
                dragging_ = false;
                response.contextMenu = true;
            } else if (input.button == kMouseLeft && record.block()) {
                // A click on a block section moves the block cursor there.
                response.blockCursorMoved = moveBlockCursor(record, ix, iy);
            }
        }
        break;
    case MouseAction::Move:
        if (dragging_ && press_ && (input.buttons & kMouseLeft) && mode == MOUSE_MOVE) {
            // Sample distances from the press, at the origin of the press: the origin
            // moves against the mouse.
            const int dx = imageCoordinate(input.x, pressOrigin_.x, z.zoomX) - press_->x;
            const int dy = imageCoordinate(input.y, pressOrigin_.y, z.zoomY) - press_->y;
            panView(record, pressOrigin_.x - dx, pressOrigin_.y - dy);
            response.panned = true;
        }
        break;
    case MouseAction::Release:
        if (dragging_ && press_ && (mode == MOUSE_RECTANGLE || mode == MOUSE_MEASURE)) {
            std::lock_guard lock(image->lock);
            ImageViewData& v = imageViewData(*image);
            auto limit = [](int c, int size) { return std::clamp(c, 0, std::max(size - 1, 0)); };
            const int xs[2] = { limit(press_->x, z.imageW), limit(ix, z.imageW) };
            const int ys[2] = { limit(press_->y, z.imageH), limit(iy, z.imageH) };
            v.selection[0] = std::min(xs[0], xs[1]);
            v.selection[1] = std::min(ys[0], ys[1]);
            v.selection[2] = std::max(xs[0], xs[1]);
            v.selection[3] = std::max(ys[0], ys[1]);
            v.selectionSet = true;
        }
        dragging_ = false;
        press_.reset();
        break;
    case MouseAction::DoubleClick:
        break;
    }
    return response;
}

std::optional<DragRectangle> ImageMouse::dragRectangle(const ZoomView& zoom, int mouseMode) const
{
    if (!dragging_ || !press_ || (mouseMode != MOUSE_RECTANGLE && mouseMode != MOUSE_MEASURE))
        return std::nullopt;
    const int ax = mapX(zoom, press_->x), ay = mapY(zoom, press_->y);
    const int bx = mapX(zoom, mouseImage_.x), by = mapY(zoom, mouseImage_.y);
    DragRectangle r;
    r.left = std::min(ax, bx);
    r.top = std::min(ay, by);
    r.right = std::max(ax, bx);
    r.bottom = std::max(ay, by);
    if (mouseMode == MOUSE_MEASURE) {
        char text[64];
        std::snprintf(text, sizeof text, "[%d x %d]", std::abs(mouseImage_.x - press_->x) + 1,
            std::abs(mouseImage_.y - press_->y) + 1);
        r.size = text;
        r.textX = mouseWindow_.x + 10;
        r.textY = mouseWindow_.y - 4;
    }
    return r;
}

} // namespace vexa
