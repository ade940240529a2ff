// The task display refreshed by the main window's 2000 ms timer: the window title and
// the rows of the task window. GUI-free: the Qt layer copies the texts into widgets.
#pragma once

#include "tasks/taskcontext.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace vexa {

// Labels of the task window's buttons.
inline const char* const kTaskButtonSuspend = "Suspendre";
inline const char* const kTaskButtonResume = "Activer";
inline const char* const kTaskButtonStop = "Arrêter";

// Which buttons act on a task in that state: suspend a running task, resume a
// suspended one, stop either. None for a task that is gone or already stopping.
struct TaskButtons {
    bool suspend = false;
    bool resume = false;
    bool stop = false;
};
TaskButtons taskButtonsFor(TaskRunState state);

struct TaskWindowRow {
    std::int32_t sequence = 0;
    std::string text; // "Tâche %d (%s)"
    // Child lines: the percentage when progress is known, the elapsed time, the
    // remaining time when known.
    std::vector<std::string> lines;
    TaskRunState state = TaskRunState::Running;
    double fraction = -1; // progress, -1 until known
};

// Which of the five progress icons ("icon_progress1.bmp" ... "icon_progress5.bmp")
// shows a progress fraction: 1 below a quarter (and unknown), one more per quarter,
// 5 when done.
int taskProgressIcon(double fraction);

// The tree of the task window: one row per worker task, oldest first.
class TaskWindowModel {
public:
    // Brings the rows up to date with the task list at time now (calendar seconds).
    // Returns true when rows were added or removed.
    bool update(std::time_t now);
    const std::vector<TaskWindowRow>& rows() const { return rows_; }
    // The buttons for the task of that row as it is now (the row may be stale).
    static TaskButtons buttons(std::int32_t sequence)
    {
        return taskButtonsFor(taskRunState(sequence));
    }

private:
    std::vector<TaskWindowRow> rows_;
};

// Title of the main window: "Vexa", "1 Calcul en cours..." or "%d Calculs en
// cours..." after the number of worker tasks.
std::string taskDisplayTitle();

} // namespace vexa
