// Mouse input over the image area of a window, without the widget: the window hands
// over each press, move, release and double click with its buttons and modifiers, and
// ImageMouse applies it to the record's view according to the mouse mode (the 2D
// cursor follows, zoom by click, drag to move, rectangle and measure drags, context
// menu, block cursor clicks, events delivered to the datum's callbacks). What needs
// the window (redrawing, resizing, synchronising, the menu) comes back as a response.
#pragma once

#include "views/imageview.h"

#include <optional>
#include <string>

namespace vexa {

// The wheel is not listed: it scrolls the image area, which reaches the view through
// panView like the scroll bars.
enum class MouseAction { Press, Move, Release, DoubleClick };

// Button and modifier bits.
enum MouseButton : unsigned { kMouseLeft = 1, kMouseRight = 2, kMouseMiddle = 4 };
enum KeyModifier : unsigned { kModShift = 1, kModControl = 2, kModAlt = 4 };

struct MouseInput {
    MouseAction action = MouseAction::Move;
    int x = 0, y = 0; // pixels of the image area
    unsigned button = 0; // the button pressed or released (one bit); 0 for a move
    unsigned buttons = 0; // buttons held once the event happened
    unsigned modifiers = 0;
};

// The key-state word handed to callbacks as "wparam": 0x1 left, 0x2 right, 0x4 Shift,
// 0x8 Control, 0x10 middle button.
int mouseKeyState(unsigned buttons, unsigned modifiers);
// The position word handed as "lparam": x in the low 16 bits, y in the high 16 bits,
// each cut to 16 bits (negative coordinates of a drag outside keep their sign there).
int mousePositionWord(int x, int y);
// "MOUSEMOVE" for a move; else "LBUTTON", "RBUTTON" or "MBUTTON" (left when no button
// is named) followed by "DOWN", "UP" or "DBLCLICK".
std::string mouseEventName(const MouseInput& input);

// What the window still has to do after an input, besides repainting the area.
struct MouseResponse {
    bool cursorMoved = false; // the 2D cursor followed the mouse: refresh the status bar
    bool zoomed = false; // zoom mode changed the zoom: visible part, display, synchronisation
    bool panned = false; // move mode set a new origin: display, synchronisation
    bool contextMenu = false; // open the "Conversion" menu at the mouse
    bool blockCursorMoved = false; // status bar and companion windows follow
};

// The drag rectangle of the rectangle and measure modes, in pixels of the area.
struct DragRectangle {
    int left = 0, top = 0, right = 0, bottom = 0; // corners included
    std::string size; // "[%d x %d]" samples covered, measure mode only
    int textX = 0, textY = 0; // baseline start of the size text
};

// The mouse state of one image window: the press point of a drag and where the mouse
// was last. Used on the interface thread only.
class ImageMouse {
public:
    // Applies an input to the record's view (the record must hold a 2D image).
    MouseResponse handle(DataRecord& record, const MouseInput& input);

    bool dragging() const { return dragging_; }
    // The rectangle to draw while a drag of the rectangle or measure mode lasts.
    std::optional<DragRectangle> dragRectangle(const ZoomView& zoom, int mouseMode) const;

private:
    struct Point {
        int x = 0, y = 0;
    };
    std::optional<Point> press_; // image point where the press happened
    Point pressOrigin_; // the view's origin at the press
    Point mouseImage_; // image point under the mouse (may lie outside the image)
    Point mouseWindow_; // pixels of the area
    bool dragging_ = false;
};

} // namespace vexa
