// The window of an image record: the display buffer of the visible part (built by the
// core, views/imageview.h) with its layers, the toolbars, the status bar and the
// information window. For blocks, the shown section is switched between FRONT,
// RIGHT and TOP and moved with a slider or the keyboard (Page Up/Down, arrows);
// companion windows show other planes through the block cursor and follow the window.
#pragma once

#include "views/imagemouse.h"

#include <QAbstractScrollArea>
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <array>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QSlider;
class QStatusBar;
class QToolBar;

namespace vexa::gui {

class ImageWindow;

// The image area: paints the display and its layers and hands mouse input to the
// window.
class ImageCanvas : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit ImageCanvas(ImageWindow& window, QWidget* parent = nullptr);
    // The display buffer as it is painted (before the reduction of zooms below 1).
    const QImage& image() const { return image_; }
    void setImage(QImage image);
    // Scroll bars from the view's origin and visible sizes.
    void syncScrollBars();
    // Size the viewport would need to show the whole display.
    QSize displaySize() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    ImageWindow& window_;
    QImage image_;
};

// A window that shows another plane of a followed block window through its block
// cursor; the followed window's "Reaffichage" refreshes it.
class CompanionWindow : public QWidget {
    Q_OBJECT
public:
    CompanionWindow(ImageWindow& followed, int plane, QWidget* parent = nullptr);
    int plane() const { return plane_; }
    const QImage& image() const { return image_; }
    // Reads the section through the block cursor again and repaints.
    void refresh();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPointer<ImageWindow> followed_;
    int plane_;
    QImage image_;
};

class ImageWindow : public QWidget {
    Q_OBJECT
public:
    // Toolbar command numbers.
    enum Command {
        CmdZoomIn = 10,
        CmdZoomOut = 11,
        CmdInitial = 12,
        CmdWindowLarger = 13,
        CmdWindowSmaller = 14,
        CmdLoupeWindow = 15,
        CmdInterpolation = 16,
        CmdGrid = 17,
        CmdValues = 18,
        CmdInnerLoupe = 19,
        CmdPrint = 20,
        CmdRedraw = 21,
        CmdInformation = 22,
        CmdPalette = 23,
    };

    explicit ImageWindow(DataRecord& record, QWidget* parent = nullptr);
    ~ImageWindow() override;

    DataRecord& record() const { return record_; }
    ImageCanvas* canvas() const { return canvas_; }
    ImageViewData& view() const;
    int plane() const;
    // Shows a section of the block (no effect for plain images).
    void showSection(int plane, int index);

    // Runs a toolbar command; false for an unknown or unavailable one.
    bool runCommand(int command);
    // Runs a command of the image windows' own keys: "Ctrl+D" duplicates the shown image
    // as a new datum, "Ctrl+C" copies the display to the clipboard, "Alt+S" and "Ctrl+S"
    // send the toolbar commands of the same numbers ("Loupe fenêtrée", "Interpolation"). False for
    // another identifier or when nothing was done.
    bool runKeyCommand(int id);
    void copyToClipboard();
    // Zoom around an image point (mouse mode 1).
    void zoomAt(bool in, double x, double y);
    void setMouseMode(int mode);
    void setSync2d(bool on);
    void setCursorShown(bool on);
    void setBlockCursorShown(bool on);
    void panTo(int originX, int originY);

    // The "Conversion" menu of the image (new menu, owned by the caller) and what its
    // entries do.
    QMenu* createConversionMenu(QWidget* parent = nullptr);
    void applyConversion(const ConversionEntry& entry);

    // Status bar texts (type, cursor, 3D position, value) and the information window.
    QStringList statusTexts() const;
    QWidget* informationWindow() const { return info_; }
    QWidget* paletteBar() const { return paletteBar_; }

    // Companion windows showing another plane of the block through the cursor.
    CompanionWindow* openCompanion(int plane);
    QList<CompanionWindow*> companions() const;

    // Called by the canvas.
    void mouseAt(QMouseEvent* event, MouseAction action);
    void paintLayers(QPainter& painter);
    void viewportResized(QSize size);
    void scrolledTo(int originX, int originY);

public slots:
    // Rebuilds the display from the record's samples (a block image re-reads its
    // section) and repaints; companions follow.
    void reload();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildToolbars();
    void installAccelerators();
    // "Loupe fenêtrée": a window magnifying around the 2D cursor, shown or closed.
    void toggleLoupeWindow();
    void refreshLoupeWindow();
    void rebuildAndRepaint();
    void afterZoom(bool resizeWindow);
    void resizeToDisplay();
    void synchronise();
    void refreshStatus();
    void refreshInformation();
    void refreshBlockBar();
    void refreshCompanions();

    DataRecord& record_;
    ImageCanvas* canvas_ = nullptr;
    QToolBar* tools_ = nullptr;
    QToolBar* syncBar_ = nullptr;
    QToolBar* modeBar_ = nullptr; // the mouse modes, one checked
    QComboBox* planeBox_ = nullptr;
    QSlider* slider_ = nullptr;
    QLabel* position_ = nullptr;
    QStatusBar* status_ = nullptr;
    std::array<QLabel*, 4> statusParts_ {};
    QWidget* info_ = nullptr;
    QLabel* infoText_ = nullptr;
    QPointer<QLabel> loupe_; // the separate magnifier, once opened
    QWidget* paletteBar_ = nullptr;
    QList<QPointer<CompanionWindow>> companions_;
    // The first correction waits for values with a range (a calculation's result is
    // shown before it is computed).
    bool initialRangePending_ = false;
    // A display was built that callbacks have not yet been told of ("IMAGE_UPDATE").
    bool imageUpdatePending_ = false;
    ImageMouse mouse_;
};

// The image windows alive, for synchronisation.
QList<ImageWindow*> imageWindows();

} // namespace vexa::gui
