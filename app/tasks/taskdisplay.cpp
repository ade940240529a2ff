#include "tasks/taskdisplay.h"

#include "tasks/taskcontext.h"
#include "tasks/tasktext.h"

#include <algorithm>

namespace vexa {

TaskButtons taskButtonsFor(TaskRunState state)
{
    TaskButtons buttons;
    buttons.suspend = state == TaskRunState::Running;
    buttons.resume = state == TaskRunState::Suspended;
    buttons.stop = state == TaskRunState::Running || state == TaskRunState::Suspended;
    return buttons;
}

std::string taskDisplayTitle()
{
    return taskTitleText(taskWorkerContextCount());
}

bool TaskWindowModel::update(std::time_t now)
{
    TaskContext* head = taskListLock();
    struct Unlock {
        ~Unlock() { taskListUnlock(); }
    } unlock;
    if (!head || head->isMain) {
        bool changed = !rows_.empty();
        rows_.clear();
        return changed;
    }
    TaskContext* oldest = head;
    while (oldest->next)
        oldest = oldest->next;

    bool changed = false;
    std::vector<TaskWindowRow> updated;
    for (TaskContext* c = oldest; c; c = c->prev) {
        if (c->isMain)
            continue;
        auto it = std::find_if(rows_.begin(), rows_.end(),
            [c](const TaskWindowRow& row) { return row.sequence == c->sequence; });
        TaskWindowRow row;
        if (it != rows_.end()) {
            row = std::move(*it);
        } else {
            row.sequence = c->sequence;
            row.text = taskRowText(c->sequence, c->startText);
            changed = true;
        }
        long long elapsed = static_cast<long long>(now - c->startTime);
        row.lines.clear();
        if (c->progress.fraction > 0)
            row.lines.push_back(taskPercentText(c->progress.fraction));
        row.lines.push_back(taskClockText(elapsed));
        long long remaining = progressRemainingSeconds(c->progress.fraction, elapsed);
        if (remaining >= 0)
            row.lines.push_back(taskClockText(remaining));
        row.state = taskRunState(c->sequence);
        row.fraction = c->progress.fraction;
        updated.push_back(std::move(row));
    }
    // Rows of tasks that were not seen (ended) go.
    for (const TaskWindowRow& old : rows_)
        if (std::none_of(updated.begin(), updated.end(),
                [&](const TaskWindowRow& row) { return row.sequence == old.sequence; }))
            changed = true;
    rows_ = std::move(updated);
    return changed;
}

int taskProgressIcon(double fraction)
{
    if (!(fraction > 0))
        return 1;
    return 1 + std::clamp(int(fraction * 4), 0, 4);
}

} // namespace vexa
