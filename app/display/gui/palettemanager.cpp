#include "display/gui/palettemanager.h"

#include "data/registry.h"
#include "display/colormap.h"
#include "display/gui/recordcorrection.h"
#include "display/palettelist.h"
#include "params/paramapi.h"
#include "views/imageview.h"

#include <QColorDialog>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>

namespace vexa::gui {

namespace {

QPointer<PaletteManager> s_manager;

const char* editorTitle(PaletteEditor::Kind kind)
{
    switch (kind) {
    case PaletteEditor::Slope:
        return kPaletteEditorSlopeTitle;
    case PaletteEditor::Editable:
        return kPaletteEditorEditableTitle;
    case PaletteEditor::Circular:
        return kPaletteEditorCircularTitle;
    }
    return "";
}

QColor colourOf(const PaletteColour& c)
{
    return QColor(c.red, c.green, c.blue);
}

void setControl(PaletteRecord& rec, int index, const PaletteColour& c)
{
    rec.control[std::size_t(3 * index)] = c.red;
    rec.control[std::size_t(3 * index + 1)] = c.green;
    rec.control[std::size_t(3 * index + 2)] = c.blue;
}

// Copies text into a fixed parameter-box buffer, always terminated.
template <std::size_t N> void copyToBuffer(char (&buffer)[N], const std::string& text)
{
    const std::size_t n = std::min(text.size(), N - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

} // namespace

PaletteStrip::PaletteStrip(QWidget* parent)
    : QWidget(parent)
{
    setMinimumSize(128, 16);
    fillGreyRamp(table_);
}

void PaletteStrip::setTable(const ColourTable& table)
{
    table_ = table;
    update();
}

int PaletteStrip::levelAt(int x) const
{
    if (width() <= 0)
        return 0;
    return std::clamp(int(std::int64_t(x) * 256 / width()), 0, 255);
}

void PaletteStrip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int w = width();
    for (int i = 0; i < 256; ++i) {
        const int x0 = i * w / 256;
        const int x1 = (i + 1) * w / 256;
        painter.fillRect(QRect(x0, 0, std::max(1, x1 - x0), height()), colourOf(table_[i]));
    }
}

void PaletteStrip::mousePressEvent(QMouseEvent* event)
{
    emit levelClicked(levelAt(event->position().toPoint().x()));
}

PaletteEditor::Kind PaletteEditor::kindOf(int family)
{
    switch (family) {
    case kFamilySlope:
        return Slope;
    case kFamilyDirection:
    case kFamilyDirectionHsl:
    case kFamilyOrientationHsl:
    case kFamilyOrientationLinear:
        return Circular;
    default:
        return Editable;
    }
}

PaletteEditor::PaletteEditor(Kind kind, QWidget* parent)
    : QWidget(parent, Qt::Tool)
    , kind_(kind)
{
    setWindowTitle(QString::fromUtf8(editorTitle(kind)));
    record_.name = kPaletteNewName;
    switch (kind) {
    case Slope:
        record_.family = kFamilySlope;
        record_.variant = kFirstUserSlopeVariant;
        // Black, grey, white: the grey ramp as three colours.
        setControl(record_, 0, { 0, 0, 0, 0 });
        setControl(record_, 1, { 127, 127, 127, 0 });
        setControl(record_, 2, { 255, 255, 255, 0 });
        break;
    case Editable:
        record_.family = kFamilyEditable;
        fillGreyRamp(record_.table);
        break;
    case Circular:
        record_.family = kFamilyDirection;
        // A user direction palette starting from the built-in cycle.
        record_.variant = 1;
        setControl(record_, 0, { 0, 0, 0, 0 });
        setControl(record_, 1, { 0, 0, 127, 0 });
        setControl(record_, 2, { 255, 255, 255, 0 });
        setControl(record_, 3, { 0, 127, 0, 0 });
        break;
    }

    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    name_ = new QLineEdit(this);
    form->addRow(QStringLiteral("Nom"), name_);
    if (kind != Editable) {
        first_ = new QDoubleSpinBox(this);
        second_ = new QDoubleSpinBox(this);
        for (QDoubleSpinBox* box : { first_, second_ }) {
            box->setDecimals(3);
            box->setSingleStep(0.01);
            box->setRange(kind == Slope ? 0.0 : -10.0, kind == Slope ? 2.0 : 10.0);
        }
        form->addRow(
            kind == Slope ? QStringLiteral("Centre") : QStringLiteral("\u03c6 / \u03b11 / p1"),
            first_);
        form->addRow(
            kind == Slope ? QStringLiteral("\u2194") : QStringLiteral("\u03b12 / p2"), second_);
        auto* colours = new QHBoxLayout;
        const int count = kind == Slope ? 3 : 4;
        static const char* const kSlopeNames[] = { "A", "B", "C" };
        static const char* const kCycleNames[] = { "P0", "P1", "P2", "P3" };
        for (int k = 0; k < count; ++k) {
            auto* button = new QPushButton(
                QString::fromLatin1(kind == Slope ? kSlopeNames[k] : kCycleNames[k]), this);
            colours_[std::size_t(k)] = button;
            colours->addWidget(button);
            connect(button, &QPushButton::clicked, this, [this, k] { pickColour(k); });
        }
        form->addRow(colours);
        connect(first_, &QDoubleSpinBox::valueChanged, this, &PaletteEditor::fieldsChanged);
        connect(second_, &QDoubleSpinBox::valueChanged, this, &PaletteEditor::fieldsChanged);
    }
    layout->addLayout(form);
    strip_ = new PaletteStrip(this);
    layout->addWidget(strip_);
    connect(name_, &QLineEdit::textEdited, this,
        [this] { record_.name = name_->text().toStdString(); });
    showRecord();
}

PaletteRecord PaletteEditor::record() const
{
    return record_;
}

void PaletteEditor::load(const PaletteRecord& palette)
{
    ColourTable table;
    computePalette(palette, table);
    const std::string name = record_.name;
    record_ = palette;
    record_.name = name;
    record_.user = 0;
    if (kind_ == Slope && (palette.variant < kFirstUserSlopeVariant || !palette.user)) {
        // A built-in ramp becomes three control colours taken from its own table.
        const int lo = std::clamp(int(palette.low * 255), 0, 255);
        const int hi = std::clamp(int(palette.high * 255), 0, 255);
        setControl(record_, 0, table[std::size_t(lo)]);
        setControl(record_, 1, table[std::size_t((lo + hi) / 2)]);
        setControl(record_, 2, table[std::size_t(hi)]);
        record_.variant = kFirstUserSlopeVariant;
    } else if (kind_ == Circular && palette.family == kFamilyDirection && palette.variant == 0) {
        // The built-in cycle, read back before its rotation.
        PaletteRecord plain = palette;
        plain.phase = 0.5;
        computePalette(plain, table);
        static const std::size_t kCorners[] = { 0, 63, 127, 191 };
        for (int k = 0; k < 4; ++k)
            setControl(record_, k, table[kCorners[k]]);
        record_.variant = 1;
    }
    showRecord();
}

void PaletteEditor::setColour(int index, int r, int g, int b)
{
    if (kind_ == Editable || index < 0 || index >= (kind_ == Slope ? 3 : 4))
        return;
    auto byte = [](int v) { return std::uint8_t(std::clamp(v, 0, 255)); };
    setControl(record_, index, { byte(b), byte(g), byte(r), 0 });
    showRecord();
}

void PaletteEditor::pickColour(int index)
{
    const std::size_t at = std::size_t(3 * index);
    const QColor start(record_.control[at], record_.control[at + 1], record_.control[at + 2]);
    const QColor chosen = QColorDialog::getColor(start, this);
    if (chosen.isValid())
        setColour(index, chosen.red(), chosen.green(), chosen.blue());
}

void PaletteEditor::fieldsChanged()
{
    if (loading_)
        return;
    const double a = first_->value(), b = second_->value();
    switch (record_.family) {
    case kFamilySlope:
        record_.centre = a;
        record_.width = b;
        record_.low = std::clamp(a - b / 2.0, 0.0, 1.0);
        record_.high = std::clamp(a + b / 2.0, 0.0, 1.0);
        break;
    case kFamilyDirection:
        record_.phase = a;
        break;
    case kFamilyDirectionHsl:
    case kFamilyOrientationHsl:
        record_.alpha1 = a;
        record_.alpha2 = b;
        break;
    case kFamilyOrientationLinear:
        record_.p1 = a;
        record_.p2 = b;
        break;
    default:
        break;
    }
    showRecord();
}

void PaletteEditor::showRecord()
{
    loading_ = true;
    name_->setText(QString::fromStdString(record_.name));
    if (first_) {
        double a = 0.0, b = 0.0;
        switch (record_.family) {
        case kFamilySlope:
            a = record_.centre, b = record_.width;
            break;
        case kFamilyDirection:
            a = record_.phase;
            break;
        case kFamilyDirectionHsl:
        case kFamilyOrientationHsl:
            a = record_.alpha1, b = record_.alpha2;
            break;
        default:
            a = record_.p1, b = record_.p2;
            break;
        }
        first_->setValue(a);
        second_->setValue(b);
        second_->setEnabled(record_.family != kFamilyDirection);
        const bool withColours
            = record_.family == kFamilySlope || record_.family == kFamilyDirection;
        for (std::size_t k = 0; k < colours_.size(); ++k) {
            if (!colours_[k])
                continue;
            colours_[k]->setEnabled(withColours);
            const QColor c(
                record_.control[3 * k], record_.control[3 * k + 1], record_.control[3 * k + 2]);
            colours_[k]->setStyleSheet(QStringLiteral("background-color: %1").arg(c.name()));
        }
    }
    ColourTable table;
    computePalette(record_, table);
    strip_->setTable(table);
    loading_ = false;
}

PaletteManager::PaletteManager(QWidget* parent)
    : QWidget(parent, Qt::Tool)
{
    setWindowTitle(QStringLiteral("Palettes"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    list_ = new QListWidget(this);
    layout->addWidget(list_, 1);
    strip_ = new PaletteStrip(this);
    layout->addWidget(strip_);
    auto* buttons = new QHBoxLayout;
    auto addButton = [&](const char* label, auto slot) {
        auto* button = new QPushButton(QString::fromUtf8(label), this);
        button->setObjectName(QString::fromUtf8(label));
        connect(button, &QPushButton::clicked, this, slot);
        buttons->addWidget(button);
    };
    addButton("Importer...", [this] { importAsked(); });
    addButton("Exporter...", [this] { exportAsked(); });
    addButton("Supprimer", [this] { removeSelected(); });
    addButton("Ajouter", [this] { addFromEditor(); });
    layout->addLayout(buttons);
    connect(list_, &QListWidget::currentRowChanged, this, [this] {
        selectionChanged();
        applyToActiveImage();
    });
    reloadList();
    // Open on the active image's palette, without changing it.
    if (DataRecord* active = dataActiveImage()) {
        const PaletteRef shown = displaySettings(*active).palette;
        const int row = paletteIndexOf(findPalette(shown.family, shown.variant));
        if (row >= 0) {
            const QSignalBlocker block(list_);
            list_->setCurrentRow(row);
            selectionChanged();
        }
    }
}

void PaletteManager::reloadList()
{
    const int row = list_->currentRow();
    const QSignalBlocker block(list_);
    list_->clear();
    for (int i = 0; i < paletteCount(); ++i)
        list_->addItem(QString::fromStdString(paletteAt(i)->name));
    if (list_->count() > 0)
        list_->setCurrentRow(std::clamp(row, 0, list_->count() - 1));
    selectionChanged();
}

PaletteRecord* PaletteManager::selected() const
{
    return paletteAt(list_->currentRow());
}

void PaletteManager::select(int index)
{
    list_->setCurrentRow(index);
}

namespace {

// Puts a tool window that has never been shown beside its owner (right of it, or left
// when the screen has no room there) rather than where the window system drops it: with
// no window manager that is the screen's corner, over the palette list.
void placeBeside(QWidget& window, const QWidget& owner)
{
    if (window.testAttribute(Qt::WA_WState_ExplicitShowHide) || !owner.isVisible())
        return;
    window.adjustSize();
    const QRect frame = owner.frameGeometry();
    const QSize size = window.frameGeometry().size().expandedTo(window.sizeHint());
    const QRect room = owner.screen() ? owner.screen()->availableGeometry() : QRect();
    QPoint at(frame.right() + 8, frame.top());
    if (room.isValid() && at.x() + size.width() > room.right())
        at.setX(std::max(room.left(), frame.left() - 8 - size.width()));
    if (room.isValid())
        at.setY(
            std::clamp(at.y(), room.top(), std::max(room.top(), room.bottom() - size.height())));
    window.move(at);
}

} // namespace

PaletteEditor* PaletteManager::openEditor(PaletteEditor::Kind kind)
{
    PaletteEditor*& editor = editors_[std::size_t(kind)];
    if (!editor)
        editor = new PaletteEditor(kind, this);
    editor_ = editor;
    if (isVisible()) {
        placeBeside(*editor, *this);
        editor->show();
        editor->raise();
    }
    return editor;
}

void PaletteManager::selectionChanged()
{
    const PaletteRecord* palette = selected();
    if (!palette) {
        ColourTable grey;
        fillGreyRamp(grey);
        strip_->setTable(grey);
        return;
    }
    ColourTable table;
    computePalette(*palette, table);
    strip_->setTable(table);
    openEditor(PaletteEditor::kindOf(palette->family))->load(*palette);
}

bool PaletteManager::importFile(const QString& path, QString* why)
{
    std::string reason;
    PaletteRecord* added = importColormap(path.toStdString(), &reason);
    if (!added) {
        if (why)
            *why = QString::fromStdString(reason);
        return false;
    }
    reloadList();
    select(paletteIndexOf(added));
    return true;
}

bool PaletteManager::exportSelected(const QString& name, const QString& path)
{
    const PaletteRecord* palette = selected();
    return palette && writeColormap(*palette, path.toStdString(), name.toStdString());
}

bool PaletteManager::removeSelected()
{
    const PaletteRecord* palette = selected();
    if (!palette || !removePalette(palette))
        return false;
    reloadList();
    return true;
}

bool PaletteManager::applyToActiveImage()
{
    const PaletteRecord* palette = selected();
    DataRecord* active = dataActiveImage();
    return palette && active
        && setRecordPalette(*active, PaletteRef { palette->family, palette->variant });
}

PaletteRecord* PaletteManager::addFromEditor()
{
    if (!editor_)
        openEditor(PaletteEditor::Slope);
    PaletteRecord* added = addUserPalette(editor_->record());
    if (added) {
        reloadList();
        select(paletteIndexOf(added));
    }
    return added;
}

void PaletteManager::importAsked()
{
    char file[PARAM_PATH_BUFFER];
    copyToBuffer(file, kPaletteDefaultFileName);
    if (!dozBoxParameter(kPaletteImportBox, file))
        return;
    QString why;
    if (!importFile(QString::fromLocal8Bit(file), &why))
        QMessageBox::warning(this, QStringLiteral("Importer..."),
            why.isEmpty() ? QStringLiteral("Impossible de lire la palette \"%1\"")
                                .arg(QString::fromLocal8Bit(file))
                          : why);
}

void PaletteManager::exportAsked()
{
    const PaletteRecord* palette = selected();
    if (!palette)
        return;
    char name[PARAM_STRING_BUFFER];
    char file[PARAM_PATH_BUFFER];
    copyToBuffer(name, palette->name);
    copyToBuffer(file, kPaletteDefaultFileName);
    if (!dozBoxParameter(kPaletteExportBox, name, file))
        return;
    if (!exportSelected(QString::fromUtf8(name), QString::fromLocal8Bit(file)))
        QMessageBox::warning(this, QStringLiteral("Exporter..."),
            QStringLiteral("Impossible d'écrire la palette dans \"%1\"")
                .arg(QString::fromLocal8Bit(file)));
}

void openPaletteManager(QWidget* parent)
{
    if (!s_manager) {
        s_manager = new PaletteManager(parent);
        // Over the work area rather than the window's corner, where the data list is.
        if (parent && parent->isVisible())
            s_manager->move(parent->mapToGlobal(QPoint(parent->width() / 4, 80)));
    }
    s_manager->show();
    s_manager->raise();
    s_manager->activateWindow();
    if (PaletteEditor* editor = s_manager->editor()) {
        placeBeside(*editor, *s_manager);
        editor->show();
        editor->raise();
    }
}

PaletteManager* paletteManager()
{
    return s_manager.data();
}

} // namespace vexa::gui
