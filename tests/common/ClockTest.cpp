#include <thread>

#include <gtest/gtest.h>

#include "common/Clock.h"
#include "common/Platform.h"
#include "common/StopControl.h"

namespace trevane {
namespace {

TEST(VirtualClock, SleepsMoveTimeWithoutWaiting) {
    VirtualClock clock;
    auto start = clock.Now();
    std::stop_source stop;
    EXPECT_TRUE(clock.SleepFor(std::chrono::seconds(30), stop.get_token()));
    EXPECT_EQ(clock.Now() - start, std::chrono::seconds(30));
    stop.request_stop();
    EXPECT_FALSE(clock.SleepFor(std::chrono::seconds(1), stop.get_token()));
    EXPECT_EQ(clock.Now() - start, std::chrono::seconds(30));
}

TEST(RealClock, AStopRequestCutsAWaitShort) {
    RealClock clock;
    std::stop_source stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        stop.request_stop();
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(clock.SleepFor(std::chrono::seconds(10), stop.get_token()));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    stopper.join();
}

TEST(Clock, SleepUntilReachesItsDeadlineAndNeverGoesBack) {
    VirtualClock clock;
    std::stop_source stop;
    const auto start = clock.Now();
    EXPECT_TRUE(clock.SleepUntil(start + std::chrono::milliseconds(10), stop.get_token()));
    EXPECT_EQ(clock.Now() - start, std::chrono::milliseconds(10));
    // A deadline already past returns at once and leaves the time as it is.
    EXPECT_TRUE(clock.SleepUntil(start, stop.get_token()));
    EXPECT_EQ(clock.Now() - start, std::chrono::milliseconds(10));

    // The real clock, with precise timers, never wakes before the deadline.
    RealClock real;
    PreciseTimersScope precise;
    for (int i = 0; i < 5; ++i) {
        const auto deadline = real.Now() + std::chrono::milliseconds(2);
        EXPECT_TRUE(real.SleepUntil(deadline, stop.get_token()));
        EXPECT_GE(real.Now(), deadline);
    }
    stop.request_stop();
    EXPECT_FALSE(real.SleepUntil(real.Now() + std::chrono::seconds(10), stop.get_token()));
}

TEST(Wait, ThrowsTestAbortedOnAStoppedThread) {
    std::stop_source stop;
    ScopedStopToken scope(stop.get_token());
    EXPECT_NO_THROW(Wait(std::chrono::milliseconds(1)));
    stop.request_stop();
    EXPECT_THROW(Wait(std::chrono::milliseconds(1)), TestAborted);
    EXPECT_THROW(ThrowIfStopRequested(), TestAborted);
}

}  // namespace
}  // namespace trevane
