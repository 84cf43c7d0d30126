#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <stop_token>
#include <utility>

namespace trevane {

// Every wait and every time stamp of the system goes through one clock, so that tests can run
// the whole automatic test (about 30 s of waits) in virtual time against the in-process
// simulated controller.
class Clock {
  public:
    using Duration = std::chrono::nanoseconds;
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~Clock() = default;

    // Monotonic time, for waits and the simulated machine's model.
    virtual TimePoint Now() = 0;
    // Calendar time, for log stamps and the log file name.
    virtual std::chrono::system_clock::time_point WallNow() = 0;
    // Waits for `duration` or until `stop` is requested, whichever comes first.
    // Returns false when the wait ended because of the stop request.
    virtual bool SleepFor(Duration duration, std::stop_token stop) = 0;
    // Waits until `deadline` (never returning before it) or until `stop` is requested.
    virtual bool SleepUntil(TimePoint deadline, std::stop_token stop) {
        const TimePoint now = Now();
        return SleepFor(deadline > now ? deadline - now : Duration::zero(), std::move(stop));
    }
};

class RealClock final : public Clock {
  public:
    TimePoint Now() override { return std::chrono::steady_clock::now(); }
    std::chrono::system_clock::time_point WallNow() override {
        return std::chrono::system_clock::now();
    }
    bool SleepFor(Duration duration, std::stop_token stop) override;
    bool SleepUntil(TimePoint deadline, std::stop_token stop) override;
};

// Time that moves only when someone sleeps or advances it. Waits return at once after moving
// the clock forward, so a test's 30 s of waits cost nothing. Safe to use from several threads.
class VirtualClock final : public Clock {
  public:
    explicit VirtualClock(
        std::chrono::system_clock::time_point wallStart = std::chrono::system_clock::time_point{});

    TimePoint Now() override;
    std::chrono::system_clock::time_point WallNow() override;
    bool SleepFor(Duration duration, std::stop_token stop) override;
    bool SleepUntil(TimePoint deadline, std::stop_token stop) override;

    void Advance(Duration duration);
    Duration Elapsed() const { return Duration(elapsedNs_.load()); }

  private:
    std::chrono::system_clock::time_point wallStart_;
    std::atomic<std::int64_t> elapsedNs_{0};
};

// The process-wide clock. Defaults to a RealClock; tests install a VirtualClock.
Clock& SystemClock();
void SetSystemClock(std::shared_ptr<Clock> clock);  // nullptr restores the real clock
std::shared_ptr<Clock> SystemClockShared();

}  // namespace trevane
