// The window of an audio datum: the waveform of its samples.
#pragma once

class QWidget;

namespace vexa {
struct DataRecord;
}

namespace vexa::gui {

// The window content for record, or null when the record cannot be shown (the
// caller then shows its title).
QWidget* makeAudioWindow(DataRecord& record);

} // namespace vexa::gui
