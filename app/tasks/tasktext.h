// Texts of the task display: the main window's title, the rows of the task window
// and their percentage and time lines. Pure functions, so the Qt layer only places
// the strings.
#pragma once

#include <ctime>
#include <string>

namespace vexa {

// "Vexa" with no worker task, "1 Calcul en cours..." with one, else
// "%d Calculs en cours...".
std::string taskTitleText(int workerCount);

// Row of a task: "Tâche %d (%s)" with its sequence number and start text.
std::string taskRowText(int sequence, const std::string& startText);

// Progress as a percentage: "%.1f %%" of fraction × 100, with a leading 0 below 10 %
// ("04.0 %"). The caller shows it only when the fraction is above 0.
std::string taskPercentText(double fraction);

// Duration as "%.2d:%.2d:%.2d" (hours, minutes, seconds); negative counts as 0.
std::string taskClockText(long long seconds);

// Local start time as "%.2d/%.2d/%.4d - %.2dh%.2d" (day, month, year, hour, minute).
std::string taskStartText(std::time_t when);

} // namespace vexa
