// The display state of an image window and the operations on it that need no widget:
// rebuilding the display buffer from the record under the image's lock, the value
// readout and information texts of the record, section browsing of blocks, the
// "Conversion" menu, and the delivery of mouse events to the datum's callbacks.
#pragma once

#include "data/datarecord.h"
#include "views/displaybuffer.h"
#include "views/viewlayers.h"
#include "views/zoom.h"

#include <string>
#include <vector>

namespace vexa {

enum DisplayMode : int { DISPLAY_PLAIN = 0, DISPLAY_INTERPOLATED = 3 };

// What mouse clicks and drags do over the image.
enum MouseMode : int {
    MOUSE_NONE = 0,
    MOUSE_ZOOM = 1,
    MOUSE_MOVE = 2,
    MOUSE_RECTANGLE = 3,
    MOUSE_MEASURE = 4,
    MOUSE_EVENTS = 7,
};

struct ImageViewData : ImageViewState {
    ZoomView zoom;
    int displayMode = DISPLAY_PLAIN;
    DisplayBitmap display; // guarded by the image's lock
    int mouseMode = MOUSE_NONE;
    int cursorX = 0, cursorY = 0;
    int cursorSolidV = 1, cursorSolidH = 1;
    int cursorShown = 0;
    int cursor3dX = 0, cursor3dY = 0;
    int gridOn = 0, valuesOn = 0, innerLoupeOn = 0, paletteBarOn = 0, infoOn = 0, sync2d = 0;
    int plane = 0; // shown plane of a block image
    // The last rectangle dragged in the rectangle or measure mode, limited to the image
    // (x1, y1, x2, y2, corners included): "Extraction" starts from it.
    bool selectionSet = false;
    int selection[4] = {};
};

// The view data of an image, created on first use (zoom 1, the whole image).
ImageViewData& imageViewData(ImageDescriptor& image);

// Value scale, palette and class the display uses: those of the block for a block
// image, of the 2D image otherwise.
struct DisplaySettings {
    double gain = 1;
    double offset = 0;
    int scaleOn = 0;
    PaletteRef palette;
    int valueClass = CLASS_DEFAULT;
};
DisplaySettings displaySettings(const DataRecord& record);

// How a new window's display correction was chosen.
enum class InitialCorrection {
    Kept, // the datum's own correction (gain 1 and offset 0 unless something set it)
    FileWindow, // the display window the file asks for
    MinMax, // the value range, because it does not fit the levels 0..255
    Undecided, // no samples yet, or all equal (a calculation may still fill them)
};

// The correction a new window of the record starts with. Nothing changes when autoRange
// is false, when the datum already carries a correction other than gain 1 and offset 0,
// for RGBA samples, or for a value class other than CLASS_DEFAULT (their gain and offset
// belong to the class). Otherwise a display window asked by the file wins; else values
// that do not all fit 0..255 are spread over the levels as "Min-Max" does. The range is
// that of the whole block when it is in memory and not huge, else of the shown image.
// Undecided when the values have no range yet: the caller may ask again once they come.
InitialCorrection applyInitialCorrection(DataRecord& record, bool autoRange);

// The values shown at levels 0 and 255 (what the palette bar labels). False when the
// gain is 0.
bool displayedRange(const DataRecord& record, double& atLevel0, double& atLevel255);

// True for the palette of labelled images.
bool isLabelPalette(PaletteRef palette);

// Colours of a palette as bitmap colour entries (grey when the palette list has none).
DisplayColours paletteColours(PaletteRef palette);

// Rebuilds the display buffer of the record's visible part under the image's lock;
// the image size is taken again first (a task may have replaced the samples). False
// when the image has no samples or the buffer cannot be built (displayReady stays 0).
bool rebuildDisplay(DataRecord& record);

// The inner magnifier's bitmap around the 2D cursor, built like the display.
bool buildLoupeBitmap(DataRecord& record, const LoupeGeometry& geometry, DisplayBitmap& out);

// The pen of a cursor line of the record's view.
CursorPen recordCursorPen(DataRecord& record, bool vertical);

// Status bar texts for the cursor (cx, cy) of the shown image.
struct StatusTexts {
    std::string type;
    std::string cursor;
    std::string volume; // empty unless the 3D cursor is shown on a block section
    std::string value;
};
StatusTexts statusTexts(DataRecord& record, int cx, int cy);
std::string recordValueReadout(DataRecord& record, int cx, int cy);
std::vector<std::string> recordInfoLines(DataRecord& record);

// Section browsing. The current index of a plane: cursorZ, cursorX or cursorY.
int currentSectionIndex(const BlockDescriptor& block, int plane);
// Shows a section (index limited to the plane) in the record's 2D image: reads it,
// replaces the samples under the image's lock, moves the cursor on that axis, labels
// the position and keeps the view's zoom. False for a plain image or a bad plane.
bool loadSection(DataRecord& record, int plane, int index);
// Reads the shown section again (a task may have written into the block).
bool reloadSection(DataRecord& record);
// A click at (c, r) of the shown section moves the block cursor there (the shown
// section stays). False outside the section or without a block.
bool moveBlockCursor(DataRecord& record, int c, int r);

// The section of a block record's plane through the block cursor as a display bitmap
// at zoom 1, with the record's value scale and palette (companion windows). False
// without a block, for a bad plane or when the section cannot be read.
bool buildSectionBitmap(DataRecord& record, int plane, DisplayBitmap& out);

// The "Conversion" context menu.
struct ConversionEntry {
    std::string label; // "" for the separator
    int type = 0; // a type code, or 0
    int valueClass = -1; // a class, or -1
};
std::vector<ConversionEntry> conversionMenu(DataRecord& record);
// Converts a plain image's samples to type (conversion rule, gain 1, offset 0; RGBA
// pixels are reduced to the mean of red, green and blue). False, nothing changed,
// for a block image, an unknown type or when memory runs out.
bool convertImageType(DataRecord& record, int type);
// A class entry: sets the value class of a registered image record (palette, gain and
// offset follow the class). False when the record is not in the registry.
bool setImageValueClass(DataRecord& record, int valueClass);

// "Dupliquer": a new plain image datum holding a copy of the record's 2D image (the
// shown section of a block) with its value scale, class and palette, named after the
// record. Null, nothing made, when the image has no samples or memory runs out.
DataRecord* duplicateShownImage(DataRecord& record);

// Events of an image window delivered to callbacks. While a callback runs,
// dozDataCallbackGetEvent answers the keys of the event ("x", "y", "x_image", ...).
struct ViewEvent {
    int x = 0, y = 0; // image coordinates under the mouse (the 2D cursor otherwise)
    int z = 0; // volume z of a block section (the shown FRONT index otherwise)
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0; // press point and current point (image)
    int screenX = 0, screenY = 0; // window pixels
    void* window = nullptr;
    int wparam = 0, lparam = 0;
    int typeView = 0; // plane of a block image, -1 for a plain image
    int width = 0, height = 0; // image size
    unsigned int imageId = 0; // "id": the datum, for callbacks of the global list
};
// An event at the record's 2D cursor: its window, image size and plane filled in.
ViewEvent viewEventOf(DataRecord& record);
// Delivers the event to the callbacks of the datum, then to those of the global list
// (called with identifier 0; the key "id" names the datum). The value of the last
// call, 0 when none ran.
int fireViewEvent(DataRecord& record, const std::string& name, const ViewEvent& event);

// "IMAGE_UPDATE": the window shows a newly built display of the datum.
int fireImageUpdate(DataRecord& record);
// "MSG_HOOK": a key pressed in the window, its code as "wparam" and the key-state word
// of its modifiers (mouseKeyState) as "lparam".
int fireMessageHook(DataRecord& record, int key, int keyState);

} // namespace vexa
