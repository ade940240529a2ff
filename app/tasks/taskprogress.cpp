#include "tasks/taskprogress.h"

#include <algorithm>
#include <limits>

namespace vexa {

void progressSetInterval(TaskProgress& progress, std::int32_t a, std::int32_t b)
{
    if (a == b) {
        // a + 1 would overflow at the top of the range: keep one step below instead.
        if (a == std::numeric_limits<std::int32_t>::max())
            a = a - 1;
        else
            b = a + 1;
    }
    progress.min = std::min(a, b);
    progress.max = std::max(a, b);
}

bool progressSetPosition(TaskProgress& progress, std::int32_t pos)
{
    if (pos < progress.min || pos > progress.max)
        return false;
    // Before any interval is set min = max = 0: position 0 is accepted with fraction 0
    // rather than divided by zero.
    std::int64_t span = std::int64_t(progress.max) - progress.min;
    progress.pos = pos;
    progress.fraction = span > 0 ? double(std::int64_t(pos) - progress.min) / double(span) : 0.0;
    return true;
}

long long progressRemainingSeconds(double fraction, long long elapsedSeconds)
{
    if (!(fraction > 0.0))
        return -1;
    double remaining = (1.0 / fraction - 1.0) * double(elapsedSeconds);
    if (!(remaining > 0.0))
        return 0;
    // A tiny fraction over a long run would not fit: cap at a century.
    constexpr double kCap = 100.0 * 365 * 24 * 3600;
    return static_cast<long long>(std::min(remaining, kCap));
}

} // namespace vexa
