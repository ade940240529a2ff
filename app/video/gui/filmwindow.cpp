#include "video/gui/filmwindow.h"

namespace vexa::gui {

QWidget* makeFilmWindow(DataRecord&)
{
    return nullptr;
}

} // namespace vexa::gui
