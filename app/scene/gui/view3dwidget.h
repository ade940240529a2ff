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
#include <QMenu>
#include <QPoint>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <memory>

class QAction;
class QKeyEvent;
class QTimer;
class QToolBar;

namespace vexa::scene {
class Scene;
}

namespace vexa::gui {

class FilmRecorder;
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
    // True from a camera move by the mouse until the view has been still a moment:
    // frames with volumes are then drawn faster and coarser.
    bool moving() const { return moving_; }

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
    void setMoving(bool moving);
    OffscreenRenderer& renderer();

    std::shared_ptr<scene::Scene> scene_;
    std::unique_ptr<OffscreenRenderer> offscreen_;
    QWidget* canvas_ = nullptr;
    bool direct_ = false;
    QPointer<QMenu> menu_;
    QPoint pressPosition_, lastPosition_;
    Qt::MouseButton pressButton_ = Qt::NoButton;
    bool dragged_ = false;
    bool moving_ = false;
    QTimer* settle_ = nullptr;
};

// The window of a View 3D record: the view below a toolbar of camera commands, the
// reference box and a snapshot. The 3D view's keyboard accelerators run the same
// commands while the window has the focus: F1, F2, F3 views from the front, the right
// and the top, F5 the initial camera, F6 the reference box, Alt+C framing, Alt+S the
// snapshot. "Enregistrer un film..." records the view into a film until toggled off.
class View3dWindow : public QWidget {
    Q_OBJECT
public:
    explicit View3dWindow(std::shared_ptr<scene::Scene> scene, QWidget* parent = nullptr,
        View3dWidget::Drawing drawing = View3dWidget::Drawing::Automatic);

    // Commands, numbered as the accelerators where they have one.
    enum Command {
        CmdFront = 20,
        CmdRight = 21,
        CmdTop = 22,
        CmdReset = 42,
        CmdReferenceBox = 43,
        CmdFit = 12,
        CmdSnapshot = 13,
        CmdZoomIn = 1001,
        CmdZoomOut = 1002,
    };
    // False for an unknown command.
    bool runCommand(int command);
    View3dWidget* view() const { return view_; }
    QToolBar* toolBar() const { return tools_; }
    // Saves the current frame, at the view's size, to a file the user picks.
    void saveSnapshot();
    FilmRecorder* filmRecorder() const { return recorder_; }
    QAction* recordAction() const { return recordAction_; }

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildToolBar();
    // The accelerator's command for a key, 0 when it is none of them.
    int commandForKey(const QKeyEvent& event) const;

    View3dWidget* view_ = nullptr;
    QToolBar* tools_ = nullptr;
    QAction* boxAction_ = nullptr;
    FilmRecorder* recorder_ = nullptr;
    QAction* recordAction_ = nullptr;
};

} // namespace vexa::gui
