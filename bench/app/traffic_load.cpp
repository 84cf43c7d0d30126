// The load that the Traffic window puts on the window's thread: the thread's own CPU time over a
// stretch of real time (2 s by default) while the status table polls at 100 Hz and a feeder
// thread sends a command every 10 ms, both through the traffic recorder; first with the Traffic
// window closed (the baseline), then open and following. Offscreen; a figure, never a pass or
// fail.
//
//   bench_traffic_load [SECONDS]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include <QApplication>

#include "BenchWindow.h"
#include "app/TrafficWindow.h"
#include "sim/Simulator.h"
#include "traffic/TrafficRecorder.h"
#include "traffic/TrafficTap.h"

namespace trevane::bench {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Sends "TPX" every 10 ms on a recorded command session of its own, until stopped.
class CommandFeeder {
  public:
    explicit CommandFeeder(std::shared_ptr<sim::Machine> machine)
        : session_(TapSession(sim::MakeInProcessClient(std::move(machine)), "command", Traffic())),
          thread_([this](std::stop_token stop) {
              while (!stop.stop_requested()) {
                  session_->command("TPX");
                  ++sent_;
                  std::this_thread::sleep_for(10ms);
              }
          }) {}
    ~CommandFeeder() {
        thread_.request_stop();
        thread_.join();
    }
    long Sent() const { return sent_.load(); }

  private:
    std::shared_ptr<MotionClient> session_;
    std::atomic<long> sent_{0};
    std::jthread thread_;
};

struct Load {
    double cpuPercent;
    double commandsPerSecond;
    double pollsPerSecond;
};

Load MeasureLoad(ConnectedWindow& window, double seconds) {
    CommandFeeder feeder(std::shared_ptr<sim::Machine>(&window.Machine(), [](sim::Machine*) {}));
    RunEventLoopFor(200);
    const long sentBefore = feeder.Sent();
    const auto pollsBefore = Traffic().RecordPolls();
    const double cpuBefore = ThreadCpuSeconds();
    const auto start = Clock::now();
    RunEventLoopFor(static_cast<int>(seconds * 1000));
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = ThreadCpuSeconds() - cpuBefore;
    return {100.0 * cpu / wall, static_cast<double>(feeder.Sent() - sentBefore) / wall,
            static_cast<double>(Traffic().RecordPolls() - pollsBefore) / wall};
}

}  // namespace
}  // namespace trevane::bench

int main(int argc, char** argv) {
    using namespace trevane::bench;
    UseOffscreenPlatformByDefault();
    QApplication application(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;

    ConnectedWindow window(Link::InProcess);  // polls every 10 ms
    const Load baseline = MeasureLoad(window, seconds);
    window.Dialog().OpenTraffic();
    const Load open = MeasureLoad(window, seconds);

    std::printf("window thread CPU over %.1f s, status polls and a command every 10 ms\n", seconds);
    const auto line = [](const char* what, const Load& load) {
        std::printf("  %-24s: %6.2f %% of one core (%.0f polls/s, %.0f commands/s)\n", what,
                    load.cpuPercent, load.pollsPerSecond, load.commandsPerSecond);
    };
    line("baseline, Traffic closed", baseline);
    line("Traffic open, following", open);
    std::printf("  added by the window     : %6.2f percentage points\n",
                open.cpuPercent - baseline.cpuPercent);
    return 0;
}
