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
#include <QScreen>

namespace vexa::gui {

using params::PlacedKind;

ParamDialogWidget::ParamDialogWidget(ParamBox& box, QWidget* parent)
    : QDialog(parent)
    , box_(box)
{
    setWindowTitle(QString::fromUtf8("Paramètre(s)"));
    setModal(true);
    fields_.assign(box.items.size(), nullptr);

    const QFontMetrics metrics(font());
    params::LayoutMetrics units;
    units.cw = std::max(1, metrics.averageCharWidth());
    units.ch = std::max(1, metrics.height());
    const params::ParamLayout layout
        = params::layoutParamBox(box, units, [&](std::string_view text) {
              return metrics.horizontalAdvance(QString::fromUtf8(text.data(), int(text.size())));
          });

    for (const params::PlacedControl& placed : layout.controls) {
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
            auto* check = new QCheckBox(text, this);
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
            auto* button = new QPushButton(text, this);
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
        case PlacedKind::Label:
            break;
        }
        if (widget) {
            widget->setGeometry(placed.x, placed.y, placed.width, placed.height);
            widget->setObjectName(QStringLiteral("control%1").arg(placed.id));
        }
    }
    // Labels come after the fields so that the fields lead the keyboard order.
    for (const params::PlacedControl& placed : layout.labels) {
        auto* label = new QLabel(QString::fromUtf8(placed.text.c_str()), this);
        label->setGeometry(placed.x, placed.y, placed.width, placed.height);
        label->setObjectName(QStringLiteral("label%1").arg(placed.id));
    }
    setFixedSize(std::max(1, layout.clientWidth), std::max(1, layout.clientHeight));

    // 30 pixels in from the top-left corner of the screen under the mouse.
    if (QScreen* screen = QGuiApplication::screenAt(QCursor::pos()))
        move(screen->availableGeometry().topLeft() + QPoint(30, 30));
    if (ok_)
        ok_->setFocus();
}

QLineEdit* ParamDialogWidget::fieldOf(int item) const
{
    return item >= 0 && item < int(fields_.size()) ? fields_[item] : nullptr;
}

void ParamDialogWidget::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
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
                QString path = QFileDialog::getOpenFileName(
                    ownerProvider ? ownerProvider() : nullptr, title, initial);
                if (!path.isEmpty())
                    chosen = path.toStdString();
            });
            return chosen;
        });
}

} // namespace vexa::gui
