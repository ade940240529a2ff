#include "scene/gui/animplayer.h"

#include <QMdiSubWindow>
#include <QMenu> // view3dwidget.h reads a QPointer<QMenu> inline

#include "scene/animscene.h"
#include "scene/gui/view3dwidget.h"

namespace vexa::gui {

void installAnimationPlayer()
{
    scene::setAnimViewResizer([](DataRecord& record, int width, int height) {
        auto* frame = static_cast<QWidget*>(record.window.load());
        auto* sub = qobject_cast<QMdiSubWindow*>(frame);
        auto* window = sub ? qobject_cast<View3dWindow*>(sub->widget()) : nullptr;
        if (!window || !window->view())
            return;
        // The frame keeps its borders and toolbar: only the drawing area changes.
        const QSize area = window->view()->size();
        sub->resize(sub->size() - area + QSize(width, height));
    });
}

} // namespace vexa::gui
