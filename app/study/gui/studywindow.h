// The window of a study datum: its seismic and data trees.
#pragma once

class QWidget;

namespace vexa {
struct DataRecord;
}

namespace vexa::gui {

// The window content for record, or null when the record cannot be shown (the
// caller then shows its title).
QWidget* makeStudyWindow(DataRecord& record);

} // namespace vexa::gui
