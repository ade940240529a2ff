// The palette manager: the palette list with "Importer...", "Exporter...", "Supprimer"
// and "Ajouter", and the three editor windows ("Palette - Type Pente", "Palette - Type
// Editable", "Palette - Type Circulaire") that hold the parameters of a new palette.
// Selecting a palette shows the active image with it and loads its parameters into the
// editor of its family; palettes in the list are never changed in place, since other
// threads copy their colours.
#pragma once

#include "display/palette.h"

#include <QWidget>

#include <array>

class QDoubleSpinBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace vexa::gui {

// 256 colours drawn left to right; a click gives the level under the mouse.
class PaletteStrip : public QWidget {
    Q_OBJECT
public:
    explicit PaletteStrip(QWidget* parent = nullptr);
    void setTable(const ColourTable& table);
    const ColourTable& table() const { return table_; }
    int levelAt(int x) const;
    QSize sizeHint() const override { return { 256, 24 }; }

signals:
    void levelClicked(int level);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    ColourTable table_ {};
};

class PaletteEditor : public QWidget {
    Q_OBJECT
public:
    enum Kind { Slope, Editable, Circular };

    PaletteEditor(Kind kind, QWidget* parent = nullptr);
    Kind kind() const { return kind_; }
    // The editor's parameters, named as typed.
    PaletteRecord record() const;
    // Takes the parameters of a palette (the name stays that of a new palette).
    void load(const PaletteRecord& palette);
    // Sets one control colour: A, B, C for slopes, P0..P3 for the direction family.
    void setColour(int index, int r, int g, int b);
    // The preview of the editor's palette.
    const PaletteStrip* strip() const { return strip_; }

    static Kind kindOf(int family);

private:
    void pickColour(int index);
    void fieldsChanged();
    void showRecord();

    Kind kind_;
    PaletteRecord record_;
    QLineEdit* name_ = nullptr;
    QDoubleSpinBox* first_ = nullptr; // centre, phase or alpha1 / p1
    QDoubleSpinBox* second_ = nullptr; // width, alpha2 or p2
    std::array<QPushButton*, 4> colours_ {};
    PaletteStrip* strip_ = nullptr;
    bool loading_ = false;
};

class PaletteManager : public QWidget {
    Q_OBJECT
public:
    explicit PaletteManager(QWidget* parent = nullptr);

    QListWidget* list() const { return list_; }
    // The selected palette, null when none.
    PaletteRecord* selected() const;
    void select(int index);
    // The editor of the selected palette's family (opened on selection).
    PaletteEditor* editor() const { return editor_; }
    PaletteEditor* openEditor(PaletteEditor::Kind kind);

    // The commands behind the buttons, once the parameter box has given the file.
    bool importFile(const QString& path, QString* why = nullptr);
    bool exportSelected(const QString& name, const QString& path);
    bool removeSelected();
    PaletteRecord* addFromEditor();
    // Shows the active image with the selected palette. False when there is no active
    // image or no selection. Choosing a palette in the list does it.
    bool applyToActiveImage();

    // Fills the list again from the palette list, keeping the selection where it can.
    void reloadList();

private:
    void importAsked();
    void exportAsked();
    void selectionChanged();

    QListWidget* list_ = nullptr;
    PaletteStrip* strip_ = nullptr;
    std::array<PaletteEditor*, 3> editors_ {};
    PaletteEditor* editor_ = nullptr;
};

// Opens the palette manager (or raises the open one).
void openPaletteManager(QWidget* parent);
PaletteManager* paletteManager();

} // namespace vexa::gui
