#include "main/gui/taskwindow.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <ctime>

namespace vexa::gui {

TaskWindow::TaskWindow(QWidget* parent)
    : QWidget(parent)
{
    setWindowTitle(QString::fromUtf8("Tâches"));
    tree_ = new QTreeWidget(this);
    tree_->setHeaderHidden(true);
    auto* buttons = new QHBoxLayout;
    for (const char* label : { kTaskButtonSuspend, kTaskButtonResume, kTaskButtonStop }) {
        auto* button = new QPushButton(QString::fromUtf8(label), this);
        button->setEnabled(false);
        buttons->addWidget(button);
    }
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tree_, 1);
    layout->addLayout(buttons);
    resize(360, 240);
    refresh();
}

void TaskWindow::refresh()
{
    model_.update(std::time(nullptr));
    tree_->clear();
    for (const TaskWindowRow& row : model_.rows()) {
        auto* item = new QTreeWidgetItem(tree_, { QString::fromUtf8(row.text.c_str()) });
        for (const std::string& line : row.lines)
            new QTreeWidgetItem(item, { QString::fromUtf8(line.c_str()) });
        item->setExpanded(true);
    }
}

} // namespace vexa::gui
