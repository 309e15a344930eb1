/*
 * The one table of outcomes: the report's names stand beside the preview's,
 * each its own, except that both of the preview's deferrals read "deferred".
 */
#include "removal/outcomes.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

TEST(Outcomes, EveryPredictionHasItsOwnReportNameButBothDeferralsShareOne)
{
    std::map<std::string, int> reported;
    for (int outcome = 0; outcome < OUTCOME_COUNT; outcome++)
        reported[ReportedOutcomeName((Outcome)outcome)]++;
    for (const auto &name : reported)
        EXPECT_EQ(name.first == "deferred" ? 2 : 1, name.second) << name.first;
    EXPECT_STREQ("removed-file", ReportedOutcomeName(WILL_REMOVE_FILE));
    EXPECT_STREQ("failed-read-only", ReportedOutcomeName(WILL_FAIL_READ_ONLY));
}

TEST(Outcomes, APassedOverRecordIsAPredictedFailureButOnlyAReportedWarning)
{
    const struct {
        Outcome outcome;
        bool predictedFailure, reportedFailure;
        const char *level;
    } cases[] = {
        {WILL_REMOVE_TREE, false, false, "note"},   {NAMES_NOTHING, false, false, "note"},
        {PASSED_OVER, true, false, "warning"},      {REFUSED, true, true, "error"},
        {TREE_STOPS, true, true, "error"},          {DEFERRED_WILL_FAIL, true, false, "note"},
        {FAILED_OTHERWISE, true, true, "error"},    {KEPT_FOR_REPORT, false, false, "note"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(OutcomeName(c.outcome));
        EXPECT_EQ(c.predictedFailure, IsFailure(c.outcome));
        EXPECT_EQ(c.reportedFailure, IsReportedFailure(c.outcome));
        EXPECT_STREQ(c.level, ReportedLevel(c.outcome));
    }
}
