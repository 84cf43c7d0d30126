#include "common/Clock.h"

#include <condition_variable>

#include "common/StopWait.h"

namespace trevane {

bool RealClock::SleepFor(Duration duration, std::stop_token stop) {
    // condition_variable_any wakes on a stop request, so an abort never waits out a pause.
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    return !WaitForOrStopped(wake, lock, stop, duration, [] { return false; }) &&
           !stop.stop_requested();
}

bool RealClock::SleepUntil(TimePoint deadline, std::stop_token stop) {
    // An absolute deadline: a spurious wake-up re-arms for what is left, never for the whole.
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    return !WaitUntilOrStopped(wake, lock, stop, deadline, [] { return false; }) &&
           !stop.stop_requested();
}

VirtualClock::VirtualClock(std::chrono::system_clock::time_point wallStart)
    : wallStart_(wallStart) {}

Clock::TimePoint VirtualClock::Now() {
    return TimePoint{} + Duration(elapsedNs_.load());
}

std::chrono::system_clock::time_point VirtualClock::WallNow() {
    return wallStart_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                            Duration(elapsedNs_.load()));
}

bool VirtualClock::SleepFor(Duration duration, std::stop_token stop) {
    if (stop.stop_requested()) {
        return false;
    }
    Advance(duration);
    return !stop.stop_requested();
}

bool VirtualClock::SleepUntil(TimePoint deadline, std::stop_token stop) {
    if (stop.stop_requested()) {
        return false;
    }
    const TimePoint now = Now();
    if (deadline > now) {
        Advance(deadline - now);
    }
    return !stop.stop_requested();
}

void VirtualClock::Advance(Duration duration) {
    elapsedNs_.fetch_add(duration.count());
}

namespace {
std::mutex g_clockMutex;
// Never destroyed: objects that go at the program's exit (a front end's controller closing its
// sessions) still read the clock then.
std::shared_ptr<Clock>& ClockSlot() {
    static auto* const clock = new std::shared_ptr<Clock>(std::make_shared<RealClock>());
    return *clock;
}
}  // namespace

std::shared_ptr<Clock> SystemClockShared() {
    std::lock_guard lock(g_clockMutex);
    return ClockSlot();
}

Clock& SystemClock() {
    // The slot only changes between tests, never while threads use it; the shared copy keeps
    // the object alive for callers that hold on to it.
    std::lock_guard lock(g_clockMutex);
    return *ClockSlot();
}

void SetSystemClock(std::shared_ptr<Clock> clock) {
    std::lock_guard lock(g_clockMutex);
    ClockSlot() = clock ? std::move(clock) : std::make_shared<RealClock>();
}

}  // namespace trevane
