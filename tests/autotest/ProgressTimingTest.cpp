#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AutotestHarness.h"
#include "autotest/TestRunner.h"

namespace trevane::autotest_testing {
namespace {

using namespace std::chrono_literals;

class ProgressTiming : public AutotestFixture {
  protected:
    // The progress shown during each 2 s wait, in order: the checks' wait, then the closing one.
    std::vector<int> ProgressDuringTwoSecondWaits() {
        std::vector<int> values;
        for (const TestClock::Wait& wait : clock_->Waits()) {
            if (wait.duration == Clock::Duration(2s)) {
                values.push_back(wait.progress);
            }
        }
        return values;
    }
};

TEST_F(ProgressTiming, TheChecksShowFiftyBeforeTheirWait) {
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
    RunWholeTest();
    const std::vector<std::string> commands = controller_->Commands();
    ASSERT_NE(std::find(commands.begin(), commands.end(), "PAX=0"), commands.end());
    ASSERT_NE(std::find(commands.begin(), commands.end(), "AB1"), commands.end());
    // Y and Z complete; X adds nothing.
    EXPECT_EQ(ProgressDuringTwoSecondWaits(), (std::vector<int>{50, 70}));
}

}  // namespace
}  // namespace trevane::autotest_testing
