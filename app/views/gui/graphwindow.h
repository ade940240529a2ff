// The window of a graph datum, which draws its graphs.
#pragma once

class QWidget;

namespace vexa {
struct DataRecord;
}

namespace vexa::gui {

// The window content for record, or null when the record cannot be shown (the
// caller then shows its title).
QWidget* makeGraphWindow(DataRecord& record);

} // namespace vexa::gui
