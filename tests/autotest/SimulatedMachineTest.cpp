#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "AutotestHarness.h"
#include "autotest/AxisMotionTest.h"
#include "autotest/ConfigurationChecks.h"
#include "autotest/TestLog.h"
#include "autotest/TestRecorder.h"
#include "autotest/TestRunner.h"
#include "common/CLocale.h"
#include "history/StoreTest.h"
#include "link/ControllerLink.h"
#include "report/TestReport.h"
#include "report/TestVerdict.h"
#include "sim/Simulator.h"
#include "support/StandingAxis.h"

namespace trevane::autotest_testing {
namespace {

using namespace std::chrono_literals;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

// The whole test against the simulated machine, connected as the Connect button does.
class SimulatedMachine : public AutotestFixture {
  protected:
    void SetUp() override {
        AutotestFixture::SetUp();
        DropController();
        machine_ = std::make_shared<sim::Machine>(clock_);
    }

    void Connect() {
        SetSessionFactory(sim::InProcessSessionFactory(machine_));
        window_->SetAddress("127.0.0.1");
        OnConnect();
        ASSERT_TRUE(Connected());
    }

    std::vector<std::string> SentAfter(const std::string& first) const {
        return After(machine_->ReceivedCommands(), first);
    }

    std::shared_ptr<sim::Machine> machine_;
};

// The entry texts of an axis whose two moves complete, the readings left out.
void ExpectCleanAxis(const std::vector<std::string>& entries, const std::string& axis) {
    ASSERT_EQ(entries.size(), 10u) << axis;
    EXPECT_EQ(entries[0], axis + " Axis is being moved to -20000\n");
    EXPECT_EQ(entries[5], axis + " Axis is being moved to 0\n");
    for (int report : {1, 6}) {
        EXPECT_TRUE(entries[report].starts_with(axis + " Axis move finished.  Max torque: "));
        EXPECT_TRUE(entries[report + 1].starts_with(axis + " Axis move finished.  Max error: "));
        EXPECT_TRUE(
            entries[report + 2].starts_with(axis + " Axis move finished.  Current Error: "));
        EXPECT_TRUE(
            entries[report + 3].starts_with(axis + " Axis move finished.  Current Position: "));
    }
}

TEST_F(SimulatedMachine, ACompleteRunMovesXYZAndLeavesTheMachineOff) {
    Connect();
    RunWholeTest();

    EXPECT_TRUE(LastTestCompleted());
    EXPECT_FALSE(TheController().LastResult().AnyMoveAborted());
    EXPECT_THAT(SeenProgress().Values(), ElementsAre(0, 40, 50, 60, 70, 80, 100, 0));
    for (const char* axis : {"X", "Y", "Z"}) {
        ExpectCleanAxis(EntriesOf(axis), axis);
    }
    EXPECT_TRUE(EntriesOf("W").empty());
    EXPECT_EQ(window_->Transcript(), "127.0.0.1:23 " + std::string(sim::kIdentityLine) +
                                         "\r\nTest result: X passed, Y passed, Z passed. "
                                         "Report: none\r\n");
    ASSERT_TRUE(LastTestVerdict());
    EXPECT_EQ(LastTestVerdict()->kind, TestVerdict::Kind::Passed);
    EXPECT_EQ(window_->TestStatus(), "Disable Machine\n");

    // Back at 0, switched off, outputs cleared, CN as the checks found it.
    for (int axis = 0; axis < 3; ++axis) {
        const sim::AxisState state = machine_->ReadAxis(axis);
        EXPECT_NEAR(static_cast<double>(state.motorPosition), 0.0, 50.0) << axis;
        EXPECT_TRUE(state.motorOff) << axis;
    }
    for (int output : {1, 2, 3, 4, 7}) {
        EXPECT_FALSE(machine_->Output(output)) << output;
    }
    EXPECT_EQ(static_cast<float>(machine_->Cn()), Recorder().Snapshot().cnSaved);
    EXPECT_EQ(machine_->ReceivedCommands().back(), "CB7");

    // The traces follow the model: every cycle recorded, and each move's largest torque reading
    // is the one its report logged.
    const TestRecord record = Recorder().Snapshot();
    ASSERT_EQ(record.moves.size(), 6u);
    for (const MoveTrace& move : record.moves) {
        ASSERT_EQ(move.samples.size(), 200u);
        float largest = 0;
        for (const TraceSample& sample : move.samples) {
            largest = std::max(largest, std::fabs(sample.torque));
        }
        EXPECT_GT(largest, 0.0f) << move.moveIndex;
        EXPECT_EQ(largest, move.maxTorque) << move.moveIndex;
        EXPECT_GE(move.samples.back().timeMs, 1990.0) << move.moveIndex;
    }

    const std::string log = LogBytes();
    EXPECT_TRUE(log.starts_with("11/29/12 14:05:09  Starting Test\r\n"));
    EXPECT_TRUE(
        log.ends_with("11/29/12 14:05:34  Exit Motion\r\n"
                      "11/29/12 14:05:36  Disable Machine\r\n"));
}

// A stalled drive keeps its following error after "MO", so once past 700 every remaining cycle
// of the watch aborts again.
TEST_F(SimulatedMachine, AStalledAxisIsAbortedWithoutReportAndTheNextAxisIsTested) {
    machine_->AddFault(sim::ParseFault("stall:Y"));
    Connect();
    RunWholeTest();

    const std::vector<std::string> y = EntriesOf("Y");
    ASSERT_GE(y.size(), 150u);
    EXPECT_EQ(y[0], "Y Axis is being moved to -20000\n");
    for (std::size_t i = 1; i < y.size(); ++i) {
        EXPECT_TRUE(y[i].starts_with(
            "Y Axis move aborted due to position error above threshhold.  Position error: "))
            << y[i];
    }
    const std::vector<std::string> sent = SentAfter("PAY=-20000");
    auto watchEnd = std::find(sent.begin(), sent.end(), "MG _LRZ");
    ASSERT_NE(watchEnd, sent.end());
    // All 200 cycles run; each abort entry comes with its "AB1" and "MOY".
    EXPECT_EQ(std::count(sent.begin(), watchEnd, "TTY"), 200);
    EXPECT_EQ(std::count(sent.begin(), watchEnd, "TEY"), 200);
    EXPECT_EQ(std::count(sent.begin(), watchEnd, "MOY"), static_cast<long>(y.size() - 1));
    EXPECT_THAT(sent, Not(Contains("PAY=0")));

    ExpectCleanAxis(EntriesOf("Z"), "Z");
    const AxisVerdict verdict = VerdictOf(Recorder().Snapshot(), 'Y');
    EXPECT_EQ(verdict.kind, AxisVerdict::Kind::Aborted);
    EXPECT_EQ(verdict.reason, AbortReason::PositionError);
    EXPECT_GT(std::fabs(ReadNumber(verdict.reading)), 700.0f);
    EXPECT_TRUE(TheController().LastResult().AnyMoveAborted());
    EXPECT_THAT(SeenProgress().Values(), ElementsAre(0, 40, 50, 60, 70, 100, 0));
    EXPECT_TRUE(LastTestCompleted());
}

TEST_F(SimulatedMachine, AFailingTestEndsWithAVerdictNamingEachAbortedAxisAndItsReport) {
    machine_->AddFault(sim::ParseFault("stall:Y"));
    machine_->AddFault(sim::ParseFault("torque:Z"));
    SetTestReportEnabled(true);
    Connect();
    RunWholeTest();
    SetTestReportEnabled(false);

    const std::string transcript = window_->Transcript();
    const std::size_t start = transcript.rfind("Test result: ");
    ASSERT_NE(start, std::string::npos) << transcript;
    const std::string line = transcript.substr(start);
    EXPECT_TRUE(line.starts_with("Test result: X passed, Y aborted (position error -")) << line;
    EXPECT_NE(line.find(" above 700), Z aborted (torque "), std::string::npos) << line;
    const std::string report =
        std::filesystem::path(ReportFileNames(LogFilePath(), 1).html).filename().string();
    EXPECT_TRUE(line.ends_with(" above 3.1). Report: " + report + "\r\n")) << line;
    ASSERT_TRUE(LastTestVerdict());
    EXPECT_EQ(LastTestVerdict()->kind, TestVerdict::Kind::Aborted);
    const Headline headline = HeadlineOf(*LastTestVerdict());
    EXPECT_EQ(headline.kind, std::string("failed"));
    EXPECT_TRUE(headline.text.starts_with("FAILED: Y aborted (position error -")) << headline.text;
    EXPECT_EQ(headline.text.find("X passed"), std::string::npos) << headline.text;
}

// Wear on Y between two tests of the same machine shows as drift of Y and of nothing else.
TEST_F(SimulatedMachine, ALoadOnYBetweenTwoTestsIsFlaggedOnYAlone) {
    History().SetEnabled(true);
    Connect();
    for (int run = 0; run < 3; ++run) {
        RunWholeTest();
        ASSERT_TRUE(History().Last().has_value());
        EXPECT_TRUE(History().Last()->flags.empty());
    }

    machine_->AddFault(sim::ParseFault("load:Y:1.6"));
    SetTestReportEnabled(true);
    RunWholeTest();
    const std::optional<history::StoreResult> second = History().Last();
    ASSERT_TRUE(second.has_value());
    ASSERT_FALSE(second->failure.has_value()) << *second->failure;
    ASSERT_FALSE(second->comparison->drift.empty());
    for (const history::Drift& drift : second->comparison->drift) {
        EXPECT_EQ(drift.axis, 'Y') << drift.quantity;
        // The fault multiplies both quantities by 1.6, and the model stays close to that.
        EXPECT_NEAR(drift.value / drift.baseline, 1.6, 0.1) << drift.quantity;
    }
    EXPECT_THAT(second->flags, ElementsAre("Y: torque 60 % above earlier tests",
                                           "Y: error 60 % above earlier tests"));
    const std::string transcript = window_->Transcript();
    const std::string verdict = transcript.substr(transcript.rfind("Test result: "));
    EXPECT_NE(verdict.find(". Y: error 60 % above earlier tests."), std::string::npos) << verdict;
    // The report leads with it, and the axes table shows it beside Y's "passed".
    std::ifstream file(LastTestReport()->files.html, std::ios::binary);
    const std::string html{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const std::size_t headline = html.find("<h1 class=\"headline warning\">PASSED WITH WARNINGS: ");
    ASSERT_NE(headline, std::string::npos);
    EXPECT_NE(html.find("Y: torque 60 % above earlier tests; Y: error 60 % above earlier tests</h1>",
                        headline),
              std::string::npos)
        << html.substr(headline, 300);
    EXPECT_NE(html.find("<td class=\"warning\">passed; drift: torque 60 % above earlier tests; "
                        "error 60 % above earlier tests</td>"),
              std::string::npos);
}

TEST_F(SimulatedMachine, ALinkCutDuringAnExchangeEndsTheTestThere) {
    // Cut in X's first watch.
    machine_->AddFault(sim::ParseFault("cut:201"));
    Connect();
    RunWholeTest();

    EXPECT_FALSE(LastTestCompleted());
    const std::string transcript = window_->Transcript();
    EXPECT_EQ(std::count(transcript.begin(), transcript.end(), '\n'), 3) << transcript;
    EXPECT_EQ(Entries().back(), "Test Aborted: the link to the controller was lost\n");
    EXPECT_THAT(Entries(), Not(Contains("X Axis move finished.  Current Position: ")));
    ASSERT_TRUE(LastTestVerdict());
    EXPECT_EQ(LastTestVerdict()->lostDuring, "X's move to -20000");
    EXPECT_EQ(Recorder().Summary().outcome, TestOutcome::LinkLost);
    const std::vector<std::string> commands = machine_->ReceivedCommands();
    ASSERT_GE(commands.size(), 4u);
    EXPECT_EQ(commands[commands.size() - 4], "AB1");
}

// A session closed between two exchanges (the simulator's drop, a restart, an idle limit) is
// opened again before the next command: the test goes on and passes, and the operator is told.
TEST_F(SimulatedMachine, ALinkClosedBetweenExchangesIsReopenedAndTheTestGoesOn) {
    machine_->AddFault(sim::ParseFault("drop:200"));
    Connect();
    RunWholeTest();

    EXPECT_TRUE(LastTestCompleted());
    ASSERT_TRUE(LastTestVerdict());
    EXPECT_EQ(LastTestVerdict()->kind, TestVerdict::Kind::Passed);
    EXPECT_THAT(window_->Transcript(),
                ::testing::HasSubstr("command session reopened: the controller had closed it\r\n"));
    EXPECT_EQ(machine_->ReceivedCommands().back(), "CB7");
}

// Abort Test in the middle of X's first move, in real time: the axis stands afterwards.
TEST_F(SimulatedMachine, AnAbortDuringAMoveStopsTheAxis) {
    SetSystemClock(std::make_shared<RealClock>());
    machine_ = std::make_shared<sim::Machine>(SystemClockShared());
    MakeLogFileName();
    Connect();

    OnRunAutoTest();
    bool moving = false;
    for (int poll = 0; poll < 6000 && !moving && AnyTestThreadAlive(); ++poll) {
        moving = machine_->ReadAxis(0).moving;
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(moving) << "X never moved";
    OnRunAutoTest();
    ASSERT_TRUE(WaitForTestEnd(30s));

    const sim::AxisState x = StandingAxis(*machine_, 0);
    EXPECT_FALSE(x.moving);
    EXPECT_EQ(x.stopCode, sim::kStopAborted);
    EXPECT_FALSE(x.motorOff) << "the motors stay as they are";
    EXPECT_EQ(machine_->ReceivedCommands().back(), "AB1");
    EXPECT_THAT(SentAfter("PAX=-20000"), Not(Contains("PAX=0")));
    EXPECT_TRUE(LogBytes().ends_with("  Test Aborted by User\r\n"));
    EXPECT_FALSE(LastTestCompleted());
}

}  // namespace
}  // namespace trevane::autotest_testing
