#include "tasks/taskprogress.h"
#include "tasks/tasktext.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <regex>

namespace vexa {
namespace {

TEST(TaskText, TitleCountsWorkerTasks)
{
    EXPECT_EQ(taskTitleText(0), "Vexa");
    EXPECT_EQ(taskTitleText(1), "1 Calcul en cours...");
    EXPECT_EQ(taskTitleText(2), "2 Calculs en cours...");
    EXPECT_EQ(taskTitleText(12), "12 Calculs en cours...");
}

TEST(TaskText, PercentageHasLeadingZeroBelowTenPercent)
{
    EXPECT_EQ(taskPercentText(0.04), "04.0 %");
    EXPECT_EQ(taskPercentText(0.25), "25.0 %");
    EXPECT_EQ(taskPercentText(0.0999), "10.0 %"); // decided on the rounded text
    EXPECT_EQ(taskPercentText(0.0), "00.0 %");
    EXPECT_EQ(taskPercentText(0.1), "10.0 %");
    EXPECT_EQ(taskPercentText(1.0), "100.0 %");
}

TEST(TaskText, ClockSplitsHoursMinutesSeconds)
{
    EXPECT_EQ(taskClockText(0), "00:00:00");
    EXPECT_EQ(taskClockText(59), "00:00:59");
    EXPECT_EQ(taskClockText(3661), "01:01:01");
    EXPECT_EQ(taskClockText(100 * 3600 + 5), "100:00:05");
    EXPECT_EQ(taskClockText(-4), "00:00:00");
}

TEST(TaskText, RowAndStartTextFollowTheirFormats)
{
    EXPECT_EQ(taskRowText(3, "01/02/2024 - 09h05"), "Tâche 3 (01/02/2024 - 09h05)");
    setenv("TZ", "UTC", 1);
    tzset();
    // 2024-02-01 09:05:30 UTC
    EXPECT_EQ(taskStartText(1706778330), "01/02/2024 - 09h05");
    std::regex shape(R"(\d\d/\d\d/\d{4} - \d\dh\d\d)");
    EXPECT_TRUE(std::regex_match(taskStartText(std::time(nullptr)), shape));
}

TEST(TaskProgress, EqualBoundsMakeOneStepAndOutsidePositionsAreIgnored)
{
    TaskProgress p;
    progressSetInterval(p, 5, 5);
    EXPECT_EQ(p.min, 5);
    EXPECT_EQ(p.max, 6);
    EXPECT_FALSE(progressSetPosition(p, 7));
    EXPECT_EQ(p.fraction, -1.0);
    EXPECT_TRUE(progressSetPosition(p, 6));
    EXPECT_DOUBLE_EQ(p.fraction, 1.0);
}

TEST(TaskProgress, BoundsInAnyOrderAndExtremeRanges)
{
    TaskProgress p;
    progressSetInterval(p, 100, 0);
    EXPECT_EQ(p.min, 0);
    EXPECT_EQ(p.max, 100);
    EXPECT_TRUE(progressSetPosition(p, 25));
    EXPECT_DOUBLE_EQ(p.fraction, 0.25);
    EXPECT_FALSE(progressSetPosition(p, -1));
    EXPECT_EQ(p.pos, 25);

    progressSetInterval(p, INT_MAX, INT_MAX);
    EXPECT_EQ(p.min, INT_MAX - 1);
    EXPECT_EQ(p.max, INT_MAX);

    progressSetInterval(p, INT_MIN, INT_MAX);
    EXPECT_TRUE(progressSetPosition(p, 0));
    EXPECT_NEAR(p.fraction, 0.5, 1e-9);
}

TEST(TaskProgress, PositionBeforeAnyIntervalDoesNotDivideByZero)
{
    TaskProgress p;
    EXPECT_TRUE(progressSetPosition(p, 0));
    EXPECT_EQ(p.fraction, 0.0);
}

TEST(TaskProgress, RemainingTimeFromFractionAndElapsed)
{
    EXPECT_EQ(progressRemainingSeconds(-1.0, 50), -1);
    EXPECT_EQ(progressRemainingSeconds(0.0, 50), -1);
    EXPECT_EQ(progressRemainingSeconds(0.25, 60), 180);
    EXPECT_EQ(progressRemainingSeconds(1.0, 60), 0);
    EXPECT_EQ(progressRemainingSeconds(0.3, 10), 23); // 23.33 truncated
    EXPECT_GT(progressRemainingSeconds(1e-300, 1000), 0); // capped, no overflow
}

} // namespace
} // namespace vexa
