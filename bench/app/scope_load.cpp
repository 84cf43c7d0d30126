// The load that the live Scope (8 traces, 10 s span, free running) and the Plots window put on
// the window's thread: the thread's own CPU time over a stretch of real time (5 s by default)
// while the status table polls every 10 ms and four axes jog, first with both windows closed
// (the baseline), then with both open. Offscreen; a figure, never a pass or fail.
//
//   bench_scope_load [SECONDS]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <QApplication>

#include "BenchWindow.h"
#include "app/ScopeWindow.h"
#include "scope/RecordValues.h"

namespace trevane::bench {
namespace {

using Clock = std::chrono::steady_clock;

struct Load {
    double cpuPercent;
    double pollsPerSecond;
};

Load MeasureLoad(double seconds) {
    const scope::ScopeBuffer& buffer = scope::StatusScopeBuffer();
    RunEventLoopFor(300);
    const std::uint64_t recordsBefore = buffer.Version();
    const double cpuBefore = ThreadCpuSeconds();
    const auto start = Clock::now();
    RunEventLoopFor(static_cast<int>(seconds * 1000));
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = ThreadCpuSeconds() - cpuBefore;
    return {100.0 * cpu / wall, static_cast<double>(buffer.Version() - recordsBefore) / wall};
}

}  // namespace
}  // namespace trevane::bench

int main(int argc, char** argv) {
    using namespace trevane;
    using namespace trevane::bench;
    UseOffscreenPlatformByDefault();
    QApplication application(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;

    ConnectedWindow window(Link::InProcess);  // polls every 10 ms
    window.StartMoving();
    const Load closed = MeasureLoad(seconds);

    window.Dialog().OpenPlots();
    ScopeWindow* scopeWindow = window.Dialog().OpenScope();
    // Positions, error, velocity and torque of X and Y: values that change on every poll.
    for (const std::size_t axis : {0u, 1u}) {
        for (const std::size_t row :
             {scope::kRefPos, scope::kMotorPos, scope::kVelocity, scope::kTorque}) {
            scopeWindow->AddTrace({axis, row});
        }
    }
    scopeWindow->SetSpan(10);
    const Load open = MeasureLoad(seconds);

    std::printf("window thread CPU over %.1f s, status polls every 10 ms, four axes jogging\n",
                seconds);
    std::printf("  baseline, Scope and Plots closed       : %6.2f %% of one core (%.0f polls/s)\n",
                closed.cpuPercent, closed.pollsPerSecond);
    std::printf("  Scope (%d traces, 10 s) and Plots open : %6.2f %% of one core (%.0f polls/s)\n",
                scopeWindow->TraceCount(), open.cpuPercent, open.pollsPerSecond);
    std::printf(
        "  added by the open windows              : %6.2f percentage points (%.2fx the "
        "baseline)\n",
        open.cpuPercent - closed.cpuPercent,
        closed.cpuPercent > 0 ? open.cpuPercent / closed.cpuPercent : 0.0);
    return 0;
}
