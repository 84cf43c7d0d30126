#include <array>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "TestRecords.h"
#include "history/History.h"
#include "history/StoreTest.h"
#include "support/ScratchFolder.h"

// Ended tests handed to the history the way the test's end hands them over, and what it says
// of each against the earlier ones of the same machine.
namespace trevane::history {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using testing::MakeRecord;

struct MoveMaxima {
    float torque;
    float error;
};

TestRecord RecordOf(const std::array<MoveMaxima, kMovesPerTest>& maxima) {
    TestRecord record = MakeRecord(0.0f);
    for (int index = 0; index < kMovesPerTest; ++index) {
        record.moves[index].maxTorque = maxima[index].torque;
        record.moves[index].moveMaxError = maxima[index].error;
    }
    return record;
}

class StoredComparison : public ::testing::Test {
  protected:
    StoreResult Store(const TestRecord& record) {
        StoreResult result = StoreTest(record, {"log.txt", "", ""}, path_);
        EXPECT_FALSE(result.failure) << *result.failure;
        return result;
    }

    trevane::testing::ScratchFolder scratch_{"trevane-comparison"};
    std::string path_ = (scratch_.Path() / kHistoryFileName).string();
};

// Y's error median over the last five clean tests is 100: every test that must not count would
// move it, and so the size of the flag.
TEST_F(StoredComparison, OnlyTheLastFiveCleanEarlierTestsOfTheSameControllerAreTheBase) {
    for (const float y : {400.0f, 100.0f, 110.0f, 96.0f, 102.0f, 98.0f}) {
        Store(MakeRecord(y));
    }
    TestRecord lost = MakeRecord(20.0f);
    lost.outcome = TestOutcome::LinkLost;
    Store(lost);
    // A few failed error readings only; its torque was read and is not 0.
    TestRecord unmeasured = MakeRecord(30.0f);
    unmeasured.moves[2].failedErrorReadings = 3;
    unmeasured.moves[3].failedErrorReadings = 3;
    Store(unmeasured);
    TestRecord outOfStep = MakeRecord(35.0f);
    outOfStep.moves[2].outOfStepReplies = 1;
    outOfStep.moves[3].outOfStepReplies = 1;
    Store(outOfStep);
    // The same address and port, another firmware: another controller.
    Store(MakeRecord(25.0f, "127.0.0.1:5023 Simulated controller rev 2.0"));

    const StoreResult result = Store(MakeRecord(140.0f));
    EXPECT_THAT(result.flags, ElementsAre("Y: error 40 % above earlier tests"));
    EXPECT_THAT(result.noBaseline, IsEmpty());
    ASSERT_TRUE(result.comparison);
    const MoveComparison& y = result.comparison->moves[2];
    EXPECT_EQ(y.earlierTests, 5);
    EXPECT_DOUBLE_EQ(y.errorBaseline, 100.0);
    EXPECT_DOUBLE_EQ(result.comparison->moves[0].errorBaseline, 100.0);
}

// Each move has a baseline of its own; three identical earlier tests make it exact. Two moves
// sit on both limits at once and are flagged; each of the others misses one limit, on an axis
// and quantity of its own, since a flag shows only the larger change of an axis's two moves.
TEST_F(StoredComparison, DriftIsFlaggedFromTwentyFivePercentAndTheAbsoluteRiseOn) {
    const std::array<MoveMaxima, kMovesPerTest> before = {{{1.0f, 40.0f},
                                                           {1.0f, 100.0f},
                                                           {1.0f, 100.0f},
                                                           {1.0f, 20.0f},
                                                           {0.5f, 100.0f},
                                                           {0.25f, 100.0f}}};
    const std::array<MoveMaxima, kMovesPerTest> now = {{
        {1.0f, 50.0f},      // 25 %, 10 counts: drift
        {1.15f, 100.0f},    // 0.15 V, 15 %
        {1.0f, 124.0f},     // 24 %
        {1.0f, 29.0f},      // 45 %, 9 counts
        {0.625f, 100.0f},   // 25 %, 0.125 V: drift
        {0.34375f, 100.0f}  // 37.5 %, 0.094 V
    }};
    for (int i = 0; i < kMinimumBaselineTests; ++i) {
        EXPECT_THAT(Store(RecordOf(before)).flags, IsEmpty());
    }
    const StoreResult result = Store(RecordOf(now));
    EXPECT_THAT(result.flags, ElementsAre("X: error 25 % above earlier tests",
                                          "Z: torque 25 % above earlier tests"));
    EXPECT_THAT(result.noBaseline, IsEmpty());
}

}  // namespace
}  // namespace trevane::history
