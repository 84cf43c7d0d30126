#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "HandMadeRecords.h"
#include "report/AxisVerdict.h"
#include "report/TestVerdict.h"

// Verdicts of records made by hand: a single failed reading anywhere in a completed test.
namespace trevane {
namespace {

using ::testing::ElementsAre;

using testing::CleanCompletedRecord;

std::vector<AxisVerdict::Kind> AxisKinds(const TestVerdict& verdict) {
    std::vector<AxisVerdict::Kind> kinds;
    for (const AxisVerdict& axis : verdict.axes) {
        kinds.push_back(axis.kind);
    }
    return kinds;
}

// One missing reading of either kind, in either move, is enough: a failed reading reads as 0,
// which would pass any limit.
TEST(TestVerdictOfRecord, OneFailedReadingOfEitherKindLeavesItsAxisUnverified) {
    using Kind = AxisVerdict::Kind;
    const TestVerdict clean = VerdictOfTest(CleanCompletedRecord(), std::nullopt);
    EXPECT_EQ(clean.kind, TestVerdict::Kind::Passed);
    EXPECT_THAT(AxisKinds(clean), ElementsAre(Kind::Passed, Kind::Passed, Kind::Passed));

    TestRecord record = CleanCompletedRecord();
    record.moves[1].failedTorqueReadings = 1;  // X's move back
    record.moves[4].failedErrorReadings = 1;   // Z's move out
    const TestVerdict verdict = VerdictOfTest(record, std::nullopt);
    EXPECT_EQ(verdict.kind, TestVerdict::Kind::Unverified);
    EXPECT_THAT(AxisKinds(verdict), ElementsAre(Kind::Unverified, Kind::Passed, Kind::Unverified));
    EXPECT_EQ(VerdictLine(verdict),
              "Test result: X unverified (1 of 400 torque readings failed), Y passed, "
              "Z unverified (1 of 400 error readings failed). Report: none");
    const Headline headline = HeadlineOf(verdict);
    EXPECT_EQ(headline.text,
              "INCOMPLETE: X unverified (1 of 400 torque readings failed), Z unverified (1 of 400 "
              "error readings failed)");
    EXPECT_STREQ(headline.kind, "incomplete");
    EXPECT_EQ(verdict.axes[2].Text(), "unverified: 1 of 400 error readings failed");
}

}  // namespace
}  // namespace trevane
