// The workstation's main window: menu bar rendered from the core's menu model, a tree
// of open data beside an area holding the data windows, the 2000 ms title refresh, and
// dropped files.
#pragma once

#include "main/gui/menurender.h"

#include <QMainWindow>
#include <QPoint>
#include <QRect>
#include <QTimer>

#include <functional>
#include <map>
#include <string>

class QMdiArea;
class QMdiSubWindow;
class QMenuBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace vexa {
struct DataRecord;
}

namespace vexa::gui {

// Where a new data window goes in an area whose visible rectangle is visible: unchanged
// when it fits; otherwise shrunk to the area (not below minimum) and cascaded from the
// top left corner by its index.
QRect placeInside(const QRect& visible, const QRect& window, const QSize& minimum, int index);

// Where the window of a task's result goes: (100, 100) from the area's origin, or the
// first step of a cascade from there that no window's corner already occupies, so
// that the results of one task do not hide each other.
QPoint taskOutputCorner(const QList<QPoint>& corners);

class LogWindow;
class TaskWindow;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(const QString& programDir, QWidget* parent = nullptr);
    ~MainWindow() override;

    QMdiArea* dataArea() const { return area_; }

    // Rebuilds the menu bar (libraries loaded or unloaded, options toggled).
    void rebuildMenus();
    // Runs a main-window command identifier.
    void runCommand(int id);
    // Runs a command chosen in a menu (of the main window, or of the data window from,
    // which its inputs then start from): recorded among the previous actions when it
    // does work, then run.
    void runMenuCommand(int id, QMdiSubWindow* from = nullptr);
    // Opens a data file as the "Ouvrir une donnée..." command does; false with a
    // message box when it cannot be opened.
    bool openDataFile(const QString& path);
    // Hands a command line over (request 1): "-in <file>" opens the file.
    void handleCommandLine(const QString& line);
    // Adds a data window to the area and to the tree; the tree entry goes when it closes.
    // Windows with a layout get the data-window menu bar ("Traitement 3D" for volumes).
    QMdiSubWindow* addDataWindow(
        QWidget* window, const QString& title, int kind, bool volume = false);
    // A data window the host has just built for record becomes the active one, so that
    // commands on "the active image" reach it at once (while the host builds it the
    // window cannot yet be traced back to its record).
    void activateNewDataWindow(QMdiSubWindow* window, DataRecord& record);
    // The menu bar of a data window, or null for windows without one.
    QMenuBar* dataMenuBar(QMdiSubWindow* window) const;
    // Title from the number of running tasks: "Vexa" or the running-task text.
    void refreshTitle();

    // True when computed results were never saved (made by a calculation, no file).
    static bool hasUnsavedResults();
    // "Quitter": true when nothing is unsaved, or the user agrees to lose it (asked once).
    bool confirmQuit();

    LogWindow* logWindow();
    TaskWindow* taskWindow();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // "Ouvrir une donnée..." (or its "Matlab" sibling) as a task.
    void openDataDialog(int commandId);
    // "Sauvegarder une donnée..." (or "Matlab" of the save menu) of record as a task.
    void saveDataTask(DataRecord* record, int commandId);
    void showWindowFromMenu(int id);
    void runPreviousAction(bool last);
    void buildToolBar();
    void placeTaskOutput(QMdiSubWindow* window);
    void fillDataMenuBar(QMdiSubWindow* window, QMenuBar* bar, bool volume);

    QString programDir_;
    QMdiArea* area_ = nullptr;
    QTreeWidget* tree_ = nullptr;
    QTimer titleTimer_;
    LogWindow* log_ = nullptr;
    TaskWindow* tasks_ = nullptr;
    bool quitConfirmed_ = false;
    std::map<QMdiSubWindow*, QTreeWidgetItem*> treeItems_;
    struct DataBar {
        QMenuBar* bar;
        bool volume;
    };
    std::map<QMdiSubWindow*, DataBar> dataBars_;
};

} // namespace vexa::gui
