// The load that the live plot puts on the window's thread during an automatic test: the thread's
// own CPU time over a stretch of real time (2 s by default) while a feeder thread records
// samples at the move watch's pace (two exchanges with the simulated controller and a 10 ms wait
// per sample) and the status table polls as it does during a test, first with the Plots window
// closed (the baseline), then open. Offscreen; a figure, never a pass or fail.
//
//   bench_plots_load [SECONDS]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include <QApplication>

#include "BenchWindow.h"
#include "app/PlotsWindow.h"
#include "autotest/TestRecorder.h"
#include "sim/Simulator.h"

namespace trevane::bench {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Records moves into the controller's recorder as the test thread does, each cycle after two
// exchanges and a 10 ms wait, until stopped.
void FeedSamples(TestRecorder& recorder, MotionClient& session, int testNumber,
                 std::stop_token stop, std::atomic<long>& samples) {
    recorder.BeginTest(testNumber);
    for (int move = 0; !stop.stop_requested(); move = (move + 1) % kMovesPerTest) {
        recorder.BeginMove(move, "XYZ"[move / 2], move % 2 == 0 ? -20000 : 0);
        const auto start = Clock::now();
        for (int cycle = 0; cycle < kCyclesPerMove && !stop.stop_requested(); ++cycle) {
            const double timeMs =
                std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            const float torque = static_cast<float>(std::atof(session.command("TTX").c_str()));
            const float error = static_cast<float>(std::atof(session.command("TEX").c_str()));
            const float shape = static_cast<float>(cycle % 50) / 50.0f;
            recorder.AddSample(timeMs, torque + 2.0f * shape, error + 500.0f * shape, 2.0f, 500.0f);
            ++samples;
            std::this_thread::sleep_for(10ms);
        }
        recorder.EndMoveWatch();
    }
    recorder.FinishOwnRecord(TestOutcome::Stopped);
}

WindowLoad MeasureLoad(ConnectedWindow& window, int testNumber, double seconds) {
    TestRecorder& recorder = window.TheController().Recorder();
    Feeder feeder([&recorder, session = sim::MakeInProcessClient(window.MachineShared()),
                   testNumber](std::stop_token stop, std::atomic<long>& samples) {
        FeedSamples(recorder, *session, testNumber, stop, samples);
    });
    return MeasureWindowLoad(seconds, {[&feeder] { return feeder.Count(); }});
}

}  // namespace
}  // namespace trevane::bench

int main(int argc, char** argv) {
    using namespace trevane::bench;
    UseOffscreenPlatformByDefault();
    QApplication application(argc, argv);
    const double seconds = SecondsArgument(argc, argv, 2.0);

    ConnectedWindow window(Link::InProcess);  // polls every 10 ms, as during a test
    window.StartMoving();
    const WindowLoad baseline = MeasureLoad(window, 1, seconds);
    window.Dialog().OpenPlots();
    const WindowLoad plotting = MeasureLoad(window, 2, seconds);

    std::printf(
        "window thread CPU over %.1f s, status polls running, samples at the watch's pace\n",
        seconds);
    std::printf("  baseline, Plots closed : %6.2f %% of one core (%.0f samples/s recorded)\n",
                baseline.cpuPercent, baseline.perSecond[0]);
    std::printf("  Plots open, live       : %6.2f %% of one core (%.0f samples/s recorded)\n",
                plotting.cpuPercent, plotting.perSecond[0]);
    std::printf("  added by the live plot : %6.2f percentage points (%.2fx the baseline)\n",
                plotting.cpuPercent - baseline.cpuPercent,
                baseline.cpuPercent > 0 ? plotting.cpuPercent / baseline.cpuPercent : 0.0);
    return 0;
}
