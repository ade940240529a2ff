#include "study/gui/studywindow.h"

namespace vexa::gui {

QWidget* makeStudyWindow(DataRecord&)
{
    return nullptr;
}

} // namespace vexa::gui
