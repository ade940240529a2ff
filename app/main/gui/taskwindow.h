// The task window: one tree row "Tâche %d (%s)" per worker task with its percentage
// and times, and the "Suspendre", "Activer", "Arrêter" buttons, shown disabled.
#pragma once

#include "tasks/taskdisplay.h"

#include <QWidget>

class QTreeWidget;

namespace vexa::gui {

class TaskWindow : public QWidget {
    Q_OBJECT
public:
    explicit TaskWindow(QWidget* parent = nullptr);
    QTreeWidget* tree() const { return tree_; }

public slots:
    void refresh();

private:
    QTreeWidget* tree_ = nullptr;
    TaskWindowModel model_;
};

} // namespace vexa::gui
