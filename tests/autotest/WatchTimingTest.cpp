#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AutotestHarness.h"
#include "autotest/TestRecord.h"
#include "common/Clock.h"

namespace trevane::autotest_testing {
namespace {

using namespace std::chrono_literals;

struct Exchange {
    std::string command;
    Clock::TimePoint begin;
    Clock::TimePoint end;
};

class WatchTiming : public AutotestFixture {};

TEST_F(WatchTiming, EveryCycleWaitsTenMillisecondsAfterItsLastExchange) {
    clock_->OversleepNowAndThen();
    std::mutex mutex;
    std::vector<Exchange> exchanges;
    int count = 0;
    controller_->OnExchange([&](const std::string& command) {
        const Clock::TimePoint begin = clock_->Now();
        // Some exchanges are slow; a slow one must not eat into the following wait.
        clock_->Advance(++count % 5 == 0 ? Clock::Duration(15ms) : Clock::Duration(1ms));
        std::lock_guard lock(mutex);
        exchanges.push_back({command, begin, clock_->Now()});
    });
    RunWholeTest();

    std::lock_guard lock(mutex);
    int cycleGaps = 0;
    for (size_t i = 0; i + 1 < exchanges.size(); ++i) {
        // Inside a watch, a cycle's last exchange (TE) is followed by the next cycle's TT.
        if (exchanges[i].command.starts_with("TE") && exchanges[i + 1].command.starts_with("TT")) {
            ++cycleGaps;
            EXPECT_GE(exchanges[i + 1].begin - exchanges[i].end, Clock::Duration(10ms))
                << "cycle gap before exchange " << i + 1;
        }
    }
    EXPECT_EQ(cycleGaps, 6 * (kCyclesPerMove - 1));
}

}  // namespace
}  // namespace trevane::autotest_testing
