#include "views/gui/graphwindow.h"

namespace vexa::gui {

QWidget* makeGraphWindow(DataRecord&)
{
    return nullptr;
}

} // namespace vexa::gui
