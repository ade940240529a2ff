// The window of a View 3D record: draws its scene with OpenGL and turns the mouse into
// camera moves. Left drag turns the scene (trackball), right drag or the wheel zooms,
// middle drag pans, a double click frames the scene again. A left click selects the
// object under the mouse; a right click opens that object's menu (or the view's own
// menu over the background).
//
// Frames are drawn by a QOpenGLWidget inside the window. Platforms whose windows cannot
// hold one (offscreen, minimal, vnc, linuxfb) get the same frames rendered offscreen
// and painted as pictures, so the window works wherever a GL context can be made.
//
// Opening it for a record: `new View3dWidget(view3dObject->scene)` where view3dObject
// is the record's scene::View3dObject (DataRecord::view3d).
#pragma once

#include <QImage>
#include <QPoint>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <memory>

class QMenu;

namespace vexa::scene {
class Scene;
}

namespace vexa::gui {

class OffscreenRenderer;

class View3dWidget : public QWidget {
    Q_OBJECT
public:
    enum class Drawing { Automatic, Direct, Pictures };
    explicit View3dWidget(std::shared_ptr<scene::Scene> scene, QWidget* parent = nullptr,
        Drawing drawing = Drawing::Automatic);
    ~View3dWidget() override;

    scene::Scene& scene() const { return *scene_; }
    // The scene as this window would show it in a width x height frame, rendered
    // offscreen (RGBA8888); null when OpenGL is unavailable or the size is refused.
    QImage renderToImage(int width, int height);
    QString renderError() const;
    // Object under a point of the window, 0 when none.
    std::uint32_t objectAt(QPoint position) const;
    // The menu opened by the last right click, while it is open.
    QMenu* contextMenu() const { return menu_; }
    // True when frames go straight to an OpenGL widget.
    bool drawsDirectly() const { return direct_; }
    static bool platformHoldsGlWidgets();

signals:
    void objectSelected(quint32 id);
    // A command of an object's menu ("Translation", "Lissage", ...).
    void objectCommandRequested(quint32 id, const QString& command);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void openMenu(std::uint32_t id, QPoint globalPosition);

    std::shared_ptr<scene::Scene> scene_;
    std::unique_ptr<OffscreenRenderer> offscreen_;
    QWidget* canvas_ = nullptr;
    bool direct_ = false;
    QPointer<QMenu> menu_;
    QPoint pressPosition_, lastPosition_;
    Qt::MouseButton pressButton_ = Qt::NoButton;
    bool dragged_ = false;
};

} // namespace vexa::gui
