#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/RunControl.h"
#include "common/Clock.h"
#include "sim/Simulator.h"

// trevane-cli's whole command line run in this process: against simulated controllers on one
// virtual clock, so an automatic test takes milliseconds, with its output kept as text.
namespace trevane::testing {

// The virtual clock of a run that a test interrupts at an instant of its time: the sleep that
// passes the instant ends there, the interrupt arrives as a signal's would, and the sleep waits
// (bounded, in real time) for the stop that the interrupt brings, as the sleeping thread would
// have been woken on a real clock.
class InterruptingClock final : public trevane::Clock {
  public:
    InterruptingClock();

    // The run that the interrupt goes to.
    void SetControl(std::shared_ptr<cli::RunControl> control);
    void InterruptAt(Duration elapsed, int signal);

    TimePoint Now() override { return time_.Now(); }
    std::chrono::system_clock::time_point WallNow() override { return time_.WallNow(); }
    bool SleepFor(Duration duration, std::stop_token stop) override;
    bool SleepUntil(TimePoint deadline, std::stop_token stop) override;

  private:
    VirtualClock time_;
    std::mutex mutex_;
    std::shared_ptr<cli::RunControl> control_;  // guarded by mutex_
    std::optional<Duration> at_;  // guarded by mutex_
    int signal_ = 0;              // guarded by mutex_
};

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class InProcessCli {
  public:
    InProcessCli();

    // A simulated controller that sessions to `port` reach, at whatever address they name.
    std::shared_ptr<sim::Machine> AddController(std::uint16_t port,
                                                sim::InProcessOptions options = {});

    // Runs the command line made of the blank-separated words of `arguments`.
    CliRun Run(const std::string& arguments);
    CliRun Run(const std::vector<std::string>& arguments);

    InterruptingClock& Clock() const { return *clock_; }

    // What the environment holds for the next runs.
    std::optional<std::string> historyVariable;
    bool outIsTerminal = false;

  private:
    struct Served {
        std::shared_ptr<sim::Machine> machine;
        sim::InProcessOptions options;
    };

    std::shared_ptr<InterruptingClock> clock_;
    std::map<std::uint16_t, Served> served_;
};

}  // namespace trevane::testing
