// Progress of a task: an interval, the last accepted position within it and the
// fraction done, from which the remaining time is estimated.
#pragma once

#include <cstdint>

namespace vexa {

struct TaskProgress {
    std::int32_t min = 0;
    std::int32_t max = 0;
    std::int32_t pos = 0;
    double fraction = -1.0; // -1 until the first accepted position
};

// Sets the interval from two bounds in any order; equal bounds make an interval of
// one step (a to a + 1, or a - 1 to a at the top of the range).
void progressSetInterval(TaskProgress& progress, std::int32_t a, std::int32_t b);

// Accepts pos only inside [min, max]: stores it and its fraction. False when refused.
bool progressSetPosition(TaskProgress& progress, std::int32_t pos);

// Seconds left given the fraction done and the seconds since the start: -1 while the
// fraction is not above 0, else max(0, (1 / fraction - 1) × elapsed), truncated.
long long progressRemainingSeconds(double fraction, long long elapsedSeconds);

} // namespace vexa
