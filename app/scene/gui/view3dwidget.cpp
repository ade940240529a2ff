#include "scene/gui/view3dwidget.h"

#include "scene/gui/filmcapturegui.h"
#include "scene/gui/offscreenrenderer.h"
#include "scene/gui/scenerenderer.h"
#include "scene/objectcommands.h"
#include "scene/scene.h"

#include "main/mainmenus.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHash>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLWidget>
#include <QPainter>
#include <QSignalBlocker>
#include <QSurfaceFormat>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <cmath>

namespace vexa::gui {

namespace {

constexpr int kClickSlop = 3; // pixels a click may move and stay a click
// The view counts as still (full-quality frames) this long after its last move.
constexpr int kSettleMs = 250;
constexpr double kPi = 3.14159265358979323846;

// A cell of the 3D view's toolbar strip beside the program, its key colour made clear;
// no icon when the strip is missing.
QIcon stripIcon(int cell)
{
    static const QImage strip = [] {
        QImage image(QDir(QCoreApplication::applicationDirPath())
                         .filePath(QStringLiteral("ressources/BitmapToolBar3d.bmp")));
        return image.convertToFormat(QImage::Format_ARGB32);
    }();
    if (strip.isNull() || strip.width() < 16 * (cell + 1) || strip.height() < 16)
        return {};
    QImage icon = strip.copy(16 * cell, 0, 16, 16);
    icon.setAlphaChannel(icon.createMaskFromColor(qRgb(0, 128, 0), Qt::MaskOutColor));
    return QIcon(QPixmap::fromImage(icon));
}

// Draws the frames straight into the window. Mouse events are left to the window.
class GlCanvas : public QOpenGLWidget {
public:
    GlCanvas(scene::Scene& scene, QWidget* parent)
        : QOpenGLWidget(parent)
        , scene_(scene)
    {
        QSurfaceFormat format;
        format.setVersion(3, 3);
        format.setProfile(QSurfaceFormat::CoreProfile);
        format.setDepthBufferSize(24);
        setFormat(format);
    }
    ~GlCanvas() override
    {
        // The base class destroys the context later and signals it: this part is gone
        // by then.
        if (context())
            disconnect(context(), nullptr, this, nullptr);
        releaseGl();
    }

    void setInteractive(bool interactive) { interactive_ = interactive; }

protected:
    void initializeGL() override
    {
        renderer_ = std::make_unique<SceneRenderer>();
        if (!renderer_->initialize())
            renderer_.reset();
        connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] { releaseGl(); });
    }

    void paintGL() override
    {
        const qreal ratio = devicePixelRatioF();
        if (renderer_)
            renderer_->setInteractive(interactive_);
        if (renderer_)
            renderer_->render(
                scene_, int(std::lround(width() * ratio)), int(std::lround(height() * ratio)));
    }

private:
    void releaseGl()
    {
        if (!renderer_)
            return;
        makeCurrent();
        renderer_.reset();
        doneCurrent();
    }

    scene::Scene& scene_;
    std::unique_ptr<SceneRenderer> renderer_;
    bool interactive_ = false;
};

// Paints frames rendered offscreen, where windows cannot hold a GL widget.
class PictureCanvas : public QWidget {
public:
    PictureCanvas(View3dWidget& view, QWidget* parent)
        : QWidget(parent)
        , view_(view)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const qreal ratio = devicePixelRatioF();
        QImage frame = view_.renderToImage(
            int(std::lround(width() * ratio)), int(std::lround(height() * ratio)));
        if (frame.isNull()) {
            painter.fillRect(rect(), SceneRenderer::background());
            painter.setPen(Qt::white);
            painter.drawText(rect(), Qt::AlignCenter, view_.renderError());
            return;
        }
        frame.setDevicePixelRatio(ratio);
        painter.drawImage(QPoint(0, 0), frame);
    }

private:
    View3dWidget& view_;
};

} // namespace

bool View3dWidget::platformHoldsGlWidgets()
{
    static const QStringList without { "offscreen", "minimal", "minimalegl", "vnc", "linuxfb" };
    return !without.contains(QGuiApplication::platformName());
}

View3dWidget::View3dWidget(std::shared_ptr<scene::Scene> scene, QWidget* parent, Drawing drawing)
    : QWidget(parent)
    , scene_(scene ? std::move(scene) : std::make_shared<scene::Scene>())
{
    setMinimumSize(160, 120);
    direct_
        = drawing == Drawing::Direct || (drawing == Drawing::Automatic && platformHoldsGlWidgets());
    if (direct_)
        canvas_ = new GlCanvas(*scene_, this);
    else
        canvas_ = new PictureCanvas(*this, this);
    // Keys reach the view (and its window) wherever in it the user clicked.
    setFocusPolicy(Qt::StrongFocus);
    canvas_->setFocusPolicy(Qt::NoFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(canvas_);
    // Tasks change the scene from their own threads: repaint later, on this one.
    QWidget* canvas = canvas_;
    scene_->setChangeListener([canvas] {
        QMetaObject::invokeMethod(
            canvas, [canvas] { canvas->update(); }, Qt::QueuedConnection);
    });
    settle_ = new QTimer(this);
    settle_->setSingleShot(true);
    settle_->setInterval(kSettleMs);
    connect(settle_, &QTimer::timeout, this, [this] {
        setMoving(false);
        canvas_->update();
    });
}

void View3dWidget::setMoving(bool moving)
{
    if (moving)
        settle_->start();
    if (moving == moving_)
        return;
    moving_ = moving;
    if (direct_)
        static_cast<GlCanvas*>(canvas_)->setInteractive(moving);
    else if (offscreen_ || moving)
        renderer().setInteractive(moving);
}

OffscreenRenderer& View3dWidget::renderer()
{
    if (!offscreen_)
        offscreen_ = std::make_unique<OffscreenRenderer>();
    return *offscreen_;
}

View3dWidget::~View3dWidget()
{
    // Cleared under the scene lock: once this returns no task can reach this window.
    scene_->setChangeListener({});
}

QImage View3dWidget::renderToImage(int w, int h)
{
    return renderer().render(*scene_, w, h);
}

QString View3dWidget::renderError() const
{
    return offscreen_ ? offscreen_->lastError() : QString();
}

std::uint32_t View3dWidget::objectAt(QPoint position) const
{
    return scene_->pick(position.x() + 0.5, position.y() + 0.5, width(), height());
}

void View3dWidget::mousePressEvent(QMouseEvent* event)
{
    pressPosition_ = lastPosition_ = event->position().toPoint();
    pressButton_ = event->button();
    dragged_ = false;
}

void View3dWidget::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint position = event->position().toPoint();
    if ((position - pressPosition_).manhattanLength() > kClickSlop)
        dragged_ = true;
    if (!dragged_)
        return;
    const QPoint delta = position - lastPosition_;
    lastPosition_ = position;
    scene::Camera camera = scene_->camera();
    const double h = std::max(1, height());
    if (event->buttons() & Qt::LeftButton) {
        // Dragging across the whole height turns the scene half a turn; the scene
        // follows the mouse, so the eye moves the other way.
        camera.rotate(camera.axisY(), -delta.x() * kPi / h);
        camera.rotate(camera.axisX(), -delta.y() * kPi / h);
    } else if (event->buttons() & Qt::RightButton) {
        camera.multiplyZoom(std::exp(-delta.y() * 0.01));
    } else if (event->buttons() & Qt::MiddleButton) {
        // Size of a pixel at the target's depth, so the picture follows the mouse.
        const double distance = scene::length(camera.target() - camera.eye());
        const double pixel = 2 * distance * std::tan(camera.fieldOfView() / 2) / camera.zoom() / h;
        camera.translateOwn(0, -delta.x() * pixel);
        camera.translateOwn(1, delta.y() * pixel);
    } else {
        return;
    }
    setMoving(true);
    scene_->setCamera(camera);
}

void View3dWidget::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint position = event->position().toPoint();
    const bool click = !dragged_ && event->button() == pressButton_;
    pressButton_ = Qt::NoButton;
    if (!click)
        return;
    const std::uint32_t id = objectAt(position);
    if (event->button() == Qt::LeftButton) {
        scene_->selectObject(id);
        emit objectSelected(id);
    } else if (event->button() == Qt::RightButton) {
        if (id)
            scene_->selectObject(id);
        openMenu(id, mapToGlobal(position));
    }
}

void View3dWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        scene_->resetCamera();
}

void View3dWidget::wheelEvent(QWheelEvent* event)
{
    const double steps = event->angleDelta().y() / 120.0;
    if (steps != 0) {
        setMoving(true);
        scene_->multiplyZoom(std::pow(1.1, steps));
    }
    event->accept();
}

void View3dWidget::openMenu(std::uint32_t id, QPoint globalPosition)
{
    if (menu_)
        menu_->close();
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    if (id) {
        std::vector<std::string> info, commands;
        scene_->readObject(id, [&](const scene::SceneObject& object) {
            info = scene::objectInfoLines(object);
            commands = scene::objectCommands(object);
        });
        for (const std::string& line : info)
            menu->addAction(QString::fromStdString(line))->setEnabled(false);
        if (!commands.empty())
            menu->addSeparator();
        for (const std::string& command : commands) {
            const QString label = QString::fromStdString(command);
            connect(menu->addAction(label), &QAction::triggered, this,
                [this, id, label] { emit objectCommandRequested(id, label); });
        }
    } else {
        const QString shapes = QString::fromUtf8(scene::kShapeCommandLabel);
        connect(menu->addAction(shapes), &QAction::triggered, this,
            [this, shapes] { emit objectCommandRequested(0, shapes); });
        connect(menu->addAction(QStringLiteral("Informations Scène")), &QAction::triggered, this,
            [this] {
                auto* box = new QMessageBox(QMessageBox::Information,
                    QStringLiteral("Informations Scène"),
                    QStringLiteral("Nombre total d'objects : %1\nNombre total de facettes : %2")
                        .arg(scene_->objectCount())
                        .arg(scene_->facetCount()),
                    QMessageBox::Ok, this);
                box->setAttribute(Qt::WA_DeleteOnClose);
                box->open();
            });
    }
    menu_ = menu;
    menu->popup(globalPosition);
}

// The commands the accelerators name are the accelerator table's own numbers.
constexpr bool sameCommand(int command, int key)
{
    return command == key;
}
static_assert(sameCommand(View3dWindow::CmdFront, menus::kCmdView3dKeyF1)
    && sameCommand(View3dWindow::CmdRight, menus::kCmdView3dKeyF2)
    && sameCommand(View3dWindow::CmdTop, menus::kCmdView3dKeyF3)
    && sameCommand(View3dWindow::CmdReset, menus::kCmdView3dKeyF5)
    && sameCommand(View3dWindow::CmdReferenceBox, menus::kCmdView3dKeyF6)
    && sameCommand(View3dWindow::CmdFit, menus::kCmdView3dKeyAltC)
    && sameCommand(View3dWindow::CmdSnapshot, menus::kCmdView3dKeyAltS));

View3dWindow::View3dWindow(
    std::shared_ptr<scene::Scene> scene, QWidget* parent, View3dWidget::Drawing drawing)
    : QWidget(parent)
{
    view_ = new View3dWidget(std::move(scene), this, drawing);
    setFocusProxy(view_);
    buildToolBar();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(tools_);
    layout->addWidget(view_, 1);
}

void View3dWindow::buildToolBar()
{
    tools_ = new QToolBar(this);
    tools_->setIconSize(QSize(16, 16));
    tools_->setFocusPolicy(Qt::NoFocus);
    QHash<int, QString> keys;
    for (const menus::Accelerator& a : menus::view3dAccelerators())
        keys.insert(a.command, QString::fromLatin1(a.key));
    struct Entry {
        int command;
        int icon; // cell of the strip, -1 for text only
        const char* label;
    };
    static const Entry entries[] = {
        { CmdFront, 0, "Vue de face" },
        { CmdRight, 1, "Vue de droite" },
        { CmdTop, 2, "Vue de dessus" },
        { CmdReset, 3, "Caméra initiale" },
        { CmdZoomIn, 4, "Zoom +" },
        { CmdZoomOut, 5, "Zoom -" },
        { CmdFit, 6, "Cadrer" },
        { CmdReferenceBox, 7, "Boîte de référence" },
        { CmdSnapshot, -1, "Capture" },
    };
    for (const Entry& e : entries) {
        const QString label = QString::fromUtf8(e.label);
        const QIcon icon = e.icon >= 0 ? stripIcon(e.icon) : QIcon();
        QAction* action = tools_->addAction(icon, label);
        const QString key = keys.value(e.command);
        action->setToolTip(key.isEmpty() ? label : label + QStringLiteral(" (") + key + ')');
        const int command = e.command;
        connect(action, &QAction::triggered, this, [this, command] { runCommand(command); });
        if (command == CmdReferenceBox) {
            action->setCheckable(true);
            action->setChecked(view_->scene().referenceBoxShown());
            boxAction_ = action;
        }
    }
    recorder_ = new FilmRecorder(view_, this);
    const QString recordLabel = QStringLiteral("Enregistrer un film...");
    recordAction_ = tools_->addAction(recordLabel);
    // A tool button would drop the ellipsis, which tells that a dialog follows.
    recordAction_->setIconText(recordLabel);
    recordAction_->setCheckable(true);
    connect(recordAction_, &QAction::toggled, this, [this](bool on) {
        if (!on) {
            recorder_->end();
        } else if (!recorder_->begin()) {
            // Cancelled or refused: the button goes back up.
            const QSignalBlocker blocker(recordAction_);
            recordAction_->setChecked(false);
        }
    });
    // A film that failed while recording stops by itself: the button follows.
    connect(recorder_, &FilmRecorder::stopped, this, [this] {
        const QSignalBlocker blocker(recordAction_);
        recordAction_->setChecked(false);
    });
}

bool View3dWindow::runCommand(int command)
{
    switch (command) {
    case CmdFront:
        view_->scene().viewFrom(scene::Scene::SIDE_FRONT);
        return true;
    case CmdRight:
        view_->scene().viewFrom(scene::Scene::SIDE_RIGHT);
        return true;
    case CmdTop:
        view_->scene().viewFrom(scene::Scene::SIDE_TOP);
        return true;
    case CmdReset:
        view_->scene().resetCamera();
        return true;
    case CmdFit:
        view_->scene().fitView();
        return true;
    case CmdZoomIn:
        view_->scene().multiplyZoom(1.25);
        return true;
    case CmdZoomOut:
        view_->scene().multiplyZoom(0.8);
        return true;
    case CmdReferenceBox: {
        const bool shown = !view_->scene().referenceBoxShown();
        view_->scene().showReferenceBox(shown);
        const QSignalBlocker blocker(boxAction_);
        boxAction_->setChecked(shown);
        return true;
    }
    case CmdSnapshot:
        saveSnapshot();
        return true;
    default:
        return false;
    }
}

void View3dWindow::saveSnapshot()
{
    const qreal ratio = devicePixelRatioF();
    const QImage frame = view_->renderToImage(
        int(std::lround(view_->width() * ratio)), int(std::lround(view_->height() * ratio)));
    const QString title = QStringLiteral("Capture de la vue 3D");
    if (frame.isNull()) {
        QMessageBox::warning(
            this, title, QStringLiteral("Capture de la vue 3D impossible : pas de rendu OpenGL"));
        return;
    }
    const QString path = QFileDialog::getSaveFileName(
        this, title, QStringLiteral("capture.png"), QStringLiteral("Images (*.png *.bmp *.jpg)"));
    if (path.isEmpty())
        return;
    if (!frame.save(path))
        QMessageBox::warning(this, title,
            QStringLiteral("Impossible d'écrire le fichier %1")
                .arg(QDir::toNativeSeparators(path)));
}

int View3dWindow::commandForKey(const QKeyEvent& event) const
{
    const QKeySequence pressed(event.keyCombination());
    for (const menus::Accelerator& a : menus::view3dAccelerators())
        if (QKeySequence(QString::fromLatin1(a.key)) == pressed)
            return a.command;
    return 0;
}

bool View3dWindow::event(QEvent* event)
{
    // The main window's shortcuts share some of these keys (F6): while the view has
    // the focus its own meaning wins, so the key is taken before shortcuts see it.
    if (event->type() == QEvent::ShortcutOverride
        && commandForKey(*static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

void View3dWindow::keyPressEvent(QKeyEvent* event)
{
    if (const int command = commandForKey(*event); command && runCommand(command)) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace vexa::gui
