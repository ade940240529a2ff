// The image window, offscreen: zooms, sections and companions of blocks, the status
// bar, mouse modes and the "Conversion" menu.
#include "views/gui/imagewindow.h"

#include "data/block.h"
#include "data/registry.h"
#include "data/section.h"
#include "main/mainmenus.h"
#include "views/imageview.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QSlider>
#include <QStatusBar>
#include <QTest>

#include <memory>

using namespace vexa;
using vexa::gui::ImageWindow;

namespace {

DataRecord* createPlainImage(int w, int h, int type = TYPEDATA_U8)
{
    auto object = std::make_unique<ImageObject>();
    ImageDescriptor& image = *object->image;
    image.width = w;
    image.height = h;
    image.typeData = type;
    image.samples.allocate(std::size_t(w) * std::size_t(h) * std::size_t(vexaTypeSize(type)));
    for (std::size_t i = 0; i < image.samples.size(); ++i)
        image.samples.bytes()[i] = std::uint8_t(i * 7);
    return dataCreate(DATA_IMAGE, std::move(object), nullptr, kFreshId, kFreshId);
}

// Sample (x, y, z) = x + y + z, as U8.
DataRecord* createBlockImage(int dx, int dy, int dz)
{
    auto object = std::make_unique<ImageObject>();
    auto block = std::make_unique<BlockDescriptor>();
    block->dimX = dx;
    block->dimY = dy;
    block->dimZ = dz;
    block->samples.allocate(std::size_t(dx) * dy * dz);
    for (int z = 0; z < dz; ++z)
        for (int y = 0; y < dy; ++y)
            for (int x = 0; x < dx; ++x)
                block->samples.bytes()[(std::size_t(z) * dy + y) * dx + x]
                    = std::uint8_t(x + y + z);
    object->block = std::move(block);
    object->image->samples.reset();
    return dataCreate(DATA_IMAGE, std::move(object), nullptr, kFreshId, kFreshId);
}

QAction* menuAction(QMenu& menu, const QString& text)
{
    for (QAction* a : menu.actions())
        if (a->text() == text)
            return a;
    return nullptr;
}

int gEvents = 0;
int gEventX = -1;
DataRecord* gEventRecord = nullptr;

int countEvent(unsigned int, void*, void*)
{
    ++gEvents;
    dataCallbackGetEvent(gEventRecord, "LBUTTONDOWN", "x_image", &gEventX);
    return 0;
}

int gGlobalEvents = 0;
int gUpdates = 0;

int countGlobal(unsigned int, void*, void*)
{
    ++gGlobalEvents;
    return 0;
}

int countUpdate(unsigned int, void*, void*)
{
    ++gUpdates;
    return 0;
}

} // namespace

class ImageWindowTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { dataResetRegistry(); }

    void initialDisplayFitsAndZoomCommandsStepByPowersOfTwo()
    {
        DataRecord* record = createPlainImage(100, 80);
        QVERIFY(record);
        auto window = std::make_unique<ImageWindow>(*record);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        ImageViewData& view = window->view();
        QCOMPARE(view.zoom.zoomX, 4.0);
        QCOMPARE(window->canvas()->image().size(), QSize(400, 320));
        QVERIFY(window->runCommand(ImageWindow::CmdZoomOut));
        QCOMPARE(view.zoom.zoomX, 2.0);
        // The grid is absent at zoom 2 even when it is on.
        QVERIFY(window->runCommand(ImageWindow::CmdGrid));
        QVERIFY(view.gridOn);
        QVERIFY(gridSegments(view.zoom, view.gridOn).empty());
        QVERIFY(window->runCommand(ImageWindow::CmdZoomIn));
        QVERIFY(!gridSegments(view.zoom, view.gridOn).empty());
        for (int i = 0; i < 12; ++i)
            window->runCommand(ImageWindow::CmdZoomOut);
        QCOMPARE(view.zoom.zoomX, 0.125);
        // Below zoom 1 the buffer keeps the visible size; painting reduces it.
        QCOMPARE(window->canvas()->image().width(), view.zoom.visibleW);
        QVERIFY(!window->canvas()->viewport()->grab().isNull());
        QVERIFY(window->runCommand(ImageWindow::CmdInitial));
        QCOMPARE(view.zoom.zoomX, 4.0);
        QCOMPARE(view.zoom.originX, 0);
        QVERIFY(window->runCommand(ImageWindow::CmdWindowSmaller));
        QCOMPARE(view.zoom.zoomX, 2.0);
    }

    void wideValuesStartWithTheirRangeAndNarrowWindowsKeepTheirBars()
    {
        // 16-bit samples 1000 .. 1000 + 7 x 63: all white at gain 1.
        DataRecord* record = createPlainImage(8, 8, TYPEDATA_U16);
        auto* s = static_cast<std::uint16_t*>(record->image2d()->samples.data());
        for (int i = 0; i < 64; ++i)
            s[i] = std::uint16_t(1000 + 7 * i);
        ImageWindow window(*record);
        window.show();
        QVERIFY(record->image2d()->valueGain < 1.0);
        const QImage shown = window.canvas()->image();
        QCOMPARE(shown.pixelIndex(0, 0), 0);
        QCOMPARE(shown.pixelIndex(shown.width() - 1, shown.height() - 1), 255);
        QVERIFY(!window.statusTexts().isEmpty());
        QVERIFY(!window.findChildren<QStatusBar*>()
                     .front()
                     ->findChildren<QLabel*>()[1]
                     ->toolTip()
                     .isEmpty());

        // A result shown before it is computed takes its range once the values come.
        DataRecord* result = createPlainImage(4, 4, TYPEDATA_F32);
        auto* f = static_cast<float*>(result->image2d()->samples.data());
        std::fill(f, f + 16, 0.0f);
        ImageWindow later(*result);
        QCOMPARE(result->image2d()->valueGain, 1.0);
        for (int i = 0; i < 16; ++i)
            f[i] = -1.0f + 0.01f * float(i);
        later.reload();
        QVERIFY(result->image2d()->valueGain > 1.0);
        QCOMPARE(later.canvas()->image().pixelIndex(0, 0), 0);

        // A 2-wide volume still shows its whole section bar.
        DataRecord* thin = createBlockImage(2, 3, 4);
        ImageWindow volume(*thin);
        volume.show();
        QVERIFY(volume.width() >= volume.layout()->minimumSize().width());
        QVERIFY(volume.minimumWidth() >= 240);
    }

    void togglesRebuildOrRepaint()
    {
        DataRecord* record = createPlainImage(16, 16);
        ImageWindow window(*record);
        window.show();
        const QImage plain = window.canvas()->image();
        QVERIFY(window.runCommand(ImageWindow::CmdInterpolation));
        QCOMPARE(window.view().displayMode, int(DISPLAY_INTERPOLATED));
        QVERIFY(window.canvas()->image() != plain);
        QVERIFY(window.runCommand(ImageWindow::CmdInformation));
        QVERIFY(window.informationWindow()->isVisible());
        window.setCursorShown(true);
        window.view().cursorX = 5;
        window.view().cursorY = 5;
        QVERIFY(window.runCommand(ImageWindow::CmdValues));
        QVERIFY(window.runCommand(ImageWindow::CmdInnerLoupe));
        QVERIFY(!window.canvas()->viewport()->grab().isNull());
        const int before = window.width();
        QVERIFY(window.runCommand(ImageWindow::CmdPalette));
        QVERIFY(window.paletteBar()->isVisible());
        QCOMPARE(window.width(), before + 130);
        QVERIFY(!window.runCommand(ImageWindow::CmdPrint));
    }

    void mouseMovesTheCursorAndFillsTheStatusBar()
    {
        DataRecord* record = createPlainImage(100, 80, TYPEDATA_U8);
        ImageWindow window(*record);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::mouseMove(window.canvas()->viewport(), QPoint(4 * 10 + 1, 4 * 3 + 2));
        QCOMPARE(window.view().cursorX, 10);
        QCOMPARE(window.view().cursorY, 3);
        const QStringList status = window.statusTexts();
        QCOMPARE(status[0], QStringLiteral("8BNS"));
        QCOMPARE(status[1], QStringLiteral("X=00010  Y=00003  (-00089,-00076)"));
        const int v = int(std::uint8_t((3 * 100 + 10) * 7));
        QCOMPARE(status[3], QStringLiteral("%1 (%1)").arg(v));
    }

    void zoomModeAndEventMode()
    {
        DataRecord* record = createPlainImage(64, 64);
        ImageWindow window(*record);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.setMouseMode(MOUSE_ZOOM);
        const double zoom = window.view().zoom.zoomX;
        QTest::mouseClick(window.canvas()->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(window.view().zoom.zoomX, 2 * zoom);
        QTest::mouseClick(window.canvas()->viewport(), Qt::RightButton, {}, QPoint(20, 20));
        QCOMPARE(window.view().zoom.zoomX, zoom);

        window.setMouseMode(MOUSE_EVENTS);
        gEvents = 0;
        gEventRecord = record;
        dataCallbackAdd(record, "LBUTTONDOWN", countEvent, nullptr);
        const int z = int(window.view().zoom.zoomX);
        QTest::mousePress(window.canvas()->viewport(), Qt::LeftButton, {}, QPoint(z * 9 + 1, 3));
        QCOMPARE(gEvents, 1);
        QCOMPARE(gEventX, 9);
        QTest::mouseRelease(window.canvas()->viewport(), Qt::LeftButton, {}, QPoint(z * 9 + 1, 3));
    }

    void modeToolbarGlobalCallbacksRedrawsAndDuplicateKey()
    {
        DataRecord* record = createPlainImage(32, 32);
        ImageWindow window(*record);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* events = window.findChild<QAction*>(QStringLiteral("mode7"));
        auto* plain = window.findChild<QAction*>(QStringLiteral("mode0"));
        QVERIFY(events && plain && plain->isChecked());
        events->trigger();
        QCOMPARE(window.view().mouseMode, int(MOUSE_EVENTS));
        QVERIFY(!plain->isChecked());
        window.setMouseMode(MOUSE_MEASURE); // the toolbar follows
        QVERIFY(window.findChild<QAction*>(QStringLiteral("mode4"))->isChecked());

        gGlobalEvents = gUpdates = 0;
        dataCallbackAdd(nullptr, "RBUTTONDOWN", countGlobal, nullptr);
        dataCallbackAdd(record, "IMAGE_UPDATE", countUpdate, nullptr);
        QTest::mousePress(window.canvas()->viewport(), Qt::RightButton, {}, QPoint(5, 5));
        QTest::mouseRelease(window.canvas()->viewport(), Qt::RightButton, {}, QPoint(5, 5));
        dataCallbackSub(nullptr, "RBUTTONDOWN", countGlobal);
        QCOMPARE(gGlobalEvents, 1);
        window.runCommand(ImageWindow::CmdRedraw);
        window.canvas()->viewport()->repaint();
        QCOMPARE(gUpdates, 1);
        window.canvas()->viewport()->repaint(); // no new display: no new event
        QCOMPARE(gUpdates, 1);

        const std::size_t before = dataListAll().size();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_D, Qt::ControlModifier);
        QCOMPARE(dataListAll().size(), before + 1);
        QCOMPARE(dataListAll().front()->image2d()->width, 32);

        // Alt+S: the separate magnifier, at the window's zoom around the cursor.
        QVERIFY(window.runKeyCommand(menus::kCmdImageKeyAltS));
        auto* loupe = window.findChild<QLabel*>(QStringLiteral("loupeWindow"));
        QVERIFY(loupe && loupe->isVisible());
        QVERIFY(!loupe->pixmap().isNull());
        QVERIFY(window.runKeyCommand(menus::kCmdImageKeyAltS));
        QVERIFY(!loupe->isVisible());
    }

    void conversionMenuConvertsTypesAndSetsClasses()
    {
        DataRecord* record = createPlainImage(8, 8, TYPEDATA_U8);
        ImageWindow window(*record);
        std::unique_ptr<QMenu> menu(window.createConversionMenu());
        QVERIFY(!menuAction(*menu, QStringLiteral("->8BNS")));
        QVERIFY(!menuAction(*menu, QStringLiteral("->CLASS_DEFAULT")));
        QAction* f32 = menuAction(*menu, QStringLiteral("->F32"));
        QVERIFY(f32);
        const std::uint8_t first = record->image2d()->samples.bytes()[9];
        f32->trigger();
        QCOMPARE(record->image2d()->typeData, int(TYPEDATA_F32));
        QCOMPARE(static_cast<const float*>(record->image2d()->samples.data())[9], float(first));
        QCOMPARE(window.statusTexts()[0], QStringLiteral("F32"));

        QAction* label = menuAction(*menu, QStringLiteral("->CLASS_LABEL"));
        QVERIFY(label);
        label->trigger();
        QCOMPARE(record->image2d()->valueClass, int(CLASS_LABEL));
        std::unique_ptr<QMenu> again(window.createConversionMenu());
        QVERIFY(menuAction(*again, QStringLiteral("->CLASS_DEFAULT")));
        QVERIFY(!menuAction(*again, QStringLiteral("->CLASS_LABEL")));
    }

    void blockSectionsFollowComboSliderAndKeys()
    {
        DataRecord* record = createBlockImage(20, 10, 8);
        ImageWindow window(*record);
        window.show();
        BlockDescriptor& block = *record->block();
        QCOMPARE(block.cursorZ, 4);
        auto* planes = window.findChild<QComboBox*>();
        auto* slider = window.findChild<QSlider*>();
        QVERIFY(planes && slider);
        planes->setCurrentIndex(PLANE_RIGHT);
        QCOMPARE(window.plane(), int(PLANE_RIGHT));
        QCOMPARE(record->image2d()->width, 8);
        QCOMPARE(record->position, std::string("RIGHT 00010"));
        QCOMPARE(slider->maximum(), 19);
        slider->setValue(3);
        QCOMPARE(block.cursorX, 3);
        QCOMPARE(record->position, std::string("RIGHT 00003"));
        QVERIFY(window.windowTitle().contains(QStringLiteral("RIGHT 00003")));
        QTest::keyClick(&window, Qt::Key_PageUp);
        QCOMPARE(block.cursorX, 13);
        QTest::keyClick(&window, Qt::Key_Down);
        QCOMPARE(block.cursorX, 12);
        QTest::keyClick(&window, Qt::Key_PageUp);
        QTest::keyClick(&window, Qt::Key_PageUp);
        QCOMPARE(block.cursorX, 19);
        window.showSection(PLANE_TOP, 2);
        QCOMPARE(planes->currentIndex(), int(PLANE_TOP));
        QCOMPARE(record->image2d()->height, 8);
        // Row 0 of TOP is the last z: x + 2 + 7.
        QCOMPARE(int(record->image2d()->samples.bytes()[5]), 5 + 2 + 7);
    }

    void clicksMoveTheBlockCursorAndCompanionsFollow()
    {
        DataRecord* record = createBlockImage(20, 10, 8);
        ImageWindow window(*record);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        vexa::gui::CompanionWindow* right = window.openCompanion(PLANE_RIGHT);
        QVERIFY(right);
        QCOMPARE(right->image().size(), QSize(8, 10));
        const QRgb before = right->image().pixel(0, 0);
        window.setBlockCursorShown(true);
        const int z = int(window.view().zoom.zoomX);
        QTest::mouseClick(
            window.canvas()->viewport(), Qt::LeftButton, {}, QPoint(z * 6 + 1, z * 2 + 1));
        BlockDescriptor& block = *record->block();
        QCOMPARE(block.cursorX, 6);
        QCOMPARE(block.cursorY, 2);
        QCOMPARE(window.statusTexts()[2], QStringLiteral("x=00006  y=00002  z=00004"));
        // The RIGHT companion now shows x = 6: sample (z 0, y 0) = 6.
        QCOMPARE(qGray(right->image().pixel(0, 0)), 6);
        QVERIFY(right->image().pixel(0, 0) != before);
        // A task writes into the block; "Reaffichage" refreshes the companion too.
        std::vector<std::uint8_t> plane(20 * 10, 200);
        QVERIFY(writeSection(block, PLANE_FRONT, 0, 0, 0, plane.data(), 20, 10, TYPEDATA_U8));
        QVERIFY(window.runCommand(ImageWindow::CmdRedraw));
        QCOMPARE(qGray(right->image().pixel(0, 0)), 200);
    }

    void synchronisedWindowsShareZoomAndOrigin()
    {
        DataRecord* a = createPlainImage(300, 300);
        DataRecord* b = createPlainImage(300, 300);
        DataRecord* c = createPlainImage(200, 300);
        ImageWindow wa(*a), wb(*b), wc(*c);
        wa.show();
        wb.show();
        wc.show();
        wb.setSync2d(true);
        wc.setSync2d(true);
        wa.setSync2d(true);
        QVERIFY(wa.runCommand(ImageWindow::CmdZoomIn));
        QCOMPARE(wb.view().zoom.zoomX, wa.view().zoom.zoomX);
        QCOMPARE(wb.view().zoom.originX, wa.view().zoom.originX);
        QVERIFY(wc.view().zoom.zoomX != wa.view().zoom.zoomX);
        wb.setSync2d(false);
        QVERIFY(wa.runCommand(ImageWindow::CmdZoomIn));
        QVERIFY(wb.view().zoom.zoomX != wa.view().zoom.zoomX);
    }
};

QTEST_MAIN(ImageWindowTest)
#include "imagewindow_test.moc"
