#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "AutotestHarness.h"
#include "autotest/TestRecorder.h"
#include "autotest/TestRunner.h"
#include "common/StopControl.h"

namespace trevane::autotest_testing {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;

bool IsPrefixOf(const std::vector<TraceSample>& prefix, const std::vector<TraceSample>& whole) {
    return prefix.size() <= whole.size() && std::equal(prefix.begin(), prefix.end(), whole.begin());
}

using Traces = AutotestFixture;

// A window's view: polls the version and fetches only the samples it has not drawn yet.
class LiveReader {
  public:
    LiveReader() : thread_([this](std::stop_token stop) { Run(stop); }) {}

    void Stop() {
        thread_.request_stop();
        thread_.join();
    }
    std::size_t SeenOf(int moveIndex) const { return seenCount_[moveIndex].load(); }
    const std::array<std::vector<TraceSample>, kMovesPerTest>& Seen() const { return seen_; }
    bool VersionWentBack() const { return versionWentBack_; }

  private:
    void Run(std::stop_token stop) {
        std::uint64_t drawn = 0;
        while (!stop.stop_requested()) {
            const std::uint64_t version = Recorder().Version();
            versionWentBack_ = versionWentBack_ || version < drawn;
            if (version == drawn) {
                std::this_thread::yield();
                continue;
            }
            drawn = version;
            // Earlier tests' records have ended; the live one is still running.
            const TestRecord summary = Recorder().Summary();
            if (summary.outcome != TestOutcome::Running) {
                continue;
            }
            for (const MoveSummary& move : summary.moves) {
                std::vector<TraceSample>& seen = seen_[move.moveIndex];
                const std::vector<TraceSample> more =
                    Recorder().SamplesSince(move.moveIndex, seen.size());
                seen.insert(seen.end(), more.begin(), more.end());
                seenCount_[move.moveIndex] = seen.size();
            }
        }
    }

    std::array<std::vector<TraceSample>, kMovesPerTest> seen_;
    std::array<std::atomic<std::size_t>, kMovesPerTest> seenCount_{};
    bool versionWentBack_ = false;
    std::jthread thread_;
};

TEST_F(Traces, ALiveReaderSeesEverySampleInOrderWhileTheTestRuns) {
    UseController(std::make_shared<ScriptedController>(VaryingReadings()));
    LiveReader reader;
    // Y's 100th torque reading waits (bounded) until the reader has drawn Y's first 99 cycles,
    // so the two threads surely overlap.
    int torqueReadingsOfY = 0;
    bool overlapped = false;
    controller_->OnExchange([&](const std::string& command) {
        if (command == "TTY" && ++torqueReadingsOfY == 100) {
            const auto giveUp = std::chrono::steady_clock::now() + 10s;
            while (reader.SeenOf(2) < 99 && std::chrono::steady_clock::now() < giveUp) {
                std::this_thread::sleep_for(100us);
            }
            overlapped = reader.SeenOf(2) == 99;
        }
    });
    RunWholeTest();
    reader.Stop();

    EXPECT_TRUE(overlapped);
    EXPECT_FALSE(reader.VersionWentBack());
    const TestRecord record = Recorder().Snapshot();
    ASSERT_EQ(record.moves.size(), 6u);
    for (const MoveTrace& move : record.moves) {
        EXPECT_EQ(move.samples.size(), 200u);
        EXPECT_TRUE(move.watchEnded);
        EXPECT_TRUE(IsPrefixOf(reader.Seen()[move.moveIndex], move.samples)) << move.moveIndex;
    }
    EXPECT_GE(reader.Seen()[2].size(), 99u);
    EXPECT_EQ(Recorder().CurrentMoveSnapshot()->moveIndex, 5);
}

TEST_F(Traces, IdentifyEachMoveAndRecordTheSwapsAsLogged) {
    UseController(std::make_shared<ScriptedController>(
        [](const std::string& command, int n) -> std::optional<std::string> {
            if (command == "MG _LRX" || (command == "MG _LFY" && n == 1)) {
                return "0";
            }
            if (command == "TTY" && n == 3) {
                return "-4.0";  // ends Y in its first move
            }
            return std::nullopt;
        }));
    RunWholeTest();
    const TestRecord record = Recorder().Summary();
    std::vector<std::string> moves;
    for (const MoveSummary& move : record.moves) {
        moves.push_back(std::to_string(move.moveIndex) + move.axis + std::to_string(move.target));
    }
    EXPECT_THAT(moves, ElementsAre("0X-20000", "1X0", "2Y-20000", "4Z-20000", "5Z0"));
    const MoveSummary& y = record.moves[2];
    EXPECT_TRUE(y.aborted);
    EXPECT_EQ(y.abortReason, AbortReason::Torque);
    EXPECT_EQ(y.abortReading, "-4.0");
    EXPECT_EQ(y.maxTorque, 4.0f);
    EXPECT_FALSE(y.Reported());
    EXPECT_TRUE(record.moves[1].Reported());
    EXPECT_EQ(record.moves[1].sampleCount, 200u);

    // One swap, before X's first move (Y's forward switch is read only after a completed move).
    ASSERT_EQ(record.cnSwaps.size(), 1u);
    EXPECT_EQ(record.cnSwaps[0].axis, 'X');
    EXPECT_FALSE(record.cnSwaps[0].forwardSwitch);
    EXPECT_EQ(record.cnSwaps[0].cn, 1);
    EXPECT_THAT(LogBytes(), ::testing::HasSubstr("X Reverse Limit was on, swapping CN to 1"));
    EXPECT_EQ(record.cnRestored, -1);
    EXPECT_EQ(record.outcome, TestOutcome::Completed);
}

TEST(Recorder, KeepsOnlyWhatTheOwningThreadRecordsBeforeItIsStopped) {
    TestRecorder recorder;
    recorder.AddCheck("SP: ", "dropped: no record yet");
    EXPECT_EQ(recorder.Version(), 0u);

    recorder.BeginTest(7);
    recorder.AddCheck("SP: ", "10000");
    recorder.BeginMove(0, 'X', -20000);
    recorder.AddSample(0, -0.5f, 12, 0.5f, 12);
    recorder.AddSample(10, 0.75f, -20, 0.75f, 20);
    std::thread([&recorder] {
        recorder.AddCheck("KP: ", "another thread's");
        recorder.AddSample(20, 9, 9, 9, 9);
    }).join();
    {
        std::stop_source stop;
        stop.request_stop();
        ScopedStopToken scope(stop.get_token());
        recorder.AddSample(20, 1, 1, 1, 1);
        recorder.EndTest(TestOutcome::Completed);
    }

    const TestRecord record = recorder.Snapshot();
    EXPECT_EQ(record.testNumber, 7);
    ASSERT_EQ(record.checks.size(), 1u);
    EXPECT_EQ(record.checks[0].reply, "10000");
    ASSERT_EQ(record.moves.size(), 1u);
    EXPECT_THAT(record.moves[0].samples,
                ElementsAre(TraceSample{0, -0.5f, 12}, TraceSample{10, 0.75f, -20}));
    EXPECT_EQ(record.moves[0].maxTorque, 0.75f);
    EXPECT_EQ(record.moves[0].moveMaxError, 20.0f);
    EXPECT_EQ(record.outcome, TestOutcome::Running);

    const TestRecord summary = recorder.Summary();
    EXPECT_TRUE(summary.moves[0].samples.empty());
    EXPECT_EQ(summary.moves[0].sampleCount, 2u);
    EXPECT_EQ(recorder.SamplesSince(0, 1).size(), 1u);
    EXPECT_TRUE(recorder.SamplesSince(0, 2).empty());
    EXPECT_TRUE(recorder.SamplesSince(1, 0).empty());

    // The abort's mark wins over the outcome the thread gives when it hands the record back.
    recorder.MarkAbortedByUser(7);
    const std::optional<TestRecord> finished = recorder.FinishOwnRecord(TestOutcome::Stopped);
    ASSERT_TRUE(finished.has_value());
    EXPECT_EQ(finished->outcome, TestOutcome::AbortedByUser);
    // Its end is when it was handed back: the history tells tests that ran at once by it.
    ASSERT_TRUE(finished->endTime.has_value());
    EXPECT_GE(*finished->endTime, finished->startTime);
    recorder.AddCheck("KI: ", "after the end");
    EXPECT_EQ(recorder.Snapshot().checks.size(), 1u);
    EXPECT_FALSE(recorder.FinishOwnRecord(TestOutcome::Stopped).has_value());
}

TEST(Recorder, AThreadStillUnwindingKeepsItsOwnRecordAfterTheNextTestBegan) {
    TestRecorder recorder;
    std::optional<TestRecord> first;
    std::atomic<int> step{0};
    std::thread old([&] {
        recorder.BeginTest(1);
        recorder.BeginMove(0, 'X', -20000);
        step = 1;
        while (step != 2) {
            std::this_thread::yield();
        }
        recorder.AddSample(0, 1, 2, 1, 2);
        first = recorder.FinishOwnRecord(TestOutcome::Stopped);
    });
    while (step != 1) {
        std::this_thread::yield();
    }
    recorder.BeginTest(2);
    step = 2;
    old.join();

    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->testNumber, 1);
    EXPECT_EQ(first->moves.at(0).samples.size(), 1u);
    EXPECT_EQ(first->outcome, TestOutcome::Stopped);
    const TestRecord current = recorder.Snapshot();
    EXPECT_EQ(current.testNumber, 2);
    EXPECT_TRUE(current.moves.empty());
    EXPECT_EQ(current.outcome, TestOutcome::Running);
    recorder.FinishOwnRecord(TestOutcome::Stopped);
}

TEST(Recorder, WithSamplesOffKeepsEverythingButTheSamples) {
    TestRecorder recorder;
    recorder.SetSamplesEnabled(false);
    recorder.BeginTest(1);
    recorder.BeginMove(0, 'X', -20000);
    recorder.AddSample(0, 1, 2, 1, 2);
    recorder.MarkMoveAbort(AbortReason::PositionError, "701");
    recorder.EndMoveWatch();
    const std::optional<TestRecord> record = recorder.FinishOwnRecord(TestOutcome::Completed);
    ASSERT_TRUE(record.has_value());
    ASSERT_EQ(record->moves.size(), 1u);
    EXPECT_TRUE(record->moves[0].samples.empty());
    EXPECT_TRUE(record->moves[0].aborted);
    EXPECT_TRUE(record->moves[0].watchEnded);
}

}  // namespace
}  // namespace trevane::autotest_testing
