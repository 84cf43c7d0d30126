#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <filesystem>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/Clock.h"
#include "controller/Controller.h"
#include "history/History.h"
#include "sim/Simulator.h"
#include "support/ScratchFolder.h"
#include "support/SpyWindow.h"

namespace trevane {
namespace {

using namespace std::chrono_literals;
using testing::ReadFile;
using testing::ScratchFolder;
using testing::SpyWindow;

// One controller of a process with its own machine, folder, history and operator.
struct Station {
    explicit Station(const std::shared_ptr<Clock>& clock)
        : machine(std::make_shared<sim::Machine>(clock)) {
        controller.SetOperator(panel);
        controller.Link().SetSessionFactory(sim::InProcessSessionFactory(machine));
        controller.Log().SetFolder(folder.Path().string());
        controller.History().SetPath((folder.Path() / "history.sqlite").string());
        controller.Conclusion().SetReportEnabled(true);
    }

    std::size_t TrafficCount(const std::string& request) const {
        const std::vector<TrafficEntry> entries = controller.Traffic().Snapshot();
        return static_cast<std::size_t>(std::count_if(
            entries.begin(), entries.end(),
            [&request](const TrafficEntry& entry) { return entry.request == request; }));
    }

    ScratchFolder folder{"trevane-station"};
    std::shared_ptr<sim::Machine> machine;
    std::shared_ptr<SpyWindow> panel = std::make_shared<SpyWindow>();
    mutable Controller controller;
};

// Holds the test thread at the log entry that starts X's first move until released.
class HoldingWindow final : public SpyWindow {
  public:
    void SetTestStatus(const std::string& text) override {
        SpyWindow::SetTestStatus(text);
        if (text != "X Axis is being moved to -20000\n") {
            return;
        }
        std::unique_lock lock(mutex_);
        held_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
    }
    void WaitUntilHeld() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return held_; });
    }
    void Release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    bool released_ = false;
};

class TwoControllers : public ::testing::Test {
  protected:
    void SetUp() override { SetSystemClock(clock_); }
    void TearDown() override { SetSystemClock(nullptr); }

    std::shared_ptr<VirtualClock> clock_ = std::make_shared<VirtualClock>();
};

// Two automatic tests at once in one process, one on a machine whose Y stalls: each keeps to its
// own machine, log, report, history, traffic, transcript and scope buffer.
TEST_F(TwoControllers, RunAtOnceWithoutCrossTalk) {
    Station clean(clock_);
    Station stalling(clock_);
    stalling.machine->AddFault(sim::ParseFault("stall:Y"));
    for (Station* station : {&clean, &stalling}) {
        station->controller.Link().Connect();
        ASSERT_TRUE(station->controller.Link().Connected());
        station->controller.Log().MakeFileName();
    }
    clean.controller.Monitor().Scope();  // only this one is watched that way
    for (Station* station : {&clean, &stalling}) {
        ASSERT_TRUE(station->controller.Monitor().Poll());
    }

    TestResult results[2];
    {
        std::jthread first([&] { results[0] = clean.controller.RunAutomaticTest({}); });
        std::jthread second([&] { results[1] = stalling.controller.RunAutomaticTest({}); });
    }

    ASSERT_TRUE(results[0].verdict && results[1].verdict);
    EXPECT_EQ(results[0].verdict->kind, TestVerdict::Kind::Passed);
    EXPECT_EQ(results[1].verdict->kind, TestVerdict::Kind::Aborted);
    EXPECT_FALSE(results[0].AnyMoveAborted());
    EXPECT_TRUE(results[1].AnyMoveAborted());

    // Logs and reports in each station's own folder, each holding its own test only.
    for (int i = 0; i < 2; ++i) {
        const Station& station = i == 0 ? clean : stalling;
        const std::filesystem::path log(results[i].logPath);
        EXPECT_EQ(log.parent_path(), station.folder.Path());
        const std::string bytes = ReadFile(log);
        EXPECT_NE(bytes.find("Starting Test"), std::string::npos);
        EXPECT_EQ(bytes.find("Axis move aborted") != std::string::npos, i == 1) << bytes;
        ASSERT_TRUE(results[i].report && !results[i].report->failure);
        EXPECT_EQ(std::filesystem::path(results[i].report->files.html).parent_path(),
                  station.folder.Path());
        history::History history((station.folder.Path() / "history.sqlite").string(),
                                 history::History::Access::Read);
        const std::vector<history::StoredTest> tests = history.LastTests({});
        ASSERT_EQ(tests.size(), 1u);
        ASSERT_TRUE(results[i].stored && results[i].stored->id);
        EXPECT_EQ(tests[0].id, *results[i].stored->id);
    }
    // Each traffic recorder saw its own machine's test: Y's torque read through two moves on the
    // clean machine, through the aborted one only on the other.
    EXPECT_EQ(clean.TrafficCount("TTY\\r"), 400u);
    EXPECT_EQ(stalling.TrafficCount("TTY\\r"), 200u);
    EXPECT_NE(clean.panel->Transcript().find("Test result: X passed, Y passed"), std::string::npos);
    EXPECT_EQ(clean.panel->Transcript().find("aborted"), std::string::npos);
    EXPECT_NE(stalling.panel->Transcript().find("Y aborted"), std::string::npos);
    // The scope buffer exists where it was asked for, and only there.
    ASSERT_NE(clean.controller.Monitor().ScopeIfMade(), nullptr);
    EXPECT_EQ(stalling.controller.Monitor().ScopeIfMade(), nullptr);
    EXPECT_GT(clean.controller.Monitor().Scope().Version(), 0u);
}

// A stop token ends the test as Abort Test does: "Test Aborted by User" in the log, "AB1" on the
// machine, every axis standing.
TEST_F(TwoControllers, AStopTokenAbortsOnlyItsOwnTest) {
    Station stopped(clock_);
    Station running(clock_);
    auto holding = std::make_shared<HoldingWindow>();
    stopped.controller.SetOperator(holding);
    for (Station* station : {&stopped, &running}) {
        station->controller.Link().Connect();
        station->controller.Log().MakeFileName();
    }
    std::stop_source stop;
    TestResult results[2];
    {
        std::jthread first([&] { results[0] = stopped.controller.RunAutomaticTest(stop.get_token()); });
        std::jthread second([&] { results[1] = running.controller.RunAutomaticTest({}); });
        // At the start of X's first move, the axis moving.
        holding->WaitUntilHeld();
        stop.request_stop();
        holding->Release();
    }
    EXPECT_TRUE(results[0].stoppedByOperator);
    EXPECT_FALSE(results[0].completed);
    EXPECT_TRUE(results[1].completed);
    EXPECT_NE(ReadFile(results[0].logPath).find("Test Aborted by User"), std::string::npos);
    EXPECT_EQ(ReadFile(results[1].logPath).find("Test Aborted by User"), std::string::npos);
    const std::vector<std::string> heard = stopped.machine->ReceivedCommands();
    EXPECT_EQ(heard.back(), "AB1");
    for (int axis = 0; axis < 4; ++axis) {
        clock_->Advance(100ms);
        EXPECT_FALSE(stopped.machine->ReadAxis(axis).moving) << axis;
        EXPECT_FALSE(running.machine->ReadAxis(axis).moving) << axis;
    }
}

}  // namespace
}  // namespace trevane

namespace trevane {
namespace {

// Makes the controller fall silent (so the command session times out and is spent) at one
// status line, and answer again, with `faults` of its own, once the test says the link is lost.
class SilencingWindow final : public SpyWindow {
  public:
    SilencingWindow(std::shared_ptr<sim::Machine> machine, std::string at,
                    std::vector<std::string> faults)
        : machine_(std::move(machine)), at_(std::move(at)), faults_(std::move(faults)) {}
    void SetTestStatus(const std::string& text) override {
        SpyWindow::SetTestStatus(text);
        if (text == at_) {
            machine_->AddFault(sim::ParseFault("silent"));
        } else if (text == "Test Aborted: the link to the controller was lost\n") {
            machine_->ClearFaults();
            for (const std::string& fault : faults_) {
                machine_->AddFault(sim::ParseFault(fault));
            }
        }
    }

  private:
    std::shared_ptr<sim::Machine> machine_;
    std::string at_;
    std::vector<std::string> faults_;
};

// After a lost link the verdict says what the motors are only from a reading taken after the
// stop: as read, or unknown when no reading came.
TEST_F(TwoControllers, TheMotorStateAfterALostLinkIsTakenFromAReading) {
    struct Case {
        const char* silentFrom;
        std::vector<std::string> faultsAfter;
        const char* says;
    };
    const Case cases[] = {
        {"Done with Checks\n", {}, "; the motors read switched off."},
        {"Preparing For Motion\n", {}, "; the motors are still switched on."},
        {"Preparing For Motion\n", {"reject:MG _MOY"},
         "; whether the motors are switched on is unknown (no reading came after the stop)."},
    };
    for (const Case& test : cases) {
        Station station(clock_);
        station.controller.SetOperator(std::make_shared<SilencingWindow>(
            station.machine, test.silentFrom, test.faultsAfter));
        station.controller.Link().Connect();
        station.controller.Log().MakeFileName();
        const TestResult result = station.controller.RunAutomaticTest({});
        ASSERT_TRUE(result.verdict);
        EXPECT_EQ(result.verdict->kind, TestVerdict::Kind::LinkLost);
        const std::string line = VerdictLine(*result.verdict);
        EXPECT_NE(line.find("the stop (AB1) was sent on a new session" + std::string(test.says)),
                  std::string::npos)
            << line;
        clock_->Advance(1s);
        for (int axis = 0; axis < 3; ++axis) {
            EXPECT_FALSE(station.machine->ReadAxis(axis).moving) << axis;
        }
    }
}

}  // namespace
}  // namespace trevane
