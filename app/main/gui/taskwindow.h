// The task window: one tree row "Tâche %d (%s)" per worker task with its percentage
// and times, and the "Suspendre", "Activer", "Arrêter" buttons, which act on the
// selected task.
#pragma once

#include "tasks/taskdisplay.h"

#include <QWidget>

class QPushButton;
class QTreeWidget;

namespace vexa::gui {

class TaskWindow : public QWidget {
    Q_OBJECT
public:
    explicit TaskWindow(QWidget* parent = nullptr);
    QTreeWidget* tree() const { return tree_; }
    QPushButton* suspendButton() const { return suspend_; }
    QPushButton* resumeButton() const { return resume_; }
    QPushButton* stopButton() const { return stop_; }

public slots:
    void refresh();

private:
    // Sequence of the task whose row (or a child line of it) is selected, -1 when none.
    std::int32_t selectedSequence() const;
    void updateButtons();
    void act(bool (*action)(std::int32_t sequence));

    QTreeWidget* tree_ = nullptr;
    QPushButton* suspend_ = nullptr;
    QPushButton* resume_ = nullptr;
    QPushButton* stop_ = nullptr;
    TaskWindowModel model_;
};

} // namespace vexa::gui
