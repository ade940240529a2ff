// The main window offscreen: a freshly opened image is at once the active one, new
// windows stay inside the area, "Traitements" is greyed while empty, and quitting with
// computed results never saved asks first.
#include "data/registry.h"
#include "display/gui/correctionwindow.h"
#include "main/gui/mainwindow.h"
#include "main/gui/startup.h"
#include "main/mainmenus.h"
#include "menus/actionhistory.h"
#include "vexa_types.h"
#include "vexafile.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <vector>

using namespace vexa;
using namespace vexa::gui;

namespace {

// A U16 GDR file of w x h x d samples 1000 + x: all white at gain 1.
QString writeWideVolume(const QTemporaryDir& dir, int w, int h, int d)
{
    const QString path = dir.filePath(QStringLiteral("large.gdr"));
    FileDescriptor* desc = vexaFileNew();
    vexaFileSetFullName(desc, path.toUtf8().constData());
    vexaFileSetSizes(desc, w, h, d);
    vexaFileSetTypeData(desc, TYPEDATA_U16);
    vexaFileSetNbBits(desc, 16);
    vexaFileSetHeader(desc, 1);
    vexaFileWriteHeader(desc);
    std::vector<std::uint16_t> plane(std::size_t(w) * std::size_t(h));
    for (std::size_t i = 0; i < plane.size(); ++i)
        plane[i] = std::uint16_t(1000 + i % std::size_t(w));
    for (int z = 0; z < d; ++z)
        vexaFileWriteImage(desc, plane.data(), 0, z);
    vexaFileRelease(desc);
    return path;
}

// Answers the next modal message box with button, keeping its text.
void answerNextBox(QMessageBox::StandardButton button, QString* text)
{
    QTimer::singleShot(0, [button, text] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            *text = box->text();
            box->button(button)->click();
        }
    });
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        QVERIFY(dir_.isValid());
        const QString config = dir_.filePath(QStringLiteral("empty.xml"));
        QFile file(config);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<?xml version=\"1.0\"?>\n<CONFIG/>\n");
        file.close();
        station_ = std::make_unique<Workstation>(
            QStringLiteral(VEXA_BIN_DIR), QStringLiteral("-config %1").arg(config));
        station_->show();
    }
    void cleanup()
    {
        station_->shutdown();
        station_.reset();
    }

    void openedImageIsActiveAtOnceAndStartsWithItsRange()
    {
        MainWindow& main = station_->mainWindow();
        main.resize(760, 420);
        QVERIFY(main.openDataFile(writeWideVolume(dir_, 100, 80, 3)));
        const std::vector<DataRecord*> all = dataListAll();
        QCOMPARE(int(all.size()), 1);
        // Commands on "the active image" reach it without switching windows first.
        QCOMPARE(dataActiveImage(), all.front());
        main.runCommand(menus::kCmdCorrection);
        CorrectionWindow* correction = correctionWindow();
        QVERIFY(correction);
        QCOMPARE(correction->correction().state().active, 1);
        QCOMPARE(correction->correction().state().gain, 255.0 / 99.0);
        correction->close();

        // The window fits inside the area, however large its image's display.
        QMdiSubWindow* sub = main.dataArea()->activeSubWindow();
        QVERIFY(sub);
        QVERIFY(main.dataArea()->viewport()->rect().contains(sub->geometry()));
    }

    void processingMenuIsGreyedWhileEmpty()
    {
        int found = 0;
        for (QAction* action : station_->mainWindow().menuBar()->actions())
            if (action->text() == QStringLiteral("Traitements")) {
                ++found;
                QVERIFY(action->menu()->isEmpty()); // no library loaded
                QVERIFY(!action->isEnabled());
            }
        QCOMPARE(found, 1);
    }

    void quittingWithUnsavedResultsAsksOnce()
    {
        MainWindow& main = station_->mainWindow();
        auto object = std::make_unique<ImageObject>();
        object->image->samples.allocate(512 * 512);
        DataRecord* result = dataCreate(DATA_IMAGE, std::move(object), nullptr, kFreshId, kFreshId);
        QVERIFY(result);
        QVERIFY(!MainWindow::hasUnsavedResults()); // made by hand, not by a calculation
        result->shownByTask = 1;
        QVERIFY(MainWindow::hasUnsavedResults());

        QString asked;
        answerNextBox(QMessageBox::No, &asked);
        main.runCommand(menus::kCmdQuit);
        QCOMPARE(asked,
            QString::fromUtf8("Des résultats ne sont pas sauvegardés. Quitter quand même ?"));
        QVERIFY(main.isVisible());

        asked.clear();
        answerNextBox(QMessageBox::Yes, &asked);
        main.runCommand(menus::kCmdQuit);
        QVERIFY(!asked.isEmpty());
        QVERIFY(!main.isVisible());
    }

    void resultsArePlacedInTurnAndBuiltInCommandsRepeat()
    {
        MainWindow& main = station_->mainWindow();
        menus::clearActions();
        QVERIFY(main.openDataFile(writeWideVolume(dir_, 8, 6, 2)));
        main.runMenuCommand(menus::kCmdMultitask); // toggles are not actions
        main.runMenuCommand(menus::kCmdMultitask);
        main.runMenuCommand(1101); // "Valeur Absolue" of the active image
        QTRY_COMPARE(int(dataListAll().size()), 2);
        main.runCommand(menus::kCmdLastAction);
        QTRY_COMPARE(int(dataListAll().size()), 3);
        const auto actions = menus::recordedActions();
        QCOMPARE(int(actions.size()), 1);
        QCOMPARE(actions[0].label, std::string("Valeur Absolue"));

        auto corners = [&main] {
            QList<QPoint> found;
            for (QMdiSubWindow* sub : main.dataArea()->subWindowList())
                if (DataRecord* record = dataFindByWindow(sub); record && record->shownByTask)
                    found << sub->pos();
            return found;
        };
        QTRY_VERIFY(corners().contains(QPoint(100, 100)) && corners().contains(QPoint(124, 124)));
    }

    void placementShrinksAndCascadesWindowsThatDoNotFit()
    {
        const QRect area(0, 0, 400, 300);
        QCOMPARE(
            placeInside(area, QRect(10, 10, 100, 100), QSize(50, 50), 3), QRect(10, 10, 100, 100));
        // Too wide and too high: as large as the area, at its corner.
        QCOMPARE(
            placeInside(area, QRect(350, 0, 900, 700), QSize(240, 80), 2), QRect(0, 0, 400, 300));
        // Off to the right: brought back, cascaded by its index.
        QCOMPARE(
            placeInside(area, QRect(380, 20, 100, 100), QSize(50, 50), 2), QRect(48, 48, 100, 100));
        // Results: the first free step of the cascade from (100, 100).
        QCOMPARE(taskOutputCorner({}), QPoint(100, 100));
        QCOMPARE(taskOutputCorner({ QPoint(100, 100), QPoint(5, 5) }), QPoint(124, 124));
        // Never below the minimum width, even when the area is narrower.
        QCOMPARE(
            placeInside(QRect(0, 0, 200, 300), QRect(0, 0, 500, 100), QSize(240, 80), 0).width(),
            240);
    }

private:
    QTemporaryDir dir_;
    std::unique_ptr<Workstation> station_;
};

QTEST_MAIN(MainWindowTest)
#include "mainwindow_test.moc"
