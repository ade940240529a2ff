// The 3D view drawn offscreen with OpenGL: object colours where the camera puts them,
// the background elsewhere, a half turn mirroring the picture, picking, the object
// menu, transparency, textures, the reference box and bad geometry.
#include "scene/gui/offscreenrenderer.h"
#include "scene/gui/scenerenderer.h"
#include "scene/gui/view3dwidget.h"
#include "scene/scene.h"
#include "scene/volume.h"

#include "mesh/meshapi.h"
#include "mesh/primitives.h"
#include "support/softball.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <vector>

using namespace vexa::scene;
using vexa::gui::OffscreenRenderer;
using vexa::gui::SceneRenderer;
using vexa::gui::View3dWidget;

namespace {

constexpr int kWidth = 320, kHeight = 240;
constexpr double kPi = 3.14159265358979323846;

// Flat colours without highlights, so that a pixel's dominant channel names its object.
void paint(Scene& scene, std::uint32_t id, double r, double g, double b, double a = 1)
{
    Material m;
    m.diffuse = m.ambient = { r, g, b, a };
    m.specular = { 0, 0, 0, 1 };
    m.specularPower = 0;
    QVERIFY(scene.setMaterial(id, m));
}

std::uint32_t addMesh(Scene& scene, const char* name, TriMesh* mesh)
{
    TriMeshPtr owned(mesh);
    const std::uint32_t id = scene.createObject(name);
    scene.setMesh(id, owned.get());
    return id;
}

// The rectangle (0, 0) .. (w, h) in the plane z, texture coordinates (0, 0) .. (1, 1).
TriMesh* quad(float w, float h, float z)
{
    auto* points = static_cast<float*>(std::malloc(12 * sizeof(float)));
    auto* triangles = static_cast<std::int32_t*>(std::malloc(6 * sizeof(std::int32_t)));
    const float corners[12] = { 0, 0, z, w, 0, z, w, h, z, 0, h, z };
    const std::int32_t indices[6] = { 0, 1, 2, 0, 2, 3 };
    std::copy(corners, corners + 12, points);
    std::copy(indices, indices + 6, triangles);
    return triMeshCreate(points, 4, triangles, 2);
}

struct ThreeShapes {
    std::shared_ptr<Scene> scene = std::make_shared<Scene>();
    std::uint32_t cube = 0, sphere = 0, arrow = 0;
};

// A red cube up left, a green sphere low in the middle, a blue upright arrow on the
// right: nothing is symmetric left to right, everything is front to back.
ThreeShapes threeShapes()
{
    ThreeShapes s;
    Scene& scene = *s.scene;
    s.cube = addMesh(scene, "cube", vexa::mesh::makeCube());
    scene.scaleObject(s.cube, 1.5, 1.5, 1.5);
    scene.translateObject(s.cube, -2.5, 0.8, 0);
    s.sphere = addMesh(scene, "sphere", vexa::mesh::makeSphere(24));
    scene.translateObject(s.sphere, 0, -0.5, 0);
    const double from[3] = { 2, -1.5, 0 }, to[3] = { 2, 1.5, 0 };
    Mesh3d* arrow = vexaMesh3dArrow(from, to, 0.5, 16);
    s.arrow = addMesh(scene, "arrow", vexa::mesh::mesh3dToTriMesh(arrow));
    vexaMesh3dFree(arrow);
    paint(scene, s.cube, 1, 0, 0);
    paint(scene, s.sphere, 0, 1, 0);
    paint(scene, s.arrow, 0, 0, 1);
    scene.resetCamera();
    return s;
}

// 'R', 'G', 'B' for a pixel dominated by that channel, 'K' for the background.
char classify(QRgb p)
{
    const int r = qRed(p), g = qGreen(p), b = qBlue(p);
    if (QColor(p) == SceneRenderer::background())
        return 'K';
    if (r > 40 && g < 20 && b < 20)
        return 'R';
    if (g > 40 && r < 20 && b < 20)
        return 'G';
    if (b > 40 && r < 20 && g < 20)
        return 'B';
    return '?';
}

// Window position of an object's box centre through the current camera.
QPoint projectedCentre(const Scene& scene, std::uint32_t id, int w, int h)
{
    Box box;
    scene.readObject(id, [&](const SceneObject& o) {
        box = transformBox(scene.modelMatrix(o), meshBox(o.mesh.get()));
    });
    const auto p = projectToScreen(scene.projectionView(0, w, h), box.centre(), w, h);
    return p ? QPoint(int(p->x), int(p->y)) : QPoint(-1, -1);
}

} // namespace

class View3dTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void shapesShowTheirColoursOverTheBackground();
    void halfTurnAboutYMirrorsThePicture();
    void pickingFindsTheObjectDrawnThere();
    void clicksSelectAndOpenTheObjectMenu();
    void transparentObjectsBlendOverWhatIsBehind();
    void texturedSliceShowsItsTexels();
    void referenceBoxEdgesLieWhereTheCameraPutsThem();
    void badGeometryAndSizesAreRefusedQuietly();
    void windowDrawsWhatTheSnapshotShows();
    void volumesAreMarchedInsideTheirBox();
    void volumeInFrontOfAnOpaqueObjectStillShows();
    void volumeVariantsAndTurningFramesAgree();
    void toolbarAndAcceleratorsMoveTheCamera();
};

void View3dTest::initTestCase()
{
    OffscreenRenderer probe;
    Scene empty;
    if (probe.render(empty, 4, 4).isNull())
        QSKIP(qPrintable("OpenGL 3.3 indisponible : " + probe.lastError()));
}

void View3dTest::shapesShowTheirColoursOverTheBackground()
{
    ThreeShapes s = threeShapes();
    OffscreenRenderer renderer;
    const QImage image = renderer.render(*s.scene, kWidth, kHeight);
    QCOMPARE(image.size(), QSize(kWidth, kHeight));
    QCOMPARE(image.format(), QImage::Format_RGBA8888);
    const std::pair<std::uint32_t, char> expected[]
        = { { s.cube, 'R' }, { s.sphere, 'G' }, { s.arrow, 'B' } };
    for (const auto& [id, colour] : expected) {
        const QPoint p = projectedCentre(*s.scene, id, kWidth, kHeight);
        QCOMPARE(classify(image.pixel(p)), colour);
    }
    for (QPoint corner : { QPoint(0, 0), QPoint(kWidth - 1, 0), QPoint(0, kHeight - 1),
             QPoint(kWidth - 1, kHeight - 1), QPoint(kWidth / 2, 2) })
        QCOMPARE(classify(image.pixel(corner)), 'K');
    // Lit from the eye: the sphere's rim is darker than its middle.
    const QPoint middle = projectedCentre(*s.scene, s.sphere, kWidth, kHeight);
    const int centreGreen = qGreen(image.pixel(middle));
    QVERIFY(centreGreen > 240);
    int darkest = 255;
    for (int x = middle.x(); x < kWidth && classify(image.pixel(x, middle.y())) == 'G'; ++x)
        darkest = std::min(darkest, qGreen(image.pixel(x, middle.y())));
    QVERIFY(darkest < centreGreen - 60);
}

void View3dTest::halfTurnAboutYMirrorsThePicture()
{
    ThreeShapes s = threeShapes();
    OffscreenRenderer renderer;
    const QImage front = renderer.render(*s.scene, kWidth, kHeight);
    s.scene->rotateCamera(1, kPi);
    const QImage back = renderer.render(*s.scene, kWidth, kHeight);
    int differing = 0, objectPixels = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const char a = classify(front.pixel(x, y));
            objectPixels += a != 'K';
            differing += a != classify(back.pixel(kWidth - 1 - x, y));
        }
    QVERIFY(objectPixels > kWidth * kHeight / 10);
    // Only silhouette pixels may differ (tessellation and rasterisation rules).
    QVERIFY2(differing < objectPixels / 50, qPrintable(QString::number(differing)));
    // And the picture did change: the cube is now on the right.
    const QPoint cube = projectedCentre(*s.scene, s.cube, kWidth, kHeight);
    QVERIFY(cube.x() > kWidth / 2);
    QCOMPARE(classify(back.pixel(cube)), 'R');
}

void View3dTest::pickingFindsTheObjectDrawnThere()
{
    ThreeShapes s = threeShapes();
    s.scene->rotateCamera(0, 0.4);
    s.scene->multiplyZoom(1.3);
    View3dWidget widget(s.scene);
    widget.resize(kWidth, kHeight);
    const QImage image = widget.renderToImage(kWidth, kHeight);
    const std::pair<std::uint32_t, char> expected[]
        = { { s.cube, 'R' }, { s.sphere, 'G' }, { s.arrow, 'B' } };
    for (const auto& [id, colour] : expected) {
        const QPoint p = projectedCentre(*s.scene, id, kWidth, kHeight);
        QCOMPARE(widget.objectAt(p), id);
        QCOMPARE(classify(image.pixel(p)), colour);
    }
    QCOMPARE(widget.objectAt(QPoint(1, 1)), 0u);
}

void View3dTest::clicksSelectAndOpenTheObjectMenu()
{
    ThreeShapes s = threeShapes();
    View3dWidget widget(s.scene);
    widget.resize(kWidth, kHeight);
    QSignalSpy selected(&widget, &View3dWidget::objectSelected);
    QSignalSpy commands(&widget, &View3dWidget::objectCommandRequested);
    const QPoint sphere = projectedCentre(*s.scene, s.sphere, kWidth, kHeight);

    QTest::mouseClick(&widget, Qt::LeftButton, {}, sphere);
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.at(0).at(0).toUInt(), s.sphere);
    QCOMPARE(s.scene->selectedObject(), s.sphere);
    // The selected object is highlighted: no longer pure green.
    const QImage highlighted = widget.renderToImage(kWidth, kHeight);
    QVERIFY(qRed(highlighted.pixel(sphere)) > 60);

    QTest::mouseClick(&widget, Qt::RightButton, {}, sphere);
    QMenu* menu = widget.contextMenu();
    QVERIFY(menu);
    QStringList labels;
    QAction* smoothing = nullptr;
    for (QAction* action : menu->actions()) {
        labels << action->text();
        if (action->text() == "Lissage")
            smoothing = action;
    }
    for (const char* label : { "Translation", "Affinité", "Lissage", "Séparation", "Simplification",
             "Reconditionnement", "Sauvegarde", "Ajouter une texture 3D" })
        QVERIFY2(labels.contains(QString::fromUtf8(label)), label);
    QVERIFY(!labels.contains(QString::fromUtf8("Déconditionnement")));
    QVERIFY(labels.contains("Nom : sphere"));
    QVERIFY(smoothing);
    smoothing->trigger();
    QCOMPARE(commands.count(), 1);
    QCOMPARE(commands.at(0).at(0).toUInt(), s.sphere);
    QCOMPARE(commands.at(0).at(1).toString(), QString("Lissage"));

    // A drag turns the camera instead of clicking.
    const Vec3 eye = s.scene->camera().eye();
    QTest::mousePress(&widget, Qt::LeftButton, {}, QPoint(10, 10));
    QMouseEvent move(QEvent::MouseMove, QPointF(60, 10), widget.mapToGlobal(QPointF(60, 10)),
        Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &move);
    QTest::mouseRelease(&widget, Qt::LeftButton, {}, QPoint(60, 10));
    QCOMPARE(selected.count(), 1);
    QVERIFY(length(s.scene->camera().eye() - eye) > 0.1);
    QTest::mouseDClick(&widget, Qt::LeftButton, {}, QPoint(10, 10));
    QVERIFY(length(s.scene->camera().eye() - eye) < 1e-9);
}

void View3dTest::transparentObjectsBlendOverWhatIsBehind()
{
    Scene scene;
    // The transparent pane comes first in the scene: drawing in scene order would hide
    // the cube behind it.
    const std::uint32_t pane = addMesh(scene, "pane", quad(2, 2, 1));
    scene.translateObject(pane, -1, -1, 0);
    const std::uint32_t cube = addMesh(scene, "cube", vexa::mesh::makeCube());
    paint(scene, pane, 0, 0, 1);
    scene.setTransparency(pane, 0.5);
    paint(scene, cube, 1, 0, 0);
    // Emissive only, so the expected blend does not depend on the lighting.
    scene.editObject(pane, [](SceneObject& o) {
        o.material.diffuse = o.material.ambient = { 0, 0, 0, 1 };
        o.material.emissive = { 0, 0, 1, 1 };
        return false;
    });
    scene.editObject(cube, [](SceneObject& o) {
        o.material.diffuse = o.material.ambient = { 0, 0, 0, 1 };
        o.material.emissive = { 1, 0, 0, 1 };
        return false;
    });
    scene.resetCamera();
    OffscreenRenderer renderer;
    const QImage image = renderer.render(scene, kWidth, kHeight);
    const QRgb p = image.pixel(kWidth / 2, kHeight / 2);
    QVERIFY2(std::abs(qRed(p) - 128) < 4 && std::abs(qBlue(p) - 128) < 4 && qGreen(p) < 4,
        qPrintable(QColor(p).name()));
}

void View3dTest::texturedSliceShowsItsTexels()
{
    Scene scene;
    const std::uint32_t slice = addMesh(scene, "FRONT", quad(2, 1, 0));
    QCOMPARE(scene.setType(slice, OBJECT_SLICE), 1);
    const std::uint8_t texels[] = { 10, 200, 30, 255, 250, 120, 5, 255 };
    const float uv[] = { 0, 0, 1, 0, 1, 1, 0, 1 };
    QCOMPARE(scene.setTexture(slice, texels, 2, 1), 1);
    QCOMPARE(scene.setTexCoords(slice, uv, 4), 1);
    QCOMPARE(scene.setWrapping(slice, WRAP_CLAMP), 1);
    scene.resetCamera();
    OffscreenRenderer renderer;
    const QImage image = renderer.render(scene, kWidth, kHeight);
    const Mat4 pv = scene.projectionView(0, kWidth, kHeight);
    const auto left = projectToScreen(pv, { 0.5, 0.5, 0 }, kWidth, kHeight);
    const auto right = projectToScreen(pv, { 1.5, 0.5, 0 }, kWidth, kHeight);
    QCOMPARE(QColor(image.pixel(int(left->x), int(left->y))), QColor(10, 200, 30));
    QCOMPARE(QColor(image.pixel(int(right->x), int(right->y))), QColor(250, 120, 5));
}

void View3dTest::referenceBoxEdgesLieWhereTheCameraPutsThem()
{
    Scene scene;
    scene.setReferenceBox(40, 20, 10);
    scene.showReferenceBox(true);
    scene.resetCamera();
    scene.rotateCamera(1, 0.5);
    scene.rotateCamera(0, 0.3);
    OffscreenRenderer renderer;
    const QImage image = renderer.render(scene, kWidth, kHeight);
    const Mat4 pv = scene.projectionView(0, kWidth, kHeight);
    auto lineNear = [&](Vec3 p) {
        const auto s = projectToScreen(pv, p, kWidth, kHeight);
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (QColor(image.pixel(int(s->x) + dx, int(s->y) + dy))
                    == SceneRenderer::referenceBoxColour())
                    return true;
        return false;
    };
    // Middles of three edges; no edge crosses the picture of the box's centre.
    QVERIFY(lineNear({ 20, 0, 0 }));
    QVERIFY(lineNear({ 40, 10, 10 }));
    QVERIFY(lineNear({ 0, 20, 5 }));
    QVERIFY(!lineNear({ 20, 10, 5 }));
}

void View3dTest::badGeometryAndSizesAreRefusedQuietly()
{
    Scene scene;
    OffscreenRenderer renderer;
    // An empty scene gives the background.
    const QImage empty = renderer.render(scene, 16, 16);
    QCOMPARE(QColor(empty.pixel(8, 8)), SceneRenderer::background());
    QVERIFY(renderer.render(scene, 0, 16).isNull());
    QVERIFY(renderer.render(scene, 20000, 20000).isNull());
    QVERIFY(!renderer.lastError().isEmpty());

    // A mesh whose points are all NaN draws nothing next to a sound one.
    TriMeshPtr broken(vexa::mesh::makeCube());
    for (int i = 0; i < broken->nbPoints * 3; ++i)
        broken->points[i] = std::numeric_limits<float>::quiet_NaN();
    const std::uint32_t nan = scene.createObject("nan");
    QCOMPARE(scene.setMesh(nan, broken.get()), 1);
    paint(scene, nan, 1, 0, 0);
    const std::uint32_t sphere = addMesh(scene, "sphere", vexa::mesh::makeSphere(12));
    paint(scene, sphere, 0, 1, 0);
    // A texture of 2 GiB is refused and the object keeps drawing.
    std::uint8_t texel[4] = {};
    QCOMPARE(scene.setTexture(sphere, texel, 32768, 16384), 0);
    scene.resetCamera();
    const QImage image = renderer.render(scene, kWidth, kHeight);
    int red = 0, green = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            red += classify(image.pixel(x, y)) == 'R';
            green += classify(image.pixel(x, y)) == 'G';
        }
    QCOMPARE(red, 0);
    QVERIFY(green > 1000);
}

void View3dTest::windowDrawsWhatTheSnapshotShows()
{
    std::vector<View3dWidget::Drawing> modes { View3dWidget::Drawing::Pictures };
    if (View3dWidget::platformHoldsGlWidgets())
        modes.push_back(View3dWidget::Drawing::Direct);
    for (View3dWidget::Drawing mode : modes) {
        ThreeShapes s = threeShapes();
        View3dWidget widget(s.scene, nullptr, mode);
        widget.resize(kWidth, kHeight);
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));
        QCOMPARE(widget.drawsDirectly(), mode == View3dWidget::Drawing::Direct);
        const QPoint p = projectedCentre(*s.scene, s.sphere, kWidth, kHeight);
        auto shown = [&] { return widget.grab().toImage().convertToFormat(QImage::Format_RGB32); };
        QCOMPARE(classify(shown().pixel(p)), 'G');
        QCOMPARE(classify(shown().pixel(0, 0)), 'K');
        // A change of the scene repaints the window.
        s.scene->setTransparency(s.sphere, 1);
        QTRY_COMPARE(classify(shown().pixel(p)), 'K');
    }
}

// A float volume opaque red in its left half and clear in its right half, beside a
// byte volume of solid green moved by its box, with a blue square hiding part of it.
void View3dTest::volumesAreMarchedInsideTheirBox()
{
    constexpr int n = 16;
    std::vector<float> values(std::size_t(n) * n * n);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = int(i % n) < n / 2 ? 1.f : 0.f;
    const auto red = volumeFromFloats(
        values.data(), n, n, n, { { 0, 0, 0, 0, 0 }, { 0.5, 0, 0, 0, 0 }, { 1, 1, 0, 0, 1 } });
    QVERIFY(red);
    auto green = std::make_shared<Volume>();
    green->nx = green->ny = green->nz = 4;
    for (int i = 0; i < 64; ++i)
        green->rgba.insert(green->rgba.end(), { 0, 255, 0, 255 });

    Scene scene;
    const std::uint32_t a = scene.createObject("rouge", OBJECT_VOLUME);
    const std::uint32_t b = scene.createObject("vert", OBJECT_VOLUME);
    QCOMPARE(scene.setVolume(a, red), 1);
    QCOMPARE(scene.setVolume(b, green), 1);
    QCOMPARE(scene.setVolumeBox(b, { 20, 0, 0 }, { 16, 16, 16 }), 1);
    const std::uint32_t front = addMesh(scene, "devant", quad(4, 4, 20));
    scene.translateObject(front, 26, 6, 0);
    paint(scene, front, 0, 0, 1);
    scene.resetCamera();

    OffscreenRenderer renderer;
    const QImage image = renderer.render(scene, kWidth, kHeight);
    QVERIFY(!image.isNull());
    const Mat4 pv = scene.projectionView(0, kWidth, kHeight);
    auto at = [&](Vec3 p) {
        const auto s = projectToScreen(pv, p, kWidth, kHeight);
        return s ? classify(image.pixel(int(s->x), int(s->y))) : '-';
    };
    QCOMPARE(at({ 3, 8, 8 }), 'R');
    QCOMPARE(at({ 13, 8, 8 }), 'K'); // clear voxels leave the background
    QCOMPARE(at({ 23, 3, 8 }), 'G');
    QCOMPARE(at({ 33, 13, 8 }), 'G');
    QCOMPARE(at({ 28, 8, 16 }), 'B'); // an opaque object in front hides the volume
    for (QPoint corner : { QPoint(0, 0), QPoint(kWidth - 1, kHeight - 1) })
        QCOMPARE(classify(image.pixel(corner)), 'K');

    // Seen from inside its box the volume still draws, from the eye on.
    Camera inside = scene.camera();
    QVERIFY(inside.set({ 4, 8, 12 }, { 4, 8, 0 }, { 0, 1, 0 }));
    scene.setCamera(inside);
    const QImage within = renderer.render(scene, kWidth, kHeight);
    QCOMPARE(classify(within.pixel(kWidth / 2, kHeight / 2)), 'R');
}

// A translucent red volume with an opaque blue square half way through: the square
// shows tinted by the half of the volume before it, also in the coarse frames drawn
// while the view turns.
void View3dTest::volumeInFrontOfAnOpaqueObjectStillShows()
{
    auto haze = std::make_shared<Volume>();
    haze->nx = haze->ny = haze->nz = 16;
    for (int i = 0; i < 16 * 16 * 16; ++i)
        haze->rgba.insert(haze->rgba.end(), { 255, 0, 0, 40 });
    Scene scene;
    const std::uint32_t id = scene.createObject("brume", OBJECT_VOLUME);
    QCOMPARE(scene.setVolume(id, haze), 1);
    const std::uint32_t inside = addMesh(scene, "dedans", quad(6, 6, 8));
    scene.translateObject(inside, 5, 5, 0);
    paint(scene, inside, 0, 0, 1);
    scene.resetCamera();

    OffscreenRenderer renderer;
    for (bool moving : { false, true }) {
        renderer.setInteractive(moving);
        const QImage image = renderer.render(scene, kWidth, kHeight);
        QVERIFY(!image.isNull());
        const Mat4 pv = scene.projectionView(0, kWidth, kHeight);
        auto pixel = [&](Vec3 p) {
            const auto at = projectToScreen(pv, p, kWidth, kHeight);
            return at ? image.pixel(int(at->x), int(at->y)) : QRgb(0);
        };
        const QRgb square = pixel({ 8, 8, 8 }), beside = pixel({ 13, 13, 8 });
        QVERIFY2(qBlue(square) > 40 && qRed(square) > 40, moving ? "moving" : "still");
        QVERIFY(qRed(beside) > qRed(square) && qBlue(beside) < 20);
        QCOMPARE(classify(image.pixel(0, 0)), 'K');
    }
}

// A soft ball of translucent voxels, as floats looked up in a transfer function while
// marching and as the same density classified beforehand into bytes: both ways, still
// and while turning (half the resolution, two voxels a step), show the same picture
// up to what the coarser sampling changes, whether shaders or the processor march.
void View3dTest::volumeVariantsAndTurningFramesAgree()
{
    constexpr int side = 160;
    const auto [floats, bytes] = vexatest::softBall(
        48, { { 0, 0, 0, 0, 0 }, { 0.5, 0.2, 0.4, 1, 0.05 }, { 1, 1, 0.9, 0.6, 0.4 } });
    QVERIFY(floats);

    OffscreenRenderer renderer;
    QImage pictures[2][2]; // [bytes][turning]
    QImage marchers[2][2][2]; // [bytes][turning][processor]
    for (int kind = 0; kind < 2; ++kind) {
        Scene scene;
        const std::uint32_t id = scene.createObject("boule", OBJECT_VOLUME);
        QCOMPARE(scene.setVolume(id, kind ? std::shared_ptr<const Volume>(bytes) : floats), 1);
        scene.resetCamera();
        // Oblique, so that no sample grid lines up with the voxels.
        scene.rotateCamera(0, 0.3);
        scene.rotateCamera(1, 0.5);
        for (int turning = 0; turning < 2; ++turning) {
            renderer.setInteractive(turning);
            pictures[kind][turning] = renderer.render(scene, side, side);
            QVERIFY(!pictures[kind][turning].isNull());
            // The processor's march and the shaders' draw the same picture.
            OffscreenRenderer shaders, processor;
            shaders.setMarchOnProcessor(false);
            processor.setMarchOnProcessor(true);
            shaders.setInteractive(turning);
            processor.setInteractive(turning);
            marchers[kind][turning][0] = shaders.render(scene, side, side);
            marchers[kind][turning][1] = processor.render(scene, side, side);
        }
    }
    auto meanDifference = [](const QImage& a, const QImage& b) {
        double sum = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x) {
                const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
                sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q))
                    + std::abs(qBlue(p) - qBlue(q));
            }
        return sum / (3.0 * a.width() * a.height());
    };
    for (const auto& kind : pictures) {
        const QColor middle = kind[0].pixel(side / 2, side / 2);
        QVERIFY2(middle.blue() > 150 && middle.red() > 80, qPrintable(middle.name()));
        QCOMPARE(classify(kind[0].pixel(0, 0)), 'K');
        const double turning = meanDifference(kind[0], kind[1]);
        QVERIFY2(turning < 0.5, qPrintable(QString::number(turning)));
    }
    const double variants = meanDifference(pictures[0][0], pictures[1][0]);
    QVERIFY2(variants < 0.5, qPrintable(QString::number(variants)));
    for (const auto& kind : marchers)
        for (const auto& pair : kind) {
            const double d = meanDifference(pair[0], pair[1]);
            QVERIFY2(d < 0.1, qPrintable(QString::number(d)));
        }
}

void View3dTest::toolbarAndAcceleratorsMoveTheCamera()
{
    ThreeShapes s = threeShapes();
    vexa::gui::View3dWindow window(s.scene, nullptr, View3dWidget::Drawing::Pictures);
    QStringList labels;
    for (QAction* action : window.toolBar()->actions())
        labels << action->text();
    for (const char* label : { "Vue de face", "Vue de droite", "Vue de dessus", "Caméra initiale",
             "Cadrer", "Boîte de référence", "Capture" })
        QVERIFY2(labels.contains(QString::fromUtf8(label)), label);

    auto seenFrom = [&] {
        const Camera c = s.scene->camera();
        return normalised(c.eye() - c.target());
    };
    // Keys pressed in the view reach the window's accelerators; the sides are seen as
    // the image window shows its sections (y down).
    QTest::keyClick(window.view(), Qt::Key_F2);
    QVERIFY(std::abs(seenFrom().x - 1) < 1e-9);
    QTest::keyClick(window.view(), Qt::Key_F3);
    QVERIFY(std::abs(seenFrom().y + 1) < 1e-9);
    QTest::keyClick(window.view(), Qt::Key_F1);
    QVERIFY(std::abs(seenFrom().z + 1) < 1e-9);

    QVERIFY(!s.scene->referenceBoxShown());
    QTest::keyClick(window.view(), Qt::Key_F6);
    QVERIFY(s.scene->referenceBoxShown());
    QAction* box
        = window.toolBar()->actions().at(labels.indexOf(QString::fromUtf8("Boîte de référence")));
    QVERIFY(box->isChecked());
    box->trigger();
    QVERIFY(!s.scene->referenceBoxShown());

    // Framing keeps the direction the scene is seen from; the initial camera does not.
    s.scene->rotateCamera(1, 0.7);
    s.scene->multiplyZoom(5);
    const Vec3 before = seenFrom();
    QTest::keyClick(window.view(), Qt::Key_C, Qt::AltModifier);
    QVERIFY(length(seenFrom() - before) < 1e-9);
    QCOMPARE(s.scene->camera().zoom(), 1.0);
    QTest::keyClick(window.view(), Qt::Key_F5);
    QVERIFY(std::abs(seenFrom().z - 1) < 1e-9);
    QVERIFY(!window.runCommand(999));
}

QTEST_MAIN(View3dTest)
#include "view3d_test.moc"
