#include "main/gui/taskwindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <ctime>

namespace vexa::gui {

namespace {

constexpr int kSequenceRole = Qt::UserRole;

// The progress icons beside the program, loaded once.
QIcon progressIcon(int index)
{
    static const std::array<QIcon, 5> icons = [] {
        std::array<QIcon, 5> loaded;
        const QDir dir(QCoreApplication::applicationDirPath());
        for (int i = 0; i < 5; ++i)
            loaded[std::size_t(i)]
                = QIcon(dir.filePath(QStringLiteral("ressources/icon_progress%1.bmp").arg(i + 1)));
        return loaded;
    }();
    return icons[std::size_t(std::clamp(index, 1, 5) - 1)];
}

} // namespace

TaskWindow::TaskWindow(QWidget* parent)
    : QWidget(parent)
{
    setWindowTitle(QString::fromUtf8("Tâches"));
    tree_ = new QTreeWidget(this);
    tree_->setHeaderHidden(true);
    auto* buttons = new QHBoxLayout;
    auto makeButton = [&](const char* label) {
        auto* button = new QPushButton(QString::fromUtf8(label), this);
        button->setEnabled(false);
        buttons->addWidget(button);
        return button;
    };
    suspend_ = makeButton(kTaskButtonSuspend);
    resume_ = makeButton(kTaskButtonResume);
    stop_ = makeButton(kTaskButtonStop);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tree_, 1);
    layout->addLayout(buttons);
    resize(360, 240);

    connect(tree_, &QTreeWidget::itemSelectionChanged, this, &TaskWindow::updateButtons);
    connect(suspend_, &QPushButton::clicked, this, [this] { act(taskSuspend); });
    connect(resume_, &QPushButton::clicked, this, [this] { act(taskResume); });
    connect(stop_, &QPushButton::clicked, this, [this] { act(taskStop); });
    refresh();
}

std::int32_t TaskWindow::selectedSequence() const
{
    QTreeWidgetItem* item = tree_->currentItem();
    if (!item || !item->isSelected())
        return -1;
    while (item->parent())
        item = item->parent();
    return item->data(0, kSequenceRole).toInt();
}

void TaskWindow::updateButtons()
{
    std::int32_t sequence = selectedSequence();
    TaskButtons state = sequence < 0 ? TaskButtons {} : TaskWindowModel::buttons(sequence);
    suspend_->setEnabled(state.suspend);
    resume_->setEnabled(state.resume);
    stop_->setEnabled(state.stop);
}

void TaskWindow::act(bool (*action)(std::int32_t sequence))
{
    std::int32_t sequence = selectedSequence();
    if (sequence >= 0)
        action(sequence);
    updateButtons();
}

void TaskWindow::refresh()
{
    // The tree is rebuilt on every tick: the selection follows its task.
    std::int32_t selected = selectedSequence();
    model_.update(std::time(nullptr));
    {
        const QSignalBlocker blocker(tree_);
        tree_->clear();
        for (const TaskWindowRow& row : model_.rows()) {
            auto* item = new QTreeWidgetItem(tree_, { QString::fromUtf8(row.text.c_str()) });
            item->setData(0, kSequenceRole, row.sequence);
            item->setIcon(0, progressIcon(taskProgressIcon(row.fraction)));
            for (const std::string& line : row.lines)
                new QTreeWidgetItem(item, { QString::fromUtf8(line.c_str()) });
            item->setExpanded(true);
            if (row.sequence == selected) {
                tree_->setCurrentItem(item);
                item->setSelected(true);
            }
        }
    }
    updateButtons();
}

} // namespace vexa::gui
