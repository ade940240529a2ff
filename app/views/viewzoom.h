// Zoom and visible part of a record's image view, changed under the image's lock so
// that a task replacing the samples (and rebuilding the display) never meets a view
// half updated. The window calls these, then rebuilds, resizes and synchronises.
#pragma once

#include "views/imageview.h"

#include <functional>
#include <optional>

namespace vexa {

enum class ViewZoom { In, Out, Initial, WindowLarger, WindowSmaller };

// First display of a window: the image size is taken again and zooms that fit it are
// chosen; without a client area yet the whole image is visible. A block image shows
// its FRONT section (the one it was created with) with the block cursor on it.
void startView(DataRecord& record);

// "Grandissement x2" / "/2" (around point when given), "Affichage initial",
// "Fenêtre agrandie" / "réduite". False when nothing changed ("Affichage initial"
// always changes). The window then resizes itself (all but In and Out) and calls
// refreshVisible.
bool zoomView(DataRecord& record, ViewZoom command, std::optional<ImagePoint> point = std::nullopt);

// Recomputes the visible part for the current client area.
void refreshVisible(DataRecord& record);

// Moves the origin (limited to the image), then recomputes the visible part.
void panView(DataRecord& record, int originX, int originY);

// A new client area of width x height pixels (at least 1 x 1 is kept).
void resizeView(DataRecord& record, int width, int height);

// "Synchronisation 2D": when both views have the flag set and show images of the same
// size, `to` takes the origin, visible sizes and zooms of `from`. False, nothing
// changed, otherwise (and for the same record).
bool synchroniseView(DataRecord& from, DataRecord& to);

// Runs fn on the display buffer while the image's lock is held (the window copies it).
void withDisplay(DataRecord& record, const std::function<void(const DisplayBitmap&)>& fn);

} // namespace vexa
