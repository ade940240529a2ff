// The mesh workflow through the real workstation: a volume opened, the iso-surface
// extraction run from its menu and dialog, then the object's menu in the 3D view
// smoothing the surface and saving it as STL, and the view's menu placing shapes.
#include "data/registry.h"
#include "main/gui/mainwindow.h"
#include "main/gui/startup.h"
#include "mesh/meshformats.h"
#include "mesh/shapecommand.h"
#include "params/gui/paramdialogwidget.h"
#include "scene/gui/offscreenrenderer.h"
#include "scene/gui/view3dwidget.h"
#include "scene/objectcommands.h"
#include "scene/scene.h"
#include "tasks/workerthread.h"
#include "vexa_types.h"
#include "vexafile.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

using namespace vexa;
using namespace vexa::gui;

namespace {

// A 24³ U8 volume: 200 inside a ball of radius 7, 0 elsewhere, so the default level
// (127) gives one closed surface.
QString writeBall(const QTemporaryDir& dir)
{
    constexpr int n = 24;
    const QString path = dir.filePath(QStringLiteral("boule.gdr"));
    FileDescriptor* desc = vexaFileNew();
    vexaFileSetFullName(desc, path.toUtf8().constData());
    vexaFileSetSizes(desc, n, n, n);
    vexaFileSetTypeData(desc, TYPEDATA_U8);
    vexaFileSetNbBits(desc, 8);
    vexaFileSetHeader(desc, 1);
    vexaFileWriteHeader(desc);
    std::vector<unsigned char> plane(std::size_t(n) * n);
    const double c = (n - 1) / 2.0;
    for (int z = 0; z < n; ++z) {
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x)
                plane[std::size_t(y) * n + x] = std::hypot(x - c, y - c, z - c) <= 7.0 ? 200 : 0;
        vexaFileWriteImage(desc, plane.data(), 0, z);
    }
    vexaFileRelease(desc);
    return path;
}

QString writeConfig(const QTemporaryDir& dir)
{
    const QString path = dir.filePath(QStringLiteral("empty.xml"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write("<?xml version=\"1.0\"?>\n<CONFIG/>\n");
    return path;
}

QAction* findAction(const QList<QAction*>& actions, const QString& label)
{
    for (QAction* action : actions) {
        if (action->text() == label)
            return action;
        if (action->menu())
            if (QAction* found = findAction(action->menu()->actions(), label))
                return found;
    }
    return nullptr;
}

std::vector<std::string> objectNames(const scene::Scene& s)
{
    std::vector<std::string> names;
    for (std::uint32_t id : s.objectIds())
        s.readObject(id, [&](const scene::SceneObject& o) { names.push_back(o.name); });
    return names;
}

int triangleCount(const scene::Scene& s, std::uint32_t id)
{
    int count = -1;
    s.readObject(id, [&](const scene::SceneObject& o) {
        if (o.mesh)
            count = int(o.mesh->nbTriangles);
    });
    return count;
}

// The point of the view nearest its middle where the object is drawn.
QPoint pointOn(const View3dWidget& view, std::uint32_t id)
{
    const QPoint middle(view.width() / 2, view.height() / 2);
    QPoint best(-1, -1);
    for (int y = 0; y < view.height(); y += 3)
        for (int x = 0; x < view.width(); x += 3)
            if (view.objectAt({ x, y }) == id
                && (best.x() < 0
                    || (QPoint(x, y) - middle).manhattanLength()
                        < (best - middle).manhattanLength()))
                best = { x, y };
    return best;
}

} // namespace

class MeshWorkflowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        OffscreenRenderer probe;
        scene::Scene empty;
        if (probe.render(empty, 4, 4).isNull())
            QSKIP(qPrintable("OpenGL 3.3 indisponible : " + probe.lastError()));
        QVERIFY(dir_.isValid());
        station_ = std::make_unique<Workstation>(
            QStringLiteral(VEXA_BIN_DIR), QStringLiteral("-config %1").arg(writeConfig(dir_)));
        station_->show();
        station_->mainWindow().resize(1000, 800);
        // Boxes are answered as a user would: each parameter dialog gets the current
        // step's values and OK; an alert fails the step that shows it.
        connect(&answerer_, &QTimer::timeout, this, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* dialog = qobject_cast<ParamDialogWidget*>(modal)) {
                ++dialogs_;
                if (fill_)
                    fill_(*dialog);
                dialog->okButton()->click();
            } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                alerts_ << box->text();
                box->close();
            }
        });
        answerer_.start(10);
        // A chooser opens from within the answer to a dialog, while that timer's slot
        // still runs: another timer answers it.
        connect(&chooser_, &QTimer::timeout, this, [this] {
            if (auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                files->selectFile(fileChoice_);
                static_cast<QDialog*>(files)->accept(); // as its button does
            }
        });
        chooser_.start(10);
    }
    void cleanupTestCase()
    {
        answerer_.stop();
        chooser_.stop();
        if (station_)
            station_->shutdown();
        station_.reset();
    }

    void extractionSmoothingAndSavingThroughTheView();

private:
    // Right-clicks the object in the view and picks label in its menu.
    void runFromObjectMenu(View3dWidget& view, std::uint32_t id, const QString& label)
    {
        const QPoint at = pointOn(view, id);
        QVERIFY2(at.x() >= 0, "objet absent de la vue");
        QTest::mouseClick(&view, Qt::RightButton, {}, at);
        QPointer<QMenu> menu = view.contextMenu();
        QVERIFY(menu);
        QAction* action = findAction(menu->actions(), label);
        QVERIFY2(action, qPrintable(label));
        action->trigger();
        if (menu)
            menu->close();
    }

    QTemporaryDir dir_;
    std::unique_ptr<Workstation> station_;
    QTimer answerer_;
    QTimer chooser_;
    QString fileChoice_;
    std::function<void(ParamDialogWidget&)> fill_;
    int dialogs_ = 0;
    QStringList alerts_;
};

void MeshWorkflowTest::extractionSmoothingAndSavingThroughTheView()
{
    MainWindow& main = station_->mainWindow();
    QVERIFY(main.openDataFile(writeBall(dir_)));
    QMdiSubWindow* imageWindow = main.dataArea()->subWindowList().front();
    DataRecord* image = dataFindByWindow(imageWindow);
    QVERIFY(image);

    // "Traitement 3D" > "Extraction de surface de niveau", its dialog validated as shown.
    QMenuBar* bar = main.dataMenuBar(imageWindow);
    QVERIFY(bar);
    QAction* extraction
        = findAction(bar->actions(), QStringLiteral("Extraction de surface de niveau"));
    QVERIFY(extraction);
    extraction->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(main.dataArea()->subWindowList().size(), 2, 15000);
    QVERIFY(
        taskWaitForWorkers([] { QCoreApplication::processEvents(); }, std::chrono::seconds(15)));
    QCOMPARE(dialogs_, 1);
    QVERIFY2(alerts_.isEmpty(), qPrintable(alerts_.join(" | ")));

    DataRecord* viewRecord = dataFindView3dOf(image);
    QVERIFY(viewRecord && viewRecord != image);
    auto* view3d = dynamic_cast<scene::View3dObject*>(viewRecord->kindObject());
    QVERIFY(view3d);
    const std::shared_ptr<scene::Scene> scene = view3d->scene;
    QTRY_COMPARE(scene->objectCount(), 1);
    QCOMPARE(objectNames(*scene), std::vector<std::string> { "extract_surface_out" });
    const std::uint32_t surface = scene->objectIds().front();
    QVERIFY(triangleCount(*scene, surface) > 100);

    auto* viewWindow = static_cast<QMdiSubWindow*>(viewRecord->window.load());
    QVERIFY(viewWindow);
    View3dWidget* view = viewWindow->findChild<View3dWidget*>();
    QVERIFY(view);
    QTRY_VERIFY(view->width() > 50 && view->height() > 50);

    // "Lissage" with the coefficient its box proposes replaces the surface.
    runFromObjectMenu(*view, surface, QStringLiteral("Lissage"));
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(dialogs_, 2);
    QVERIFY2(alerts_.isEmpty(), qPrintable(alerts_.join(" | ")));
    QCOMPARE(objectNames(*scene), std::vector<std::string> { "smooth_1" });
    const std::uint32_t smooth = scene->objectIds().front();
    QVERIFY(smooth != surface);
    QCOMPARE(scene->readObject(surface, [](const scene::SceneObject&) {}), 0);

    // "Sauvegarde" as binary STL; the file reads back with every triangle.
    // A new name, as the save chooser accepts.
    const QString stl = dir_.filePath(QStringLiteral("lisse.stl"));
    fileChoice_ = stl;
    fill_ = [](ParamDialogWidget& dialog) {
        dialog.findChildren<QComboBox*>().front()->setCurrentIndex(
            int(mesh::MeshSaveFormat::StlBinary));
        // The name field is read-only: the name comes from the chooser.
        for (QPushButton* button : dialog.findChildren<QPushButton*>())
            if (button->text() == QStringLiteral("Choix"))
                button->click();
    };
    runFromObjectMenu(*view, smooth, QStringLiteral("Sauvegarde"));
    if (QTest::currentTestFailed())
        return;
    fill_ = nullptr;
    QCOMPARE(dialogs_, 3);
    QVERIFY2(alerts_.isEmpty(), qPrintable(alerts_.join(" | ")));
    TriMesh* back = mesh::readMeshFile(stl.toUtf8().constData(), nullptr);
    QVERIFY2(back, mesh::lastMeshError().c_str());
    const int saved = int(back->nbTriangles);
    triMeshFree(&back);
    QCOMPARE(saved, triangleCount(*scene, smooth));
    QCOMPARE(scene->objectCount(), 1);

    // The view's own menu: "Formes..." with a Mosaïque of three cubes along x about
    // Ox = 5, the boxes proposing these remembered values and validated as shown.
    mesh::ShapeSettings shape = mesh::shapeSettings();
    shape.kind = mesh::ShapeKind::Cube;
    shape.position = { 5, 0, 0 };
    shape.grid = true;
    shape.axes[0] = { 3, 10.0, 0.0 };
    shape.axes[1] = shape.axes[2] = { 1, 10.0, 0.0 };
    mesh::keepShapeCommandValues(shape);
    runFromObjectMenu(*view, 0, QString::fromUtf8(scene::kShapeCommandLabel));
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(dialogs_, 5);
    QVERIFY2(alerts_.isEmpty(), qPrintable(alerts_.join(" | ")));
    QCOMPARE(scene->objectCount(), 4);
    std::vector<double> centres;
    for (std::uint32_t id : scene->objectIds())
        scene->readObject(id, [&](const scene::SceneObject& o) {
            if (o.name == "synthesis" && o.mesh && o.mesh->nbPoints == 8)
                centres.push_back((o.mesh->boxMin[0] + o.mesh->boxMax[0]) / 2.0);
        });
    std::sort(centres.begin(), centres.end());
    QCOMPARE(centres.size(), std::size_t(3));
    QCOMPARE(centres[0], -5.0);
    QCOMPARE(centres[1], 5.0);
    QCOMPARE(centres[2], 15.0);
}

QTEST_MAIN(MeshWorkflowTest)
#include "meshworkflow_test.moc"
