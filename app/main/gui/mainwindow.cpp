#include "main/gui/mainwindow.h"

#include "config/config.h"
#include "data/dataopen.h"
#include "data/datasave.h"
#include "data/newdata.h"
#include "data/registry.h"
#include "data/series.h"
#include "display/gui/correctionwindow.h"
#include "display/gui/palettemanager.h"
#include "log/logmodel.h"
#include "main/gui/logwindow.h"
#include "main/gui/taskwindow.h"
#include "main/mainmenus.h"
#include "matlab/matlabcommands.h"
#include "menus/actionhistory.h"
#include "plugins/libraries.h"
#include "processing/processing.h"
#include "processing/processingmenus.h"
#include "scene/motion.h"
#include "script/scriptrunner.h"
#include "study/study.h"
#include "tasks/taskcontext.h"
#include "tasks/taskdisplay.h"
#include "tasks/taskshutdown.h"
#include "tasks/workerthread.h"

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QLayout>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>

namespace vexa::gui {

namespace {

QIcon treeIcon(const QString& programDir, int kind)
{
    // icon_tree1: image, 2: volume, 3: 3D view, 4: other data.
    int index = 4;
    if (kind == DATA_IMAGE)
        index = 1;
    else if (kind == DATA_VIEW3D)
        index = 3;
    return QIcon(programDir + QStringLiteral("/ressources/icon_tree%1.bmp").arg(index));
}

// A 16 x 16 cell of the main toolbar strip, its key colour made transparent; null when
// the strip is missing.
QIcon mainStripIcon(const QString& programDir, int cell)
{
    static const QImage strip = QImage(programDir + QStringLiteral("/ressources/bitmapToolBar.bmp"))
                                    .convertToFormat(QImage::Format_ARGB32);
    if (strip.isNull() || strip.width() < 16 * (cell + 1) || strip.height() < 16)
        return {};
    QImage icon = strip.copy(16 * cell, 0, 16, 16);
    icon.setAlphaChannel(icon.createMaskFromColor(qRgb(0, 128, 0), Qt::MaskOutColor));
    return QIcon(QPixmap::fromImage(icon));
}

// The message log's button: a page of lines, drawn here (the strip has none).
QIcon logIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(QColor(40, 40, 40));
    p.setBrush(Qt::white);
    p.drawRect(2, 1, 11, 14);
    p.setPen(QColor(0, 70, 160));
    for (int y = 4; y <= 12; y += 2)
        p.drawLine(4, y, y % 4 ? 11 : 9, y);
    return QIcon(pixmap);
}

// The label of a command worth repeating, as its menu shows it (without its key);
// empty for commands that only show or toggle something.
std::string actionLabel(int id)
{
    using namespace menus;
    if (processing::isProcessingCommand(id))
        return processing::processingCommandLabel(id);
    if (plugins::isLibraryCommand(id)) {
        const std::string text = plugins::commandText(id);
        return text.empty() ? "Commande " + std::to_string(id) : text;
    }
    static const int kWork[] = { kCmdOpenData, kCmdSaveData, kCmdNewImage2d, kCmdNewImage3d,
        kCmdNewAudio, kCmdNewView3d, kCmdNewGraph, kCmdImageSeries, kCmdScript };
    if (std::ranges::find(kWork, id) == std::end(kWork))
        return {};
    auto bar = mainMenuBar(false, false);
    const MenuNode* item = bar->findItem(id);
    return item ? item->text.substr(0, item->text.find('\t')) : std::string();
}

} // namespace

QPoint taskOutputCorner(const QList<QPoint>& corners)
{
    constexpr int kFirst = 100, kStep = 24, kSteps = 8;
    for (int i = 0; i < kSteps; ++i) {
        const QPoint candidate(kFirst + kStep * i, kFirst + kStep * i);
        if (!corners.contains(candidate))
            return candidate;
    }
    return QPoint(kFirst, kFirst);
}

QRect placeInside(const QRect& visible, const QRect& window, const QSize& minimum, int index)
{
    if (visible.isEmpty() || visible.contains(window))
        return window;
    // Too big: shrink to the area (the image window scrolls), never below its minimum.
    const int width = std::max(std::min(window.width(), visible.width()), minimum.width());
    const int height = std::max(std::min(window.height(), visible.height()), minimum.height());
    const int step = 24 * (std::max(index, 0) % 8);
    const int x = visible.left() + std::max(0, std::min(step, visible.width() - width));
    const int y = visible.top() + std::max(0, std::min(step, visible.height() - height));
    return QRect(x, y, width, height);
}

MainWindow::MainWindow(const QString& programDir, QWidget* parent)
    : QMainWindow(parent)
    , programDir_(programDir)
{
    setObjectName(QStringLiteral("VexaMainWindow"));
    setWindowTitle(QStringLiteral("Vexa"));
    setWindowIcon(QIcon(programDir + QStringLiteral("/vexa.ico")));
    setAcceptDrops(true);

    area_ = new QMdiArea(this);
    area_->setViewMode(QMdiArea::SubWindowView);
    area_->setBackground(QBrush(QColor(96, 104, 118)));
    setCentralWidget(area_);

    tree_ = new QTreeWidget(this);
    tree_->setHeaderHidden(true);
    auto* dock = new QDockWidget(QString::fromUtf8("Données"), this);
    dock->setObjectName(QStringLiteral("DataDock"));
    dock->setWidget(tree_);
    dock->setFeatures(QDockWidget::DockWidgetMovable);
    addDockWidget(Qt::LeftDockWidgetArea, dock);
    connect(tree_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
        for (auto& [window, entry] : treeItems_)
            if (entry == item)
                area_->setActiveSubWindow(window);
    });
    connect(area_, &QMdiArea::subWindowActivated, this, [](QMdiSubWindow* window) {
        if (window)
            if (DataRecord* record = dataFindByWindow(window)) {
                dataActivate(record);
                // An open "Correction" window follows the active image.
                if (record->kind == DATA_IMAGE)
                    followCorrectionWindow(*record);
            }
    });

    for (const menus::Accelerator& accelerator : menus::mainAccelerators()) {
        auto* shortcut = new QShortcut(QKeySequence(QString::fromLatin1(accelerator.key)), this);
        const int id = accelerator.command;
        connect(shortcut, &QShortcut::activated, this, [this, id] { runCommand(id); });
    }
    statusBar()->showMessage(QString::fromUtf8("Prêt"));
    buildToolBar();
    rebuildMenus();
    resize(1100, 760);

    titleTimer_.setInterval(2000);
    connect(&titleTimer_, &QTimer::timeout, this, [this] {
        refreshTitle();
        if (tasks_)
            tasks_->refresh();
        taskJoinFinishedWorkers();
    });
    titleTimer_.start();
}

MainWindow::~MainWindow()
{
    // Sub-windows die with the area below; their handlers must not reach this half-gone window.
    titleTimer_.stop();
    for (auto& entry : treeItems_)
        entry.first->disconnect(this);
    treeItems_.clear();
    dataBars_.clear();
}

void MainWindow::rebuildMenus()
{
    auto bar = menus::mainMenuBar(taskMultitask(), taskSafeMode());
    if (menus::MenuNode* processing = bar->findSubMenu(menus::kMenuProcessing))
        plugins::appendInsertedMenus(*processing, plugins::MenuLocation::Processing);
    // Open windows are listed at the end of "Fenêtres".
    if (menus::MenuNode* windows = bar->findSubMenu(menus::kMenuWindows)) {
        int id = menus::kCmdFirstWindow;
        for (QMdiSubWindow* window : area_->subWindowList())
            windows->addItem(window->windowTitle().toStdString(), id++);
    }
    fillMenuBar(menuBar(), *bar, [this](int id) { runMenuCommand(id); });
    // "Traitements" holds only what libraries insert: greyed while it is empty.
    for (QAction* action : menuBar()->actions())
        if (QMenu* menu = action->menu();
            menu && menu->objectName() == QString::fromUtf8(menus::kMenuProcessing))
            action->setEnabled(!menu->isEmpty());
    // Data windows carry their own bars, into which processing menus are inserted too.
    for (auto& [window, entry] : dataBars_)
        fillDataMenuBar(window, entry.bar, entry.volume);
}

void MainWindow::fillDataMenuBar(QMdiSubWindow* window, QMenuBar* bar, bool volume)
{
    // The built-in commands first, then what libraries inserted.
    auto model = menus::dataMenuBar(volume);
    if (menus::MenuNode* menu2d = model->findSubMenu(menus::kMenu2d)) {
        processing::appendProcessingMenus2d(*menu2d);
        plugins::appendInsertedMenus(*menu2d, plugins::MenuLocation::Menu2d);
    }
    if (menus::MenuNode* menu3d = model->findSubMenu(menus::kMenu3d)) {
        processing::appendProcessingMenus3d(*menu3d);
        plugins::appendInsertedMenus(*menu3d, plugins::MenuLocation::Menu3d);
    }
    fillMenuBar(bar, *model, [this, window](int id) { runMenuCommand(id, window); });
    // Processing menus stay visible but greyed while nothing has been inserted.
    for (QAction* action : bar->actions())
        if (QMenu* menu = action->menu())
            action->setEnabled(!menu->isEmpty());
}

QMenuBar* MainWindow::dataMenuBar(QMdiSubWindow* window) const
{
    auto found = dataBars_.find(window);
    return found == dataBars_.end() ? nullptr : found->second.bar;
}

void MainWindow::buildToolBar()
{
    auto* tools = addToolBar(QStringLiteral("Outils"));
    tools->setObjectName(QStringLiteral("MainToolBar"));
    tools->setIconSize(QSize(16, 16));
    tools->setMovable(false);
    struct Button {
        int command;
        QIcon icon;
        const char* label;
    };
    const Button buttons[] = {
        { menus::kCmdOpenData, mainStripIcon(programDir_, 0), "Ouvrir une donnée..." },
        { menus::kCmdSaveData, mainStripIcon(programDir_, 1), "Sauvegarder une donnée..." },
        { 0, {}, nullptr },
        { menus::kCmdCorrection, mainStripIcon(programDir_, 9), "Correction" },
        { menus::kCmdPalettes, mainStripIcon(programDir_, 8), "Palettes" },
        { 0, {}, nullptr },
        { menus::kCmdTaskWindow,
            QIcon(programDir_ + QStringLiteral("/ressources/icon_progress3.bmp")), "Tâches" },
        { menus::kCmdLogWindow, logIcon(), "Messages" },
    };
    for (const Button& b : buttons) {
        if (!b.label) {
            tools->addSeparator();
            continue;
        }
        QAction* action = tools->addAction(b.icon, QString::fromUtf8(b.label));
        action->setObjectName(QStringLiteral("tool%1").arg(b.command));
        const int id = b.command;
        connect(action, &QAction::triggered, this, [this, id] { runMenuCommand(id); });
    }
}

void MainWindow::runMenuCommand(int id, QMdiSubWindow* from)
{
    if (const std::string label = actionLabel(id); !label.empty())
        menus::recordAction(id, label);
    if (from) {
        DataRecord* record = dataFindByWindow(from);
        if (id == menus::kCmdSaveData || id == menus::kCmdMatlabSave) {
            // The save commands of a data window save that window's datum.
            if (record)
                saveDataTask(record, id);
            return;
        }
        // The command's inputs start from this window's datum.
        if (record)
            dataActivate(record);
    }
    if (processing::runProcessingCommand(id, from) || plugins::runLibraryCommand(id, from))
        return;
    runCommand(id);
}

void MainWindow::runPreviousAction(bool last)
{
    // A library released since, or its identifier given to another command: forgotten.
    std::vector<menus::RecordedAction> live;
    for (const menus::RecordedAction& action : menus::recordedActions()) {
        if (actionLabel(action.id) == action.label)
            live.push_back(action);
        else
            menus::forgetAction(action.id);
    }
    if (live.empty())
        return;
    int chosen = 0;
    if (!last) {
        std::vector<std::string> names;
        for (const menus::RecordedAction& action : live)
            names.push_back(action.label);
        chosen = hostChooseFromList("Précédentes Actions", names);
    }
    if (chosen >= 0 && chosen < int(live.size()))
        runMenuCommand(live[std::size_t(chosen)].id);
}

void MainWindow::runCommand(int id)
{
    using namespace menus;
    switch (id) {
    case kCmdKeyF6:
        area_->activateNextSubWindow();
        break;
    case kCmdKeyF8:
        area_->activatePreviousSubWindow();
        break;
    case kCmdKeyF7:
        area_->tileSubWindows();
        break;
    case kCmdOpenData:
    case kCmdMatlabOpen:
        openDataDialog(id);
        break;
    case kCmdOpenStudy:
        study::openStudyCommand();
        break;
    case kCmdStudySettings:
        study::studySettingsCommand();
        break;
    case kCmdMotionFile:
        scene::motionFileCommand();
        break;
    case kCmdMultitask:
        taskSetMultitask(!taskMultitask());
        rebuildMenus();
        break;
    case kCmdSafeMode:
        taskSetSafeMode(!taskSafeMode());
        rebuildMenus();
        break;
    case kCmdSaveData:
    case kCmdMatlabSave:
        if (DataRecord* record = dataActiveImage())
            saveDataTask(record, id);
        break;
    case kCmdNewImage2d:
        newImage2dCommand();
        break;
    case kCmdNewImage3d:
        processing::runNewImage3dTask(id);
        break;
    case kCmdNewAudio:
        newAudioCommand();
        break;
    case kCmdNewView3d:
        newView3dCommand();
        break;
    case kCmdNewGraph:
        newGraphCommand();
        break;
    case kCmdImageSeries: {
        // Like opening: the assembled volume is read by a task.
        TaskCommand task;
        task.commandId = kCmdImageSeries;
        task.name = "Série d'images";
        task.builtin = [] { seriesAssemblyCommand(); };
        taskStartCommand(std::move(task));
        break;
    }
    case kCmdScript:
        script::runScriptCommand(
            [](int channel, const std::string& line) { log::logLine(channel, line.c_str()); });
        break;
    case kCmdLogWindow:
        logWindow()->show();
        logWindow()->raise();
        break;
    case kCmdTaskWindow:
        taskWindow()->show();
        taskWindow()->raise();
        break;
    case kCmdCorrection:
        if (DataRecord* record = dataActiveImage())
            openCorrectionWindow(*record, this);
        break;
    case kCmdPalettes:
        openPaletteManager(this);
        break;
    case kCmdQuit:
        if (confirmQuit())
            close();
        break;
    case kCmdLibLoad:
        plugins::loadLibraryCommand();
        break;
    case kCmdLibLoadDir:
        plugins::loadDirectoryCommand();
        break;
    case kCmdLibUnload:
        plugins::unloadLibraryCommand();
        break;
    case kCmdLibUnloadAll:
        plugins::unloadAllCommand();
        break;
    case kCmdLibUnloadLast:
        plugins::unloadLastCommand();
        break;
    case kCmdLibReloadLast:
        plugins::reloadLastCommand();
        break;
    case kCmdPreviousActions:
        runPreviousAction(false);
        break;
    case kCmdLastAction:
        runPreviousAction(true);
        break;
    default:
        if (plugins::runLibraryCommand(id))
            break;
        if (id >= kCmdFirstWindow) {
            showWindowFromMenu(id);
            break;
        }
        log::logMessage("Commande %d non disponible", id);
        statusBar()->showMessage(
            QString::fromUtf8("Commande non disponible dans cette version"), 4000);
        break;
    }
}

void MainWindow::openDataDialog(int commandId)
{
    // Reading a large file takes seconds: as a task the windows stay live meanwhile and
    // the task window lists the reading.
    TaskCommand task;
    task.commandId = commandId;
    if (commandId == menus::kCmdMatlabOpen) {
        task.name = "Matlab";
        task.builtin = [] { matlab::matlabOpenCommand(); };
    } else {
        task.name = "Ouvrir une donnée...";
        task.builtin = [] { openDataCommand(); };
    }
    taskStartCommand(std::move(task));
}

void MainWindow::saveDataTask(DataRecord* record, int commandId)
{
    // Writing a volume takes seconds: as a task the windows stay live meanwhile. The
    // datum is the task's input, so it cannot close while it is written.
    dataActivate(record);
    TaskCommand task;
    task.commandId = commandId;
    const bool matlab = commandId == menus::kCmdMatlabSave;
    task.name = matlab ? "Matlab" : "Sauvegarder une donnée...";
    task.builtin = [matlab] {
        if (const std::uint32_t id = taskTakeInput(taskCurrent(), SLOT_IMAGE_IN))
            if (DataRecord* taken = dataFindImage(id)) {
                if (matlab)
                    matlab::matlabSaveCommand(taken);
                else
                    saveDataCommand(taken);
            }
    };
    taskStartCommand(std::move(task));
}

bool MainWindow::openDataFile(const QString& path)
{
    return dataOpenFileWithMessages(path.toStdString()) != nullptr;
}

void MainWindow::handleCommandLine(const QString& line)
{
    if (auto file = config::dataFileArgument(line.toStdString()))
        openDataFile(QString::fromStdString(*file));
}

QMdiSubWindow* MainWindow::addDataWindow(
    QWidget* window, const QString& title, int kind, bool volume)
{
    window->setAttribute(Qt::WA_DeleteOnClose);
    QMdiSubWindow* sub = area_->addSubWindow(window);
    // Image windows carry the processing menus of images and volumes.
    QLayout* layout = kind == DATA_IMAGE ? window->layout() : nullptr;
    if (layout) {
        auto* bar = new QMenuBar(window);
        bar->setNativeMenuBar(false);
        layout->setMenuBar(bar);
        dataBars_[sub] = { bar, volume };
        fillDataMenuBar(sub, bar, volume);
        window->resize(window->width(), window->height() + bar->sizeHint().height());
    }
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->setWindowTitle(title);
    sub->setWindowIcon(treeIcon(programDir_, kind));
    sub->installEventFilter(this);
    auto* item = new QTreeWidgetItem(tree_, { title });
    item->setIcon(0, sub->windowIcon());
    treeItems_[sub] = item;
    connect(sub, &QMdiSubWindow::windowTitleChanged, this,
        [item](const QString& text) { item->setText(0, text); });
    connect(sub, &QObject::destroyed, this, [this, sub] {
        auto found = treeItems_.find(sub);
        if (found != treeItems_.end()) {
            delete found->second;
            treeItems_.erase(found);
        }
        dataBars_.erase(sub);
        // The record goes with its window.
        if (DataRecord* record = dataFindByWindow(sub)) {
            record->window = nullptr;
            dataDelete(record);
        }
        rebuildMenus();
    });
    // The frame fits the window's own preferred size.
    sub->resize(window->size() + (sub->frameGeometry().size() - sub->contentsRect().size()));
    sub->show();
    // The area places a new window beside the others even where it no longer fits, and
    // an image's preferred size may exceed the area: bring it inside, cascading.
    const QRect placed = placeInside(area_->viewport()->rect(), sub->geometry(),
        sub->minimumSizeHint(), int(area_->subWindowList().size() - 1));
    if (placed != sub->geometry())
        sub->setGeometry(placed);
    // A task marks its results once their windows exist: place them after this turn.
    QTimer::singleShot(0, sub, [this, sub] { placeTaskOutput(sub); });
    rebuildMenus();
    return sub;
}

void MainWindow::activateNewDataWindow(QMdiSubWindow* window, DataRecord& record)
{
    if (window && area_->activeSubWindow() != window)
        area_->setActiveSubWindow(window);
    dataActivate(&record);
    if (record.kind == DATA_IMAGE)
        followCorrectionWindow(record);
}

void MainWindow::placeTaskOutput(QMdiSubWindow* window)
{
    DataRecord* record = dataFindByWindow(window);
    if (!record || !record->shownByTask)
        return;
    QList<QPoint> corners;
    for (QMdiSubWindow* other : area_->subWindowList())
        if (other != window)
            corners << other->pos();
    const QRect wanted(taskOutputCorner(corners), window->size());
    window->setGeometry(placeInside(area_->viewport()->rect(), wanted, window->minimumSizeHint(),
        int(area_->subWindowList().size() - 1)));
}

void MainWindow::showWindowFromMenu(int id)
{
    const auto windows = area_->subWindowList();
    const int index = id - menus::kCmdFirstWindow;
    if (index >= 0 && index < windows.size()) {
        windows[index]->showNormal();
        area_->setActiveSubWindow(windows[index]);
    }
}

void MainWindow::refreshTitle()
{
    setWindowTitle(QString::fromStdString(taskDisplayTitle()));
}

LogWindow* MainWindow::logWindow()
{
    if (!log_) {
        log_ = new LogWindow(this);
        log_->setWindowFlag(Qt::Window);
    }
    return log_;
}

TaskWindow* MainWindow::taskWindow()
{
    if (!tasks_) {
        tasks_ = new TaskWindow(this);
        tasks_->setWindowFlag(Qt::Window);
    }
    return tasks_;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    // A window whose datum a task still uses stays open.
    if (event->type() == QEvent::Close) {
        auto* sub = qobject_cast<QMdiSubWindow*>(watched);
        if (DataRecord* record = sub ? dataFindByWindow(sub) : nullptr) {
            if (!taskRecordMayClose(record)) {
                statusBar()->showMessage(
                    QString::fromUtf8("Donnée utilisée par un calcul : fermeture impossible"),
                    4000);
                event->ignore();
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event)
{
    for (const QUrl& url : event->mimeData()->urls()) {
        if (!url.isLocalFile())
            continue;
        const QString path = url.toLocalFile();
        // A dropped library is loaded; one that does not load is tried as data.
        if (path.endsWith(QStringLiteral(".so")) && plugins::dropLibrary(path.toStdString()))
            continue;
        openDataFile(path);
    }
    event->acceptProposedAction();
}

bool MainWindow::hasUnsavedResults()
{
    for (DataRecord* record : dataListAll())
        if (record->shownByTask && record->fileName.empty() && !record->savedToFile)
            return true;
    return false;
}

bool MainWindow::confirmQuit()
{
    if (quitConfirmed_ || !hasUnsavedResults())
        return true;
    const auto answer = QMessageBox::question(this, QStringLiteral("Vexa"),
        QString::fromUtf8("Des résultats ne sont pas sauvegardés. Quitter quand même ?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    // Asked once: the closing that follows must not ask again.
    quitConfirmed_ = answer == QMessageBox::Yes;
    return quitConfirmed_;
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // The user closing the window asks like "Quitter"; the program's own closing at
    // shutdown does not.
    if (event->spontaneous() && !confirmQuit()) {
        event->ignore();
        return;
    }
    if (!taskMayQuit()) {
        QMessageBox::information(this, QStringLiteral("Vexa"),
            QString::fromUtf8("Des calculs sont en cours : attendez leur fin avant de quitter."));
        event->ignore();
        return;
    }
    titleTimer_.stop();
    area_->closeAllSubWindows();
    event->accept();
}

} // namespace vexa::gui
