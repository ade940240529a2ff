// "vexa --batch FILE": the headless run of a batch file, without any window.
#pragma once

#include <QString>

namespace vexa::gui {

// Starts the core with the batch host, runs the file and stops. Returns the process
// status: 0 when every line ran, 1 after the first failure (told on the error stream,
// in French, with its line).
int runBatchMode(const QString& programDir, const QString& batchFile);

} // namespace vexa::gui
