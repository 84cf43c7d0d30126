#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "app/MainWindow.h"
#include "controller/Controller.h"
#include "sim/Simulator.h"

// What the window benchmarks set up: the offscreen platform, and a connected main dialog on a
// simulated controller that is reached in process or over loopback.
namespace trevane::bench {

// Before the QApplication: the offscreen platform unless the caller chose another.
void UseOffscreenPlatformByDefault();

enum class Link { InProcess, Loopback };

class ConnectedWindow {
  public:
    explicit ConnectedWindow(Link link);
    ~ConnectedWindow();

    MainWindow& Dialog() { return *dialog_; }
    Controller& TheController() { return *controller_; }
    sim::Machine& Machine() { return *machine_; }
    std::shared_ptr<sim::Machine> MachineShared() { return machine_; }
    // Jogs all four axes, so that every poll brings new values and a repaint.
    void StartMoving();
    // The status timer stays off, so that a benchmark drives the polls itself.
    void StopPolling();
    // One status poll as the window's timer tick makes it: one record, 52 cells, one update.
    void Poll();

  private:
    std::shared_ptr<sim::Machine> machine_;
    std::unique_ptr<sim::Server> server_;
    // After the server, so that its sessions end before the simulator they talk to.
    std::unique_ptr<Controller> controller_;
    std::unique_ptr<MainWindow> dialog_;
};

// CPU seconds of the calling thread. Linux counts per thread; elsewhere the process's time
// stands in, which also counts other threads and so overstates the load.
double ThreadCpuSeconds();

// Runs the calling thread's event loop for `ms` milliseconds.
void RunEventLoopFor(int ms);

// Resident memory of this process in KiB, or -1 where it cannot be read.
long ResidentKiB();

// The first argument as a number of seconds, or `fallback` without one.
double SecondsArgument(int argc, char** argv, double fallback);

// The calling (window) thread's load over `seconds` of its event loop after `warmUpMs` of it: its
// CPU time in percent of one core, and how fast each of `counters` grew, per second of that time.
struct WindowLoad {
    double cpuPercent = 0;
    std::vector<double> perSecond;
};
WindowLoad MeasureWindowLoad(double seconds, const std::vector<std::function<double()>>& counters,
                             int warmUpMs = 200);

// Runs `body` on a thread of its own until the feeder goes; `body` counts what it did.
class Feeder {
  public:
    using Body = std::function<void(std::stop_token stop, std::atomic<long>& count)>;
    explicit Feeder(Body body)
        : thread_([this, body = std::move(body)](std::stop_token stop) { body(stop, count_); }) {}
    double Count() const { return static_cast<double>(count_.load()); }

  private:
    std::atomic<long> count_{0};
    std::jthread thread_;  // last: stopped and joined before the count goes
};

}  // namespace trevane::bench
