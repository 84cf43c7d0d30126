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

// Virtual time whose waits oversleep now and then, as a loaded machine's do.
class OversleepingClock final : public Clock {
  public:
    TimePoint Now() override { return clock_.Now(); }
    std::chrono::system_clock::time_point WallNow() override { return clock_.WallNow(); }
    bool SleepFor(Duration duration, std::stop_token stop) override {
        return clock_.SleepFor(duration + Oversleep(), stop);
    }
    bool SleepUntil(TimePoint deadline, std::stop_token stop) override {
        return clock_.SleepUntil(deadline + Oversleep(), stop);
    }
    void Advance(Duration duration) { clock_.Advance(duration); }

  private:
    Duration Oversleep() {
        std::lock_guard lock(mutex_);
        return (++sleeps_ % 3 == 0) ? Duration(6ms) : Duration(0);
    }

    VirtualClock clock_;
    std::mutex mutex_;
    long sleeps_ = 0;
};

struct Exchange {
    std::string command;
    Clock::TimePoint begin;
    Clock::TimePoint end;
};

class WatchTiming : public AutotestFixture {};

TEST_F(WatchTiming, EveryCycleWaitsTenMillisecondsAfterItsLastExchange) {
    auto clock = std::make_shared<OversleepingClock>();
    SetSystemClock(clock);
    std::mutex mutex;
    std::vector<Exchange> exchanges;
    int count = 0;
    controller_->OnExchange([&](const std::string& command) {
        const Clock::TimePoint begin = clock->Now();
        // Some exchanges are slow; a slow one must not eat into the following wait.
        clock->Advance(++count % 5 == 0 ? Clock::Duration(15ms) : Clock::Duration(1ms));
        std::lock_guard lock(mutex);
        exchanges.push_back({command, begin, clock->Now()});
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
