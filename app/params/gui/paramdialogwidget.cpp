#include "params/gui/paramdialogwidget.h"

#include "host/host.h"
#include "params/paramdialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QFileDialog>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionComboBox>

#include <array>

namespace vexa::gui {

using params::PlacedKind;

namespace {

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// Check boxes and buttons read '&' as a shortcut mark; labels of the box are plain.
QString caption(std::string_view text)
{
    return fromUtf8(text).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

// Measures with the dialog's font and style. Hidden probe controls of each kind give
// the room the controls ask around their text.
class WidgetMetrics final : public params::ParamMetrics {
public:
    explicit WidgetMetrics(QWidget* dialog)
        : metrics_(dialog->font())
        , edit_(new QLineEdit(dialog))
        , combo_(new QComboBox(dialog))
        , check_(new QCheckBox(dialog))
        , button_(new QPushButton(dialog))
    {
        for (QWidget* probe : probes())
            probe->hide();
    }
    ~WidgetMetrics() override
    {
        for (QWidget* probe : probes())
            delete probe;
    }
    WidgetMetrics(const WidgetMetrics&) = delete;
    WidgetMetrics& operator=(const WidgetMetrics&) = delete;

    int charWidth() const override { return std::max(1, metrics_.averageCharWidth()); }
    int lineHeight() const override { return std::max(1, metrics_.height()); }
    int textWidth(std::string_view text) const override
    {
        return metrics_.horizontalAdvance(fromUtf8(text));
    }
    params::Extent controlSize(
        PlacedKind kind, std::string_view text, int contentWidth) const override
    {
        QSize size;
        switch (kind) {
        case PlacedKind::IntField:
        case PlacedKind::RealField:
        case PlacedKind::TextField:
        case PlacedKind::FileField: {
            // A line edit's hint is room for 17 'x' plus its frame and margins.
            const QSize hint = edit_->sizeHint();
            const int frame = hint.width() - 17 * metrics_.horizontalAdvance(QLatin1Char('x'));
            size = QSize(contentWidth + std::max(0, frame), hint.height());
            break;
        }
        case PlacedKind::List:
        case PlacedKind::LongList: {
            QStyleOptionComboBox option;
            option.initFrom(combo_);
            option.editable = false;
            option.frame = true;
            // The entry is drawn a little inside the edit area.
            const QSize room(contentWidth + metrics_.horizontalAdvance(QLatin1Char('x')),
                std::max(metrics_.height(), 14) + 2);
            size = combo_->style()->sizeFromContents(QStyle::CT_ComboBox, &option, room, combo_);
            break;
        }
        case PlacedKind::Check:
            check_->setText(caption(text));
            size = check_->sizeHint();
            break;
        case PlacedKind::Button:
        case PlacedKind::ChooserButton:
        case PlacedKind::Ok:
        case PlacedKind::Cancel:
            button_->setText(caption(text));
            size = button_->sizeHint();
            break;
        case PlacedKind::Label:
            size = QSize(contentWidth, metrics_.height());
            break;
        }
        return { size.width(), size.height() };
    }

private:
    std::array<QWidget*, 4> probes() const { return { edit_, combo_, check_, button_ }; }

    QFontMetrics metrics_;
    QLineEdit* edit_;
    QComboBox* combo_;
    QCheckBox* check_;
    QPushButton* button_;
};

} // namespace

ParamDialogWidget::ParamDialogWidget(ParamBox& box, QWidget* parent)
    : QDialog(parent)
    , box_(box)
{
    setWindowTitle(QString::fromUtf8("Paramètre(s)"));
    setModal(true);
    fields_.assign(box.items.size(), nullptr);
    {
        const WidgetMetrics metrics(this);
        layout_ = params::layoutParamBox(box, metrics);
    }

    for (const params::PlacedControl& placed : layout_.controls) {
        QWidget* widget = nullptr;
        ParamItem* item = placed.item >= 0 ? &box.items[placed.item] : nullptr;
        const QString text = QString::fromUtf8(placed.text.c_str());
        switch (placed.kind) {
        case PlacedKind::IntField:
        case PlacedKind::RealField:
        case PlacedKind::TextField:
        case PlacedKind::FileField: {
            auto* edit = new QLineEdit(text, this);
            if (placed.kind == PlacedKind::FileField)
                edit->setReadOnly(true);
            if (placed.kind == PlacedKind::TextField)
                edit->setMaxLength(int(params::kMaxStringChars));
            // Long texts open at their start, not scrolled to their end.
            edit->setCursorPosition(0);
            fields_[placed.item] = edit;
            widget = edit;
            break;
        }
        case PlacedKind::ChooserButton: {
            auto* button = new QPushButton(QStringLiteral("Choix"), this);
            button->setAutoDefault(false);
            const int index = placed.item;
            connect(button, &QPushButton::clicked, this, [this, index] {
                ParamItem& fileItem = box_.items[index];
                if (params::chooseFile(fileItem) && fields_[index])
                    fields_[index]->setText(QString::fromUtf8(params::fieldText(fileItem).c_str()));
            });
            widget = button;
            break;
        }
        case PlacedKind::List:
        case PlacedKind::LongList: {
            auto* combo = new QComboBox(this);
            for (const std::string& entry : params::cutListLabel(item->label))
                combo->addItem(QString::fromUtf8(entry.c_str()));
            const int bound = params::boundIndex(*item);
            // An index outside the entries shows no selection and stays bound.
            combo->setCurrentIndex(bound >= 0 && bound < combo->count() ? bound : -1);
            const int index = placed.item;
            connect(combo, &QComboBox::currentIndexChanged, this, [this, index](int chosen) {
                if (chosen >= 0)
                    params::selectListEntry(box_.items[index], chosen);
            });
            widget = combo;
            break;
        }
        case PlacedKind::Check: {
            auto* check = new QCheckBox(caption(placed.text), this);
            check->setChecked(params::boundIndex(*item) == 1);
            const int index = placed.item;
            connect(check, &QCheckBox::clicked, this, [this, index, check] {
                const QSignalBlocker blocker(check);
                check->setChecked(params::toggleCheck(box_.items[index]) == 1);
            });
            widget = check;
            break;
        }
        case PlacedKind::Button: {
            auto* button = new QPushButton(caption(placed.text), this);
            button->setAutoDefault(false);
            const int index = placed.item;
            connect(button, &QPushButton::clicked, this,
                [this, index] { params::pressButton(box_.items[index]); });
            widget = button;
            break;
        }
        case PlacedKind::Ok: {
            ok_ = new QPushButton(QStringLiteral("Ok"), this);
            ok_->setDefault(true);
            connect(ok_, &QPushButton::clicked, this, &ParamDialogWidget::validate);
            widget = ok_;
            break;
        }
        case PlacedKind::Cancel: {
            cancel_ = new QPushButton(QStringLiteral("Annuler"), this);
            // Enter on a focused "Annuler" cancels; elsewhere it stays "Ok".
            cancel_->setAutoDefault(true);
            connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
            widget = cancel_;
            break;
        }
        case PlacedKind::Label:
            break;
        }
        if (widget)
            widget->setObjectName(QStringLiteral("control%1").arg(placed.id));
        controls_.push_back(widget);
    }
    // Labels come after the fields so that the fields lead the keyboard order.
    for (const params::PlacedControl& placed : layout_.labels) {
        auto* label = new QLabel(QString::fromUtf8(placed.text.c_str()), this);
        label->setTextFormat(Qt::PlainText);
        if (placed.alignRight)
            label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setGeometry(placed.x, placed.y, placed.width, placed.height);
        label->setObjectName(QStringLiteral("label%1").arg(placed.id));
    }
    placeControls(layout_);
    const QSize laidOut(std::max(1, layout_.clientWidth), std::max(1, layout_.clientHeight));
    setMinimumSize(laidOut);
    resize(laidOut);

    // 30 pixels in from the top-left corner of the screen under the mouse.
    if (QScreen* screen = QGuiApplication::screenAt(QCursor::pos()))
        move(screen->availableGeometry().topLeft() + QPoint(30, 30));
    if (ok_)
        ok_->setFocus();
}

void ParamDialogWidget::placeControls(const params::ParamLayout& layout)
{
    for (size_t i = 0; i < controls_.size() && i < layout.controls.size(); ++i) {
        const params::PlacedControl& placed = layout.controls[i];
        if (controls_[i])
            controls_[i]->setGeometry(placed.x, placed.y, placed.width, placed.height);
    }
}

void ParamDialogWidget::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    placeControls(params::fitParamLayout(layout_, width(), height()));
}

QLineEdit* ParamDialogWidget::fieldOf(int item) const
{
    return item >= 0 && item < int(fields_.size()) ? fields_[item] : nullptr;
}

void ParamDialogWidget::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        if (box_.cancellable)
            reject();
        else
            event->accept();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        validate();
        return;
    }
    QDialog::keyPressEvent(event);
}

void ParamDialogWidget::validate()
{
    std::vector<std::string> texts(box_.items.size());
    for (size_t i = 0; i < fields_.size(); ++i)
        if (fields_[i])
            texts[i] = fields_[i]->text().toStdString();
    params::validateParamBox(box_, texts);
    accept();
}

int runParamDialog(ParamBox* box, QWidget* owner)
{
    if (!box)
        return 0;
    ParamDialogWidget dialog(*box, owner);
    return dialog.exec() == QDialog::Accepted ? 1 : 0;
}

void installParamPresenters(std::function<QWidget*()> ownerProvider)
{
    // Boxes may be shown from worker threads: the host carries them to the GUI thread.
    params::setParamDialogPresenter([](ParamBox* box) { return hostParamDialog(box); });
    params::setFileChooserPresenter(
        [ownerProvider](const FileSelector& selector) -> std::optional<std::string> {
            std::optional<std::string> chosen;
            runOnInterfaceThread(GuiRequest::ChooseFile, [&] {
                const QString title = QString::fromUtf8(selector.title.c_str());
                const QString initial = QString::fromUtf8(selector.fileName.data());
                QWidget* owner = ownerProvider ? ownerProvider() : nullptr;
                QString path = selector.options & FileSelector::kSaveName
                    ? QFileDialog::getSaveFileName(owner, title, initial)
                    : QFileDialog::getOpenFileName(owner, title, initial);
                if (!path.isEmpty())
                    chosen = path.toStdString();
            });
            return chosen;
        });
}

} // namespace vexa::gui
