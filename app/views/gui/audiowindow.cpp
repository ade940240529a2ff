#include "views/gui/audiowindow.h"

namespace vexa::gui {

QWidget* makeAudioWindow(DataRecord&)
{
    return nullptr;
}

} // namespace vexa::gui
