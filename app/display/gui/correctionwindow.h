// The "Correction" tool window: edits the display gain and offset of an image record
// through the core's DisplayCorrection, with the histogram panel on which the two ends
// of the displayed value window are dragged. One window for the whole program.
#pragma once

#include "display/correction.h"
#include "display/gui/recordcorrection.h"

#include <QWidget>

#include <map>
#include <memory>

class QAction;
class QLabel;
class QLineEdit;
class QToolBar;

namespace vexa {
struct DataRecord;
}

namespace vexa::gui {

class CorrectionWindow;

// The histogram bars coloured by the image's palette, and the two window ends.
class HistogramPanel : public QWidget {
    Q_OBJECT
public:
    explicit HistogramPanel(CorrectionWindow& window, QWidget* parent = nullptr);
    PanelGeometry geometryOfPanel() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    CorrectionWindow& window_;
    int dragX_ = -1; // where the grabbed end is drawn while dragging
};

class CorrectionWindow : public QWidget {
    Q_OBJECT
public:
    explicit CorrectionWindow(QWidget* parent = nullptr);
    ~CorrectionWindow() override;

    // Attaches the window to an image record (its gain, offset and histogram).
    void attach(DataRecord& record);
    // Reads the image's values again and redraws.
    void refresh();
    void runCommand(CorrectionCommand command);

    DisplayCorrection& correction() { return correction_; }
    // The button of a command (the switch beside the second field included).
    QAction* action(CorrectionCommand command) const;
    QLineEdit* gainField() const { return gain_; }
    QLineEdit* secondField() const { return second_; }
    QLabel* secondLabel() const { return secondLabel_; }
    QLabel* rangeLabel() const { return range_; }
    HistogramPanel* panel() const { return panel_; }
    // The attached image's palette, null when there is none.
    const ColourTable* palette() const { return hasPalette_ ? &palette_ : nullptr; }

protected:
    void moveEvent(QMoveEvent* event) override;

private:
    QAction* addCommand(QToolBar* bar, CorrectionCommand command, bool checkable = false);
    void fieldsEdited();
    void updateFields();

    DisplayCorrection correction_;
    std::unique_ptr<RecordCorrection> image_;
    std::map<CorrectionCommand, QAction*> actions_;
    QLineEdit* gain_ = nullptr;
    QLineEdit* second_ = nullptr;
    QLabel* secondLabel_ = nullptr;
    QLabel* range_ = nullptr;
    HistogramPanel* panel_ = nullptr;
    ColourTable palette_ {};
    bool hasPalette_ = false;
};

// Opens the "Correction" window (or raises the open one) attached to record.
void openCorrectionWindow(DataRecord& record, QWidget* parent);
// The open window, null when it is closed.
CorrectionWindow* correctionWindow();
// When the window is open, attaches it to record: the image window calls it when it is
// activated so that the window follows the current image.
void followCorrectionWindow(DataRecord& record);

} // namespace vexa::gui
