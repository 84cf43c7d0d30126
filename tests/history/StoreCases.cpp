#include "StoreCases.h"

#include <thread>
#include <vector>

#include <gmock/gmock.h>

#include "TestRecords.h"
#include "history/History.h"
#include "history/Trends.h"
#include "report/ComparisonHtml.h"

namespace trevane::history::testing {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

void SharedStoreCases::SetUp() {
    under_ = GetParam().make();
    if (!under_) {
        GTEST_SKIP() << "SKIPPED: no " << GetParam().name << " store here";
    }
    store_ = under_->Open();
}

std::int64_t SharedStoreCases::Add(const TestRecord& record) {
    return store_->Put(RowOfRecord(record, {"log.txt", "", ""}));
}

namespace {

TEST_P(SharedStoreCases, TheBaselineIsTheMedianOfTheLastFiveEarlierTestsThatCompletedTheMove) {
    // Oldest first. The 100 is older than the last five, the aborted one and the other
    // controller's do not count.
    for (const float y : {900.0f, 100.0f, 110.0f, 90.0f, 130.0f, 95.0f}) {
        Add(MakeRecord(y));
    }
    Add(MakeRecord(5000.0f, kMachine, false));
    Add(MakeRecord(5000.0f, "127.0.0.2:23 Other controller"));
    // Nor does a move whose readings failed, nor any move of a test that lost its link.
    TestRecord unverified = MakeRecord(0.0f);
    unverified.moves[2].failedErrorReadings = 200;
    unverified.moves[3].failedTorqueReadings = 1;
    Add(unverified);
    // Nor a move that an earlier version kept as completed with nothing measured.
    TestRecord empty = MakeRecord(0.0f);
    empty.moves[2].maxTorque = 0;
    empty.moves[3].maxTorque = 0;
    Add(empty);
    TestRecord lost = MakeRecord(5000.0f);
    lost.outcome = TestOutcome::LinkLost;
    Add(lost);
    const std::int64_t id = Add(MakeRecord(131.0f));

    const Comparison comparison = Compare(Store(), *Store().Test(id), true);
    ASSERT_EQ(comparison.moves.size(), 6u);
    const MoveComparison& y = comparison.moves[2];
    EXPECT_EQ(y.earlierTests, 5);
    EXPECT_DOUBLE_EQ(y.errorBaseline, 100.0);  // median of 100, 110, 90, 130, 95
    // 31 % and 31 counts above: drift. X and Z stay where they were.
    ASSERT_EQ(comparison.drift.size(), 2u);
    EXPECT_EQ(comparison.drift[0].axis, 'Y');
    EXPECT_EQ(comparison.drift[0].quantity, "error");
    EXPECT_DOUBLE_EQ(comparison.drift[0].change, 31.0);
    EXPECT_THAT(DriftFlagTexts(comparison.drift), ElementsAre("Y: error 31 % above earlier tests"));
    // The trend holds this controller's tests only, the aborted one included, the unverified not.
    EXPECT_EQ(comparison.trends.at('Y').size(), 9u);
    EXPECT_EQ(y.baseTests.size(), 5u);
    EXPECT_TRUE(AxesWithoutBaseline(comparison).empty());
    EXPECT_THAT(RenderComparisonHtml(comparison),
                HasSubstr("<p>Base: the tests started 2012-11-29T14:05:09Z.</p>"));
}

TEST_P(SharedStoreCases, FewerThanThreeCleanEarlierMovesAreNoBaseline) {
    Add(MakeRecord(100.0f));
    Add(MakeRecord(100.0f));
    const std::int64_t id = Add(MakeRecord(900.0f));
    const Comparison comparison = Compare(Store(), *Store().Test(id), false);
    EXPECT_TRUE(comparison.drift.empty());
    EXPECT_THAT(AxesWithoutBaseline(comparison), ElementsAre('X', 'Y', 'Z'));
    EXPECT_EQ(NoBaselineText(AxesWithoutBaseline(comparison)), "X, Y, Z: no baseline yet");
}

// Two controllers behind one address (a gateway's ports) are two machines.
TEST_P(SharedStoreCases, TheSameAddressOnAnotherPortIsAnotherController) {
    for (int i = 0; i < 3; ++i) {
        Add(MakeRecord(100.0f, "127.0.0.1:5024 Simulated controller rev 1.0"));
    }
    const std::int64_t id = Add(MakeRecord(900.0f));
    const Comparison comparison = Compare(Store(), *Store().Test(id), true);
    EXPECT_EQ(comparison.moves[2].earlierTests, 0);
    EXPECT_TRUE(comparison.drift.empty());
    EXPECT_EQ(comparison.trends.at('Y').size(), 1u);
    EXPECT_TRUE(Store().PreviousTrace("127.0.0.1:5025 Simulated controller rev 1.0", 2).empty());
}

// Tests taken one after the other, alternating between two controllers of one gateway.
TEST_P(SharedStoreCases, TwoPortsOfOneAddressAreNeverEachOthersBaselineInSequence) {
    using std::chrono::minutes;
    using std::chrono::seconds;
    constexpr const char* kNeighbour = "127.0.0.1:5024 Simulated controller rev 1.0";
    for (int i = 0; i < 4; ++i) {
        Add(Ran(MakeRecord(100.0f), minutes(20 * i), seconds(60)));
        Add(Ran(MakeRecord(900.0f, kNeighbour), minutes(20 * i + 10), seconds(60)));
    }
    const Comparison machine = Compare(
        Store(), *Store().Test(Add(Ran(MakeRecord(131.0f), minutes(80), seconds(60)))), false);
    EXPECT_EQ(machine.moves[2].earlierTests, 4);
    EXPECT_DOUBLE_EQ(machine.moves[2].errorBaseline, 100.0);
    EXPECT_THAT(DriftFlagTexts(machine.drift), ElementsAre("Y: error 31 % above earlier tests"));
    const Comparison neighbour = Compare(
        Store(), *Store().Test(Add(Ran(MakeRecord(900.0f, kNeighbour), minutes(90), seconds(60)))),
        false);
    EXPECT_EQ(neighbour.moves[2].earlierTests, 4);
    EXPECT_DOUBLE_EQ(neighbour.moves[2].errorBaseline, 900.0);
    EXPECT_TRUE(neighbour.drift.empty());
}

// Tests run at once (a fleet, or the window and a CLI on one machine) share whatever went on
// meanwhile; only tests that had ended before one began are its baseline.
TEST_P(SharedStoreCases, TestsThatOverlappedAreNeverEachOthersBaseline) {
    using std::chrono::milliseconds;
    using std::chrono::minutes;
    using std::chrono::seconds;
    for (int i = 0; i < 3; ++i) {
        Add(Ran(MakeRecord(100.0f), minutes(10 * i), seconds(60)));
    }
    // The third ends at 21:00, as the first of these begins: one after the other.
    std::vector<std::int64_t> together;
    for (int i = 0; i < 3; ++i) {
        together.push_back(Add(Ran(MakeRecord(900.0f), minutes(21) + seconds(5 * i), seconds(60))));
    }
    // Ends 300 ms before the last test begins, in the same second.
    Add(Ran(MakeRecord(100.0f), minutes(20) + milliseconds(25200), seconds(50)));
    const std::int64_t last =
        Add(Ran(MakeRecord(131.0f), minutes(21) + milliseconds(15500), seconds(60)));

    const Comparison comparison = Compare(Store(), *Store().Test(last), false);
    EXPECT_EQ(comparison.moves[2].earlierTests, 4);
    EXPECT_DOUBLE_EQ(comparison.moves[2].errorBaseline, 100.0);
    EXPECT_THAT(DriftFlagTexts(comparison.drift), ElementsAre("Y: error 31 % above earlier tests"));
    for (const std::int64_t id : together) {
        const MoveComparison y = Compare(Store(), *Store().Test(id), false).moves[2];
        EXPECT_THAT(y.baseTests, ElementsAre("2012-11-29T14:25:09Z", "2012-11-29T14:15:09Z",
                                             "2012-11-29T14:05:09Z"))
            << id;
    }
}

// Tests stored before run times were kept have only their start second: they stay the
// baseline they were, of tests with times and of each other.
TEST_P(SharedStoreCases, TestsWithoutRunTimesOverlapNone) {
    for (int i = 0; i < 3; ++i) {
        Add(MakeRecord(100.0f));
    }
    const std::int64_t old = Add(MakeRecord(131.0f));
    const std::int64_t timed =
        Add(Ran(MakeRecord(131.0f), std::chrono::seconds(0), std::chrono::seconds(60)));
    EXPECT_FALSE(Store().Test(old)->endedMs.has_value());
    EXPECT_EQ(Store().Test(timed)->startedMs, std::int64_t{1354197909000});
    EXPECT_EQ(Store().Test(timed)->endedMs, std::int64_t{1354197969000});
    for (const std::int64_t id : {old, timed}) {
        const Comparison comparison = Compare(Store(), *Store().Test(id), false);
        EXPECT_EQ(comparison.moves[2].earlierTests, id == old ? 3 : 4);
        EXPECT_FALSE(comparison.drift.empty()) << id;
    }
}

// A test whose connection query failed does not know its controller.
TEST_P(SharedStoreCases, ATestWithoutAnAddressHasNoBaseline) {
    for (int i = 0; i < 3; ++i) {
        Add(MakeRecord(100.0f, ""));
    }
    const Comparison comparison =
        Compare(Store(), *Store().Test(Add(MakeRecord(900.0f, ""))), false);
    EXPECT_EQ(comparison.moves[2].earlierTests, 0);
    EXPECT_TRUE(comparison.drift.empty());
}

TEST_P(SharedStoreCases, ThePreviousTraceIsTheLatestCompletedMoveOfTheSameController) {
    TestRecord older = MakeRecord(100);
    older.moves[2].samples[0].torque = 0.75f;
    older.moves[2].samples[1].timeMs = 10.125;
    Add(older);
    Add(MakeRecord(100, kMachine, false));
    Add(MakeRecord(100, "127.0.0.2:23 Other controller"));
    const std::vector<TraceSample> y = Store().PreviousTrace(kMachine, 2);
    EXPECT_EQ(y, older.moves[2].samples);
    EXPECT_TRUE(Store().PreviousTrace("127.0.0.3:23 Unknown", 2).empty());
}

TEST_P(SharedStoreCases, ATestPutTwiceIsStoredOnce) {
    const TestRow row = RowOfRecord(MakeRecord(100), {"log.txt", "", ""});
    const std::int64_t first = Store().Put(row);
    EXPECT_EQ(OpenAnother()->Put(row), first);
    EXPECT_EQ(Store().IdOf(row.uuid), first);
    EXPECT_FALSE(Store().IdOf(NewUuid()).has_value());
    const std::vector<StoredTest> all = Store().LastTests(0);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].moves.size(), 6u);
}

TEST_P(SharedStoreCases, AListingIsNarrowedByControllerAndDate) {
    TestRecord old = MakeRecord(100, "127.0.0.9:23 Lathe 4");
    old.startTime -= std::chrono::hours(24 * 400);
    Add(old);
    Add(MakeRecord(100, "127.0.0.9:23 Lathe 4"));
    Add(MakeRecord(100));
    Add(MakeRecord(100, "127.0.0.9:24 Mill_1%"));
    EXPECT_EQ(Store().LastTests(TestQuery{0, "Lathe", ""}).size(), 2u);
    EXPECT_EQ(Store().LastTests(TestQuery{0, "127.0.0.9:23", ""}).size(), 2u);
    // The text is matched as it is, no wildcards.
    EXPECT_EQ(Store().LastTests(TestQuery{0, "Mill_1%", ""}).size(), 1u);
    EXPECT_EQ(Store().LastTests(TestQuery{0, "Mill%", ""}).size(), 0u);
    EXPECT_EQ(Store().LastTests(TestQuery{0, "", "2012-11-29"}).size(), 3u);
    const std::vector<StoredTest> latest = Store().LastTests(TestQuery{1, "Lathe", "2011-01-01"});
    ASSERT_EQ(latest.size(), 1u);
    EXPECT_EQ(latest[0].startedUtc, "2012-11-29T14:05:09Z");
    EXPECT_EQ(latest[0].port, 23);
    EXPECT_EQ(latest[0].identity, "Lathe 4");
    EXPECT_EQ(Store().LastTests(TestQuery{0, "", ""}).size(), 4u);
}

// A fleet's children, or the window and a CLI, writing at once: each waits for the other.
TEST_P(SharedStoreCases, SixteenWritersAtOnceKeepEveryTest) {
    constexpr int kWriters = 16;
    constexpr int kEach = 3;
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([this, w] {
            std::unique_ptr<HistoryStore> store = OpenAnother();
            for (int i = 0; i < kEach; ++i) {
                store->Put(
                    RowOfRecord(MakeRecord(100, "127.0.0.1:" + std::to_string(6000 + w) + " Sim"),
                                {"log.txt", "", ""}));
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    const std::vector<StoredTest> all = Store().LastTests(0);
    ASSERT_EQ(all.size(), std::size_t{kWriters * kEach});
    for (const StoredTest& test : all) {
        EXPECT_EQ(test.moves.size(), 6u);
    }
    EXPECT_EQ(Store().PreviousTrace("127.0.0.1:6007 Sim", 5).size(), std::size_t{kCyclesPerMove});
}

}  // namespace
}  // namespace trevane::history::testing
