#include <thread>

#include <gtest/gtest.h>

#include "common/Clock.h"
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
