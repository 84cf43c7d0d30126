// The load that the live Scope (8 traces, 10 s span, free running) and the Plots window put on
// the window's thread: the thread's own CPU time over a stretch of real time (5 s by default)
// while the status table polls every 10 ms and four axes jog, first with both windows closed
// (the baseline), then with both open. Offscreen; a figure, never a pass or fail.
//
//   bench_scope_load [SECONDS]
#include <cstdio>
#include <cstdlib>

#include <QApplication>

#include "BenchWindow.h"
#include "app/ScopeWindow.h"
#include "console/StatusMonitor.h"
#include "scope/RecordValues.h"
#include "scope/ScopeBuffer.h"

int main(int argc, char** argv) {
    using namespace trevane;
    using namespace trevane::bench;
    UseOffscreenPlatformByDefault();
    QApplication application(argc, argv);
    const double seconds = SecondsArgument(argc, argv, 5.0);
    ConnectedWindow window(Link::InProcess);  // polls every 10 ms
    scope::ScopeBuffer& buffer = window.TheController().Monitor().Scope();
    const auto records = [&buffer] { return static_cast<double>(buffer.Version()); };
    window.StartMoving();
    const WindowLoad closed = MeasureWindowLoad(seconds, {records}, 300);

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
    const WindowLoad open = MeasureWindowLoad(seconds, {records}, 300);

    std::printf("window thread CPU over %.1f s, status polls every 10 ms, four axes jogging\n",
                seconds);
    std::printf("  baseline, Scope and Plots closed       : %6.2f %% of one core (%.0f polls/s)\n",
                closed.cpuPercent, closed.perSecond[0]);
    std::printf("  Scope (%d traces, 10 s) and Plots open : %6.2f %% of one core (%.0f polls/s)\n",
                scopeWindow->TraceCount(), open.cpuPercent, open.perSecond[0]);
    std::printf(
        "  added by the open windows              : %6.2f percentage points (%.2fx the "
        "baseline)\n",
        open.cpuPercent - closed.cpuPercent,
        closed.cpuPercent > 0 ? open.cpuPercent / closed.cpuPercent : 0.0);
    return 0;
}
