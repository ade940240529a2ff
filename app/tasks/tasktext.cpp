#include "tasks/tasktext.h"

#include <cmath>
#include <cstdio>

namespace vexa {

std::string taskTitleText(int workerCount)
{
    if (workerCount <= 0)
        return "Vexa";
    if (workerCount == 1)
        return "1 Calcul en cours...";
    char text[64];
    std::snprintf(text, sizeof text, "%d Calculs en cours...", workerCount);
    return text;
}

std::string taskRowText(int sequence, const std::string& startText)
{
    return "Tâche " + std::to_string(sequence) + " (" + startText + ")";
}

std::string taskPercentText(double fraction)
{
    double percent = fraction * 100.0;
    // A fraction past 1 or a NaN cannot come from an accepted position; keep the
    // text bounded anyway.
    if (!(percent >= 0.0))
        percent = 0.0;
    if (percent > 100.0)
        percent = 100.0;
    char number[32];
    std::snprintf(number, sizeof number, "%.1f", percent);
    // Below 10 % the text gets a leading 0 ("04.0 %"). Decided on the rounded text, so
    // that 9.99 % reads "10.0 %" rather than "010.0 %".
    std::string text = std::round(percent * 10.0) < 100.0 ? "0" : "";
    return text + number + " %";
}

std::string taskClockText(long long seconds)
{
    if (seconds < 0)
        seconds = 0;
    long long hours = seconds / 3600;
    int minutes = static_cast<int>((seconds / 60) % 60);
    int secs = static_cast<int>(seconds % 60);
    char text[64];
    std::snprintf(text, sizeof text, "%.2lld:%.2d:%.2d", hours, minutes, secs);
    return text;
}

std::string taskStartText(std::time_t when)
{
    std::tm local {};
    if (!localtime_r(&when, &local))
        return {};
    char text[64];
    std::snprintf(text, sizeof text, "%.2d/%.2d/%.4d - %.2dh%.2d", local.tm_mday, local.tm_mon + 1,
        local.tm_year + 1900, local.tm_hour, local.tm_min);
    return text;
}

} // namespace vexa
