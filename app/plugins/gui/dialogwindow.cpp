#include "plugins/gui/dialogwindow.h"

#include "plugins/dialogapi.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace vexa::gui {

namespace {

QHash<quint32, QPointer<PluginDialog>>& liveDialogs()
{
    static QHash<quint32, QPointer<PluginDialog>> dialogs;
    return dialogs;
}

bool isEdit(int kind)
{
    return kind == VEXA_DIALOG_TEXT || kind == VEXA_DIALOG_INT || kind == VEXA_DIALOG_REAL;
}

} // namespace

PluginDialog::PluginDialog(std::uint32_t window, QWidget* parent)
    : QDialog(parent)
    , window_(window)
{
    const std::optional<plugins::DialogModel> model = plugins::dialogSnapshot(window);
    if (!model)
        return;
    setWindowTitle(QString::fromStdString(model->title));
    auto* layout = new QVBoxLayout(this);
    // Labels and their edit fields in two aligned columns; other items span both.
    auto* grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    int row = 0;
    bool besideLabel = false; // the previous item is a label that leaves column 1 free
    const std::vector<plugins::DialogItem>& items = model->items;
    for (std::size_t n = 0; n < items.size(); ++n) {
        const plugins::DialogItem& item = items[n];
        const QString text = QString::fromStdString(item.text);
        const int id = item.id;
        QWidget* widget = nullptr;
        switch (item.kind) {
        case VEXA_DIALOG_LABEL: {
            widget = new QLabel(text);
            const bool fieldFollows = n + 1 < items.size() && isEdit(items[n + 1].kind);
            grid->addWidget(widget, row++, 0, 1, fieldFollows ? 1 : 2);
            besideLabel = fieldFollows;
            break;
        }
        case VEXA_DIALOG_TEXT:
        case VEXA_DIALOG_INT:
        case VEXA_DIALOG_REAL: {
            auto* edit = new QLineEdit(text);
            connect(edit, &QLineEdit::textEdited, this, [this, id](const QString& now) {
                plugins::dialogUserText(window_, id, now.toStdString());
            });
            widget = edit;
            if (besideLabel)
                grid->addWidget(edit, row - 1, 1);
            else
                grid->addWidget(edit, row++, 0, 1, 2);
            besideLabel = false;
            break;
        }
        case VEXA_DIALOG_CHECK:
        case VEXA_DIALOG_RADIO: {
            QAbstractButton* button = item.kind == VEXA_DIALOG_CHECK
                ? static_cast<QAbstractButton*>(new QCheckBox(text))
                : static_cast<QAbstractButton*>(new QRadioButton(text));
            // Groups and exclusivity are the model's: a radio clicked stays checked.
            button->setAutoExclusive(false);
            const bool radio = item.kind == VEXA_DIALOG_RADIO;
            connect(button, &QAbstractButton::clicked, this, [this, id, radio](bool checked) {
                plugins::dialogUserChecked(window_, id, radio || checked);
                refresh();
            });
            widget = button;
            grid->addWidget(button, row++, 0, 1, 2);
            break;
        }
        case VEXA_DIALOG_BUTTON: {
            auto* button = new QPushButton(text);
            button->setAutoDefault(false);
            connect(button, &QPushButton::clicked, this,
                [this, id] { plugins::dialogUserPressed(window_, id); });
            widget = button;
            buttons->addWidget(button);
            break;
        }
        default:
            continue;
        }
        if (item.kind != VEXA_DIALOG_LABEL)
            besideLabel = false;
        ids_.push_back(id);
        widgets_.push_back(widget);
    }
    layout->addStretch();
    layout->addLayout(buttons);
    refresh();
}

void PluginDialog::refresh()
{
    const std::optional<plugins::DialogModel> model = plugins::dialogSnapshot(window_);
    if (!model || model->items.size() != widgets_.size())
        return;
    for (std::size_t i = 0; i < widgets_.size(); ++i) {
        const plugins::DialogItem& item = model->items[i];
        QWidget* widget = widgets_[i];
        widget->setEnabled(item.enabled);
        const QString text = QString::fromStdString(item.text);
        if (isEdit(item.kind)) {
            auto* edit = static_cast<QLineEdit*>(widget);
            // Only when it differs, so that the user's cursor stays where it is.
            if (edit->text() != text)
                edit->setText(text);
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            button->setText(text);
            if (item.kind != VEXA_DIALOG_BUTTON)
                button->setChecked(item.checked);
        } else if (auto* label = qobject_cast<QLabel*>(widget)) {
            label->setText(text);
        }
    }
}

QWidget* PluginDialog::itemWidget(int id) const
{
    for (std::size_t i = 0; i < ids_.size(); ++i)
        if (ids_[i] == id && id != 0)
            return widgets_[i];
    return nullptr;
}

bool showPluginDialog(std::uint32_t window, bool modal, QWidget* owner)
{
    if (plugins::dialogEnded(window))
        return false;
    auto* dialog = new PluginDialog(window, owner);
    liveDialogs().insert(window, dialog);
    // Whatever closes the window (a button, Escape, the close box) ends the dialog.
    QObject::connect(dialog, &QDialog::finished, dialog, [window] {
        liveDialogs().remove(window);
        plugins::dialogClosed(window);
    });
    if (modal) {
        dialog->exec();
        delete dialog;
        return true;
    }
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    return true;
}

PluginDialog* pluginDialog(std::uint32_t window)
{
    return liveDialogs().value(window);
}

void refreshPluginDialog(std::uint32_t window)
{
    if (PluginDialog* dialog = pluginDialog(window))
        dialog->refresh();
}

void closePluginDialog(std::uint32_t window)
{
    if (PluginDialog* dialog = pluginDialog(window))
        dialog->done(plugins::dialogResult(window));
}

} // namespace vexa::gui
