#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "autotest/TestContext.h"
#include "common/Clock.h"
#include "protocol/MotionClient.h"
#include "support/ControllerUnderTest.h"
#include "support/ScratchFolder.h"
#include "support/ScriptedController.h"
#include "support/SpyWindow.h"

// What the automatic test's tests share: a scripted controller for exact readings, a virtual
// clock, a window that honours the threading contract, and points where the test thread can be
// held while the window's thread (the test's own thread) acts.
namespace trevane::autotest_testing {

// The operator's steps on the controller under test, by the handlers' names.
using namespace trevane::testing;

// Holds the test thread at its N-th event (an exchange, a wait or a window operation), so that the
// main thread can abort or reconnect at exactly that point. Events on the main thread don't count.
class PausePoint {
  public:
    void Arm(long target);
    void Disarm();
    // Called by the doubles at each event. The held thread goes on once released or stopped.
    void Tick();
    // Main thread: waits until the test thread is held (false when the run ended first).
    bool WaitUntilHeld(const std::function<bool()>& runEnded);
    void Release();
    long Count() const;
    // True when a held thread was never released: the main thread must have been stuck.
    bool GaveUp() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable_any changed_;
    std::thread::id mainThread_;
    long target_ = 0;
    long count_ = 0;
    bool held_ = false;
    bool released_ = false;
    bool gaveUp_ = false;
};

PausePoint& Pause();

// Every distinct value the test's progress took, seen at each wait and each window operation.
class ProgressTrace {
  public:
    // Notes the progress of the controller under test.
    void Record();
    void Record(int value);
    std::vector<int> Values() const;
    void Clear();

  private:
    mutable std::mutex mutex_;
    std::vector<int> values_;
};

ProgressTrace& SeenProgress();

// Virtual time with the pause point and the progress trace at every wait, which it also notes
// with the progress bar's value at its start.
class TestClock final : public Clock {
  public:
    struct Wait {
        Duration duration;
        int progress;
    };

    // `progress` is the progress of the controller whose test the waits belong to.
    TestClock(std::chrono::system_clock::time_point wallStart, const TestFlags& progress);
    TimePoint Now() override;
    std::chrono::system_clock::time_point WallNow() override;
    bool SleepFor(Duration duration, std::stop_token stop) override;
    Duration Elapsed() const { return clock_.Elapsed(); }
    void Advance(Duration duration) { clock_.Advance(duration); }
    // From now on every third wait oversleeps by 6 ms, as a loaded machine's waits do.
    void OversleepNowAndThen() { oversleeps_ = true; }
    std::vector<Wait> Waits() const;

  private:
    VirtualClock clock_;
    const TestFlags& test_;
    std::atomic<bool> oversleeps_{false};
    mutable std::mutex mutex_;
    std::vector<Wait> waits_;
};

// A window whose operations are carried out one at a time, as on the window's thread, and skipped
// for a caller whose stop has been requested, as the window contract says.
class TestWindow final : public testing::SpyWindow {
  public:
    void AppendTranscript(const std::string& text) override;
    void ScrollTranscriptToEnd() override;
    void SetTestStatus(const std::string& text) override;
    void TestRunningChanged(bool running) override;

  private:
    bool Admit();
    std::mutex windowThread_;
};

using testing::ScriptedController;

// 29 November 2012, 14:05:09 UTC, and the same day at 23:59:50.
std::chrono::system_clock::time_point WallTime(int hour, int minute, int second);

// Sets up a fresh controller in a scratch working directory with TZ=UTC, a TestClock, a
// TestWindow, a connected ScriptedController and the log file name; tears it all down after.
class AutotestFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Replaces the clock (and the log file name made from it).
    void StartClockAt(std::chrono::system_clock::time_point wallStart);
    void UseController(std::shared_ptr<ScriptedController> controller);
    // For tests that connect to a machine of their own instead.
    void DropController();

    // Presses Run Auto Test and waits (bounded) for the test thread to end.
    void RunWholeTest();
    // What the test's phases work with when a test calls them on its own thread; made on first
    // use, one for the whole test.
    TestContext& Context();
    std::string LogBytes() const;
    // Status-line texts set by the test, in order.
    std::vector<std::string> Entries() const;
    // The entries that begin with `axis` followed by " Axis".
    std::vector<std::string> EntriesOf(const std::string& axis) const;

    std::shared_ptr<TestClock> clock_;
    std::shared_ptr<TestWindow> window_;
    std::shared_ptr<ScriptedController> controller_;

  private:
    std::optional<testing::ScopedWorkingFolder> folder_;
    // After the folder, so that the test threads have stopped before it goes.
    std::optional<testing::ControllerGuard> guard_;
    std::unique_ptr<TestContext> context_;
};

// Torque and error readings that differ from cycle to cycle and stay inside their limits: the
// n-th "TT" of an axis reads -(0.1 + 0.005 n) with four decimals, the n-th "TE" reads n % 97 - 48.
ScriptedController::Script VaryingReadings();

// What follows the first `first` in `all` (nothing when it is not there).
std::vector<std::string> After(const std::vector<std::string>& all, const std::string& first);

// The log's entry texts in order: stamps removed, stored line ends (CR LF) kept as they are.
std::vector<std::string> SplitLogEntries(const std::string& log);

// The commands a complete run sends for one axis whose switches read as off and whose moves
// complete.
std::vector<std::string> CommandsOfCleanAxis(const std::string& axis);
std::vector<std::string> CommandsOfWatch(const std::string& axis);

}  // namespace trevane::autotest_testing
