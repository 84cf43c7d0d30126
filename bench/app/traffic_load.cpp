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

// Status polls run all along; a feeder sends "TPX" every 10 ms on a recorded command session of
// its own.
WindowLoad MeasureLoad(ConnectedWindow& window, double seconds) {
    TrafficRecorder& traffic = window.TheController().Traffic();
    Feeder feeder([session = TapSession(sim::MakeInProcessClient(window.MachineShared()), "command",
                                        traffic)](std::stop_token stop, std::atomic<long>& sent) {
        while (!stop.stop_requested()) {
            session->command("TPX");
            ++sent;
            std::this_thread::sleep_for(10ms);
        }
    });
    return MeasureWindowLoad(seconds,
                             {[&feeder] { return feeder.Count(); },
                              [&traffic] { return static_cast<double>(traffic.RecordPolls()); }});
}

}  // namespace
}  // namespace trevane::bench

int main(int argc, char** argv) {
    using namespace trevane::bench;
    UseOffscreenPlatformByDefault();
    QApplication application(argc, argv);
    const double seconds = SecondsArgument(argc, argv, 2.0);

    ConnectedWindow window(Link::InProcess);  // polls every 10 ms
    const WindowLoad baseline = MeasureLoad(window, seconds);
    window.Dialog().OpenTraffic();
    const WindowLoad open = MeasureLoad(window, seconds);

    std::printf("window thread CPU over %.1f s, status polls and a command every 10 ms\n", seconds);
    const auto line = [](const char* what, const WindowLoad& load) {
        std::printf("  %-24s: %6.2f %% of one core (%.0f polls/s, %.0f commands/s)\n", what,
                    load.cpuPercent, load.perSecond[1], load.perSecond[0]);
    };
    line("baseline, Traffic closed", baseline);
    line("Traffic open, following", open);
    std::printf("  added by the window     : %6.2f percentage points\n",
                open.cpuPercent - baseline.cpuPercent);
    return 0;
}
