// Windows of the data kinds other than images and 3D views, each built by its own
// subsystem's gui/ folder.
#pragma once

class QWidget;

namespace vexa {
struct DataRecord;
}

namespace vexa::gui {

// The content of record's window by its kind, or null when the kind has no window
// of its own yet.
QWidget* makeKindWindow(DataRecord& record);

} // namespace vexa::gui
