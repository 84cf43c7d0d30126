#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "history/History.h"
#include "history/Sqlite.h"
#include "history/StoreTest.h"
#include "history/Trends.h"
#include "report/ComparisonHtml.h"
#include "support/ScratchFolder.h"

namespace trevane::history {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

constexpr const char* kMachine = "127.0.0.1:5023 Simulated controller rev 1.0";

// A whole test of X, Y and Z whose moves all reach `torque` and `error`, Y's at `yError`.
TestRecord MakeRecord(float yError, const std::string& identity = kMachine,
                      bool yCompleted = true) {
    TestRecord record;
    record.testNumber = 1;
    record.startTime = std::chrono::system_clock::time_point(std::chrono::seconds(1354197909));
    record.identity = identity;
    record.checks = {{"Motor Type X", "1.0000"}, {"KP X", "6.0000"}};
    record.outcome = TestOutcome::Completed;
    for (int index = 0; index < kMovesPerTest; ++index) {
        MoveTrace move;
        move.moveIndex = index;
        move.axis = "XYZ"[index / 2];
        move.target = index % 2 == 0 ? -20000 : 0;
        move.maxTorque = 1.0f;
        move.moveMaxError = move.axis == 'Y' ? yError : 100.0f;
        move.currentPosition = "0";
        if (move.axis == 'Y' && !yCompleted) {
            move.aborted = true;
            move.abortReason = AbortReason::PositionError;
        }
        for (int cycle = 0; cycle < kCyclesPerMove; ++cycle) {
            move.samples.push_back({cycle * 10.0, 0.5f, static_cast<float>(cycle % 7)});
        }
        record.moves.push_back(move);
    }
    return record;
}

class HistoryStore : public ::testing::Test {
  protected:
    void SetUp() override { path_ = (dir_ / kHistoryFileName).string(); }
    void WriteFile(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            const std::string name = entry.path().filename().string();
            // SQLite's own WAL files come and go with its connections.
            if (!name.ends_with("-wal") && !name.ends_with("-shm")) {
                names.push_back(name);
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    testing::ScratchFolder scratch_{"trevane-history"};
    const fs::path& dir_ = scratch_.Path();
    std::string path_;
};

TEST_F(HistoryStore, TheBaselineIsTheMedianOfTheLastFiveEarlierTestsThatCompletedTheMove) {
    History history(path_);
    // Oldest first. The 100 is older than the last five, the aborted one and the other
    // controller's do not count.
    for (const float y : {900.0f, 100.0f, 110.0f, 90.0f, 130.0f, 95.0f}) {
        history.Add(MakeRecord(y), {"log.txt", "", ""});
    }
    history.Add(MakeRecord(5000.0f, kMachine, false), {"log.txt", "", ""});
    history.Add(MakeRecord(5000.0f, "127.0.0.2:23 Other controller"), {"log.txt", "", ""});
    // Nor does a move whose readings failed, nor any move of a test that lost its link.
    TestRecord unverified = MakeRecord(0.0f);
    unverified.moves[2].failedErrorReadings = 200;
    unverified.moves[3].failedTorqueReadings = 1;
    history.Add(unverified, {"log.txt", "", ""});
    // Nor a move that an earlier version kept as completed with nothing measured.
    TestRecord empty = MakeRecord(0.0f);
    empty.moves[2].maxTorque = 0;
    empty.moves[3].maxTorque = 0;
    history.Add(empty, {"log.txt", "", ""});
    TestRecord lost = MakeRecord(5000.0f);
    lost.outcome = TestOutcome::LinkLost;
    history.Add(lost, {"log.txt", "", ""});
    const std::int64_t id = history.Add(MakeRecord(131.0f), {"log.txt", "", ""});

    const Comparison comparison = Compare(history, *history.Test(id), true);
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

TEST_F(HistoryStore, FewerThanThreeCleanEarlierMovesAreNoBaseline) {
    History history(path_);
    history.Add(MakeRecord(100.0f), {"log.txt", "", ""});
    history.Add(MakeRecord(100.0f), {"log.txt", "", ""});
    const std::int64_t id = history.Add(MakeRecord(900.0f), {"log.txt", "", ""});
    const Comparison comparison = Compare(history, *history.Test(id), false);
    EXPECT_TRUE(comparison.drift.empty());
    EXPECT_THAT(AxesWithoutBaseline(comparison), ElementsAre('X', 'Y', 'Z'));
    EXPECT_EQ(NoBaselineText(AxesWithoutBaseline(comparison)), "X, Y, Z: no baseline yet");
}

TEST_F(HistoryStore, ThePreviousTraceIsTheLatestCompletedMoveOfTheSameController) {
    History history(path_);
    TestRecord older = MakeRecord(100);
    older.moves[2].samples[0].torque = 0.75f;
    history.Add(older, {"log.txt", "", ""});
    history.Add(MakeRecord(100, kMachine, false), {"log.txt", "", ""});
    history.Add(MakeRecord(100, "127.0.0.2:23 Other controller"), {"log.txt", "", ""});
    const std::vector<TraceSample> y = history.PreviousTrace(kMachine, 2);
    EXPECT_EQ(y, older.moves[2].samples);
    EXPECT_TRUE(history.PreviousTrace("127.0.0.3:23 Unknown", 2).empty());
}

TEST(DriftThresholds, BothTheRatioAndTheAbsoluteRiseMustBeReached) {
    EXPECT_TRUE(IsDrift(1.25, 1.0, kDriftTorqueVolts));
    EXPECT_FALSE(IsDrift(1.24, 1.0, kDriftTorqueVolts));
    EXPECT_FALSE(IsDrift(0.3, 0.2, kDriftTorqueVolts + 0.01));  // 50 % but under 0.11 V
    EXPECT_TRUE(IsDrift(50, 40, kDriftErrorCounts));
    EXPECT_FALSE(IsDrift(20, 12, kDriftErrorCounts));  // 67 % but 8 counts
    EXPECT_DOUBLE_EQ(Median({3, 1, 2, 10}), 2.5);
}

TEST_F(HistoryStore, AForeignOrDamagedFileIsKeptAsideAndANewHistoryBegun) {
    for (const std::string& bytes :
         {std::string("not a database at all"),
          std::string("SQLite format 3") + '\0' + std::string(200, '\x5a')}) {
        WriteFile(bytes);
        const StoreResult stored = StoreTest(MakeRecord(100), {"log.txt", "", ""}, path_);
        ASSERT_FALSE(stored.failure.has_value()) << *stored.failure;
        ASSERT_TRUE(stored.notice.has_value());
        EXPECT_THAT(*stored.notice, HasSubstr("a new history begun"));
        std::vector<std::string> names = Names();
        ASSERT_EQ(names.size(), 2u);  // the new file and the old one aside
        const fs::path aside = dir_ / names[1];
        EXPECT_THAT(names[1], StartsWith(std::string(kHistoryFileName) + "."));
        EXPECT_THAT(names[1], Not(HasSubstr("%"))) << "the date is written out";
        {
            // Closed before the removal: Windows removes no open file.
            std::ifstream in(aside, std::ios::binary);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), bytes);
        }
        fs::remove(aside);
        EXPECT_EQ(History(path_, History::Access::Read).LastTests(0).size(), 1u);
        fs::remove(path_);
    }
}

TEST_F(HistoryStore, ASQLiteFileOfAnotherProgramIsNotTakenOver) {
    {
        sqlite::Database other(path_, sqlite::Database::Mode::Create, 100);
        other.Execute("CREATE TABLE tests (name TEXT); INSERT INTO tests VALUES ('mine')");
    }
    EXPECT_THROW(History(path_, History::Access::Read), HistoryError);
    const StoreResult stored = StoreTest(MakeRecord(100), {"log.txt", "", ""}, path_);
    EXPECT_THAT(stored.notice.value_or(""), HasSubstr("not a Trevane history"));
    EXPECT_EQ(Names().size(), 2u);
}

TEST_F(HistoryStore, AFileOfANewerLayoutIsLeftAsItIsAndNotWritten) {
    StoreTest(MakeRecord(100), {"log.txt", "", ""}, path_);
    {
        sqlite::Database db(path_, sqlite::Database::Mode::ReadWrite, 100);
        db.Execute("PRAGMA user_version=" + std::to_string(kSchemaVersion + 1));
        db.Execute("PRAGMA wal_checkpoint(TRUNCATE)");
    }
    const auto before = fs::file_size(path_);
    const StoreResult stored = StoreTest(MakeRecord(100), {"log.txt", "", ""}, path_);
    ASSERT_TRUE(stored.failure.has_value());
    EXPECT_THAT(*stored.failure, HasSubstr("newer Trevane"));
    EXPECT_EQ(fs::file_size(path_), before);
    sqlite::Database db(path_, sqlite::Database::Mode::ReadOnly, 100);
    sqlite::Statement count = db.Prepare("SELECT COUNT(*) FROM tests");
    ASSERT_TRUE(count.Step());
    EXPECT_EQ(count.Int(0), 1);
}

// As the window and a CLI in one folder: each waits for the other's transaction.
TEST_F(HistoryStore, TwoWritersOnOneFileKeepEveryTest) {
    History(path_).LastTests(0);  // the layout exists before both start
    constexpr int kEach = 15;
    auto writer = [this] {
        History history(path_);
        for (int i = 0; i < kEach; ++i) {
            history.Add(MakeRecord(100), {"log.txt", "", ""});
        }
    };
    std::thread window(writer);
    std::thread cli(writer);
    window.join();
    cli.join();
    History history(path_, History::Access::Read);
    EXPECT_EQ(history.LastTests(0).size(), 2u * kEach);
    sqlite::Statement samples = history.Db().Prepare("SELECT COUNT(*) FROM samples");
    ASSERT_TRUE(samples.Step());
    EXPECT_EQ(samples.Int(0), 2 * kEach * kMovesPerTest * kCyclesPerMove);
}

TEST_F(HistoryStore, ReadingAMissingHistoryCreatesNothing) {
    EXPECT_TRUE(History(path_, History::Access::Read).LastTests(10).empty());
    EXPECT_TRUE(Names().empty());
}

}  // namespace
}  // namespace trevane::history
