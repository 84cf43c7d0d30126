#include <algorithm>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "AutotestHarness.h"
#include "autotest/TestRunner.h"
#include "common/Clock.h"

namespace trevane::autotest_testing {
namespace {

using namespace std::chrono_literals;

// Virtual time that notes the progress bar's value at the start of every wait.
class ProgressAtWaitsClock final : public Clock {
  public:
    TimePoint Now() override { return clock_.Now(); }
    std::chrono::system_clock::time_point WallNow() override { return clock_.WallNow(); }
    bool SleepFor(Duration duration, std::stop_token stop) override {
        {
            std::lock_guard lock(mutex_);
            waits_.emplace_back(duration, g_testProgress.load());
        }
        return clock_.SleepFor(duration, stop);
    }
    std::vector<std::pair<Duration, int>> Waits() {
        std::lock_guard lock(mutex_);
        return waits_;
    }

  private:
    VirtualClock clock_;
    std::mutex mutex_;
    std::vector<std::pair<Duration, int>> waits_;
};

class ProgressTiming : public AutotestFixture {
  protected:
    // The progress shown during each 2 s wait, in order: the checks' wait, then the closing one.
    std::vector<int> ProgressDuringTwoSecondWaits() {
        std::vector<int> values;
        for (const auto& [duration, progress] : waitsClock_->Waits()) {
            if (duration == Clock::Duration(2s)) {
                values.push_back(progress);
            }
        }
        return values;
    }

    std::shared_ptr<ProgressAtWaitsClock> waitsClock_ = std::make_shared<ProgressAtWaitsClock>();
};

TEST_F(ProgressTiming, TheChecksShowFiftyBeforeTheirWait) {
    SetSystemClock(waitsClock_);
    RunWholeTest();
    EXPECT_EQ(ProgressDuringTwoSecondWaits(), (std::vector<int>{50, 80}));
}

TEST_F(ProgressTiming, AnAxisWhoseMoveBackAbortsAddsNoProgress) {
    // X's second watch (its move back to 0) reads a torque above the limit.
    UseController(std::make_shared<ScriptedController>(
        [](const std::string& command, int occurrence) -> std::optional<std::string> {
            if (command == "TTX" && occurrence >= 200) {
                return "5.0000";
            }
            return std::nullopt;
        }));
    SetSystemClock(waitsClock_);
    RunWholeTest();
    const std::vector<std::string> commands = controller_->Commands();
    ASSERT_NE(std::find(commands.begin(), commands.end(), "PAX=0"), commands.end());
    ASSERT_NE(std::find(commands.begin(), commands.end(), "AB1"), commands.end());
    // Y and Z complete; X adds nothing.
    EXPECT_EQ(ProgressDuringTwoSecondWaits(), (std::vector<int>{50, 70}));
}

}  // namespace
}  // namespace trevane::autotest_testing
