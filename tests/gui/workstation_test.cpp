// The workstation's widgets, driven offscreen: start-up, opening from the command
// line, the parameter dialog, worker requests, the log window and the task title.
#include "data/registry.h"
#include "log/logmodel.h"
#include "main/gui/logwindow.h"
#include "main/gui/mainwindow.h"
#include "main/gui/startup.h"
#include "params/gui/paramdialogwidget.h"
#include "params/paramapi.h"
#include "plugins/libraries.h"
#include "tasks/workerthread.h"
#include "vexa_types.h"
#include "vexafile.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <thread>

#include <atomic>
#include <cstring>
#include <vector>

using namespace vexa;
using namespace vexa::gui;

namespace {

// Writes a small U8 GDR volume whose sample (x, y, z) is x + y + z.
QString writeVolume(const QTemporaryDir& dir, int w, int h, int d)
{
    const QString path = dir.filePath(QStringLiteral("cube.gdr"));
    FileDescriptor* desc = vexaFileNew();
    vexaFileSetFullName(desc, path.toUtf8().constData());
    vexaFileSetSizes(desc, w, h, d);
    vexaFileSetTypeData(desc, TYPEDATA_U8);
    vexaFileSetNbBits(desc, 8);
    vexaFileSetHeader(desc, 1);
    vexaFileWriteHeader(desc);
    std::vector<unsigned char> plane(std::size_t(w) * h);
    for (int z = 0; z < d; ++z) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                plane[std::size_t(y) * w + x] = static_cast<unsigned char>(x + y + z);
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

// The modal dialog shown now, if any.
ParamDialogWidget* activeParamDialog()
{
    return qobject_cast<ParamDialogWidget*>(QApplication::activeModalWidget());
}

} // namespace

class WorkstationTest : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        QVERIFY(dir_.isValid());
        const QString line = QStringLiteral("-config %1").arg(writeConfig(dir_));
        station_ = std::make_unique<Workstation>(QStringLiteral(VEXA_BIN_DIR), line);
    }
    void cleanup()
    {
        station_->shutdown();
        station_.reset();
    }

    void startsWithTheFourMenusAndTheTitle()
    {
        station_->show();
        MainWindow& main = station_->mainWindow();
        QCOMPARE(main.windowTitle(), QStringLiteral("Vexa"));
        QStringList menus;
        for (QAction* action : main.menuBar()->actions())
            menus << action->text();
        QCOMPARE(menus,
            (QStringList { QStringLiteral("Importation"), QStringLiteral("Traitements"),
                QStringLiteral("Librairies"), QString::fromUtf8("Fenêtres") }));
        QVERIFY(main.acceptDrops());
    }

    void opensTheFileOfTheCommandLine()
    {
        const QString volume = writeVolume(dir_, 9, 7, 5);
        station_->mainWindow().handleCommandLine(QStringLiteral("-in %1").arg(volume));
        QCOMPARE(station_->mainWindow().dataArea()->subWindowList().size(), 1);
        DataRecord* record = dataActiveImage() ? dataActiveImage() : dataListAll().front();
        QVERIFY(record->block());
        QCOMPARE(record->block()->dimZ, 5);
        // The shown section is the middle FRONT plane: sample (x, y) = x + y + 2.
        ImageDescriptor* image = record->image2d();
        QCOMPARE(image->width, 9);
        QCOMPARE(int(image->samples.bytes()[3 * 9 + 4]), 4 + 3 + 2);
    }

    void dataWindowsCarryTheirMenuBars()
    {
        MainWindow& main = station_->mainWindow();
        const QString volume = writeVolume(dir_, 9, 7, 5);
        QVERIFY(main.openDataFile(volume));
        QTemporaryDir flatDir;
        const QString flat = writeVolume(flatDir, 6, 4, 1);
        QVERIFY(main.openDataFile(flat));
        const auto windows = main.dataArea()->subWindowList();
        QCOMPARE(windows.size(), 2);
        auto labels = [&](QMdiSubWindow* window) {
            QStringList texts;
            QMenuBar* bar = main.dataMenuBar(window);
            if (bar)
                for (QAction* action : bar->actions())
                    texts << action->text();
            return texts;
        };
        QCOMPARE(labels(windows[0]),
            (QStringList { QStringLiteral("Exportation"), QStringLiteral("Traitement 2D"),
                QStringLiteral("Traitement 3D") }));
        QCOMPARE(labels(windows[1]),
            (QStringList { QStringLiteral("Exportation"), QStringLiteral("Traitement 2D") }));
        // The export menu offers the save commands; the processing menus start with the
        // built-in commands.
        QMenuBar* bar = main.dataMenuBar(windows[1]);
        QMenu* exportMenu = bar->actions().front()->menu();
        QCOMPARE(exportMenu->actions().size(), 2);
        QCOMPARE(
            exportMenu->actions().front()->text(), QString::fromUtf8("Sauvegarder une donnée..."));
        QCOMPARE(exportMenu->actions().back()->text(), QStringLiteral("Matlab"));
        QVERIFY(exportMenu->menuAction()->isEnabled());
        QStringList builtIn;
        for (QAction* action : bar->actions()[1]->menu()->actions())
            builtIn << action->text();
        QCOMPARE(builtIn,
            (QStringList { QString::fromUtf8("Opérateurs Unaires"),
                QString::fromUtf8("Opérateurs Binaires"), QStringLiteral("Transformations") }));
        // Menus are rebuilt with the main bar and go with their window.
        main.rebuildMenus();
        QCOMPARE(labels(windows[1]).size(), 2);
        windows[1]->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(main.dataArea()->subWindowList().size(), 1);
        main.rebuildMenus();
    }

    void builtInOperatorRunsFromTheImageMenu()
    {
        MainWindow& main = station_->mainWindow();
        QVERIFY(main.openDataFile(writeVolume(dir_, 6, 4, 1)));
        QMdiSubWindow* window = main.dataArea()->subWindowList().front();
        QMenu* unary = nullptr;
        for (QAction* action : main.dataMenuBar(window)->actions()[1]->menu()->actions())
            if (action->text() == QString::fromUtf8("Opérateurs Unaires"))
                unary = action->menu();
        QVERIFY(unary);
        QAction* opposite = nullptr;
        for (QAction* action : unary->actions())
            if (action->text() == QString::fromUtf8("Opposé"))
                opposite = action;
        QVERIFY(opposite);
        opposite->trigger();
        // The task runs on a worker; its result opens as a second window.
        QTRY_COMPARE_WITH_TIMEOUT(main.dataArea()->subWindowList().size(), 2, 10000);
        QVERIFY(taskWaitForWorkers(
            [] { QCoreApplication::processEvents(); }, std::chrono::seconds(10)));
        DataRecord* result = dataFindByWindow(main.dataArea()->subWindowList().back());
        QVERIFY(result && result->image2d());
        const ImageDescriptor& image = *result->image2d();
        QCOMPARE(image.typeData, int(TYPEDATA_F64));
        QCOMPARE(image.width, 6);
        const double* samples = reinterpret_cast<const double*>(image.samples.bytes());
        QCOMPARE(samples[2 * 6 + 5], -7.0); // -(x + y + z) at x 5, y 2
    }

    void configuredLibrariesLoadAndInsertTheirMenus()
    {
        // A configuration naming the sample plug-in and a library that does not exist:
        // the missing one is reported, the other one's menu reaches the image windows.
        const QString samples = QStringLiteral(VEXA_BIN_DIR "/plugins/vexa_exemples.so");
        const QString config = dir_.filePath(QStringLiteral("libraries.xml"));
        QFile file(config);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(
            QStringLiteral("<CONFIG><LIBRARY><PATH>%1</PATH><PATH>%2</PATH></LIBRARY></CONFIG>\n")
                .arg(dir_.filePath(QStringLiteral("absent.so")), samples)
                .toUtf8());
        file.close();
        station_->shutdown();
        station_.reset();
        QStringList shown;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&shown] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown << box->windowTitle() + QStringLiteral("|") + box->text();
                box->close();
            }
        });
        closer.start(10);
        station_ = std::make_unique<Workstation>(
            QStringLiteral(VEXA_BIN_DIR), QStringLiteral("-config %1").arg(config));
        closer.stop();
        QCOMPARE(shown,
            QStringList { QString::fromUtf8("Erreur de chargement|Librairie non valide !") });
        QCOMPARE(plugins::loadedLibraries(), std::vector<std::string> { samples.toStdString() });

        MainWindow& main = station_->mainWindow();
        QVERIFY(main.openDataFile(writeVolume(dir_, 6, 4, 1)));
        QMdiSubWindow* window = main.dataArea()->subWindowList().front();
        QMenuBar* bar = main.dataMenuBar(window);
        QVERIFY(bar);
        QAction* menu2d = bar->actions()[1];
        QCOMPARE(menu2d->text(), QStringLiteral("Traitement 2D"));
        QVERIFY(menu2d->isEnabled());
        QStringList popups;
        for (QAction* action : menu2d->menu()->actions())
            popups << action->text();
        QCOMPARE(popups.back(), QStringLiteral("Exemples"));

        // Unloading takes the menu out again.
        plugins::unloadAllCommand();
        QVERIFY(!main.dataMenuBar(window)->actions()[1]->menu()->actions().isEmpty());
        QVERIFY(main.dataMenuBar(window)->actions()[1]->menu()->actions().back()->text()
            != QStringLiteral("Exemples"));
    }

    void unreadableFileShowsTheErrorAndKeepsRunning()
    {
        QTimer::singleShot(0, [] {
            if (QWidget* box = QApplication::activeModalWidget())
                box->close();
        });
        QVERIFY(!station_->mainWindow().openDataFile(dir_.filePath(QStringLiteral("missing.gdr"))));
        QCOMPARE(station_->mainWindow().dataArea()->subWindowList().size(), 0);
    }

    void dialogValidatesTypedValues()
    {
        int count = 3;
        double gain = 1.0;
        char name[1000] = "avant";
        int choice = 0;
        int flag = 0;
        QTimer::singleShot(0, [] {
            ParamDialogWidget* dialog = activeParamDialog();
            QVERIFY(dialog);
            QCOMPARE(dialog->windowTitle(), QString::fromUtf8("Paramètre(s)"));
            dialog->fieldOf(0)->setText(QStringLiteral(" -42 "));
            dialog->fieldOf(1)->setText(QStringLiteral("1,5E-3"));
            dialog->fieldOf(2)->setText(QStringLiteral("après"));
            dialog->findChildren<QComboBox*>().front()->setCurrentIndex(2);
            dialog->findChildren<QCheckBox*>().front()->click();
            // Escape does not close the dialog; Enter validates.
            QTest::keyClick(dialog, Qt::Key_Escape);
            QVERIFY(dialog->isVisible());
            QTest::keyClick(dialog, Qt::Key_Return);
        });
        const int result
            = dozBoxParameterPlugin("Nombre%dGain%fNom%s%nChoix%tUn,Deux,,Trois%lCoche%c", &count,
                &gain, name, &choice, &flag);
        QCOMPARE(result, 1);
        QCOMPARE(count, -42);
        QCOMPARE(gain, 0.0015);
        QCOMPARE(QString::fromUtf8(name), QString::fromUtf8("après"));
        QCOMPARE(choice, 2);
        QCOMPARE(flag, 1);
    }

    void fieldsThatDoNotReadKeepTheirValues()
    {
        int count = 7;
        double gain = 2.5;
        QTimer::singleShot(0, [] {
            ParamDialogWidget* dialog = activeParamDialog();
            QVERIFY(dialog);
            dialog->fieldOf(0)->setText(QStringLiteral("12a"));
            dialog->fieldOf(1)->setText(QStringLiteral("+1"));
            dialog->okButton()->click();
        });
        QCOMPARE(dozBoxParameter("N%dG%f", &count, &gain), 1);
        QCOMPARE(count, 7);
        QCOMPARE(gain, 2.5);
        // An emptied real field reads as 0; a closed dialog writes nothing back.
        QTimer::singleShot(0, [] {
            ParamDialogWidget* dialog = activeParamDialog();
            dialog->fieldOf(1)->setText(QString());
            dialog->okButton()->click();
        });
        QCOMPARE(dozBoxParameter("N%dG%f", &count, &gain), 1);
        QCOMPARE(gain, 0.0);
        QTimer::singleShot(0, [] {
            ParamDialogWidget* dialog = activeParamDialog();
            dialog->fieldOf(0)->setText(QStringLiteral("99"));
            dialog->close();
        });
        QCOMPARE(dozBoxParameter("N%dG%f", &count, &gain), 0);
        QCOMPARE(count, 7);
    }

    void workerTaskGetsItsDialogAnswer()
    {
        station_->show();
        taskSetMultitask(true);
        std::atomic<int> answer { -1 };
        std::atomic<int> value { 5 };
        TaskCommand command;
        command.name = "Test";
        command.builtin = [&] {
            int local = value;
            answer = dozBoxParameter("Valeur%d", &local);
            value = local;
        };
        // The dialog runs its own loop on this thread: answer it from a timer.
        QTimer answerer;
        bool seen = false;
        connect(&answerer, &QTimer::timeout, this, [&] {
            if (ParamDialogWidget* dialog = activeParamDialog()) {
                seen = true;
                dialog->fieldOf(0)->setText(QStringLiteral("17"));
                dialog->okButton()->click();
            }
        });
        answerer.start(10);
        QVERIFY(taskStartCommand(std::move(command)));
        QTRY_COMPARE(answer.load(), 1);
        QVERIFY(seen);
        QCOMPARE(value.load(), 17);
        QTRY_COMPARE(taskRunningWorkers(), 0);
    }

    void titleCountsRunningTasks()
    {
        station_->show();
        taskSetMultitask(true);
        std::atomic<bool> release { false };
        for (int i = 0; i < 2; ++i) {
            TaskCommand command;
            command.name = "Attente";
            command.builtin = [&] {
                while (!release)
                    QThread::msleep(5);
            };
            QVERIFY(taskStartCommand(std::move(command)));
        }
        QTRY_COMPARE(taskRunningWorkers(), 2);
        // A worker counts once its task exists, just after its thread starts.
        QTRY_VERIFY((station_->mainWindow().refreshTitle(),
            station_->mainWindow().windowTitle() == QStringLiteral("2 Calculs en cours...")));
        release = true;
        QTRY_COMPARE(taskRunningWorkers(), 0);
        station_->mainWindow().refreshTitle();
        QCOMPARE(station_->mainWindow().windowTitle(), QStringLiteral("Vexa"));
    }

    void logWindowShowsChannelsAndButtonsAct()
    {
        LogWindow* window = station_->mainWindow().logWindow();
        window->resize(500, 400);
        window->show();
        auto& log = log::messageLog();
        log.command(log::kCommandClear);
        log::logLine(0, "zéro");
        log::logLine(1, "un");
        QTRY_VERIFY(window->shownLines().contains(QString::fromUtf8("zéro")));
        window->channelBox()->setCurrentIndex(1);
        QTRY_VERIFY(window->shownLines().contains(QStringLiteral("un")));
        QVERIFY(!window->shownLines().contains(QString::fromUtf8("zéro")));
        // "Effacer" empties channel 0 even while channel 1 is shown.
        const int kept = log.count(1);
        window->clearButton()->click();
        QCOMPARE(log.count(0), 0);
        QCOMPARE(log.count(1), kept);
        // "Msg" disables the channel shown: its next line is lost.
        window->enableButton()->click();
        log::logLine(1, "perdu");
        QCOMPARE(log.count(1), kept);
        QCOMPARE(QString::fromStdString(log.line(1, kept - 1)), QStringLiteral("un"));
        window->enableButton()->click();
        // Lines posted by another thread arrive through the event loop.
        std::thread([] { log::logPost("depuis un calcul"); }).join();
        QTRY_COMPARE(log.count(0), 1);
        QCOMPARE(QString::fromStdString(log.line(0, 0)), QStringLiteral("depuis un calcul"));
    }

private:
    QTemporaryDir dir_;
    std::unique_ptr<Workstation> station_;
};

QTEST_MAIN(WorkstationTest)
#include "workstation_test.moc"
