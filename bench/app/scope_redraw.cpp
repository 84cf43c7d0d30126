// One redraw of the Scope (each trace's records taken from the buffer, the plot drawn and
// painted) with 8 traces over 60 s (48,000 points), over 10 s (8,000 points) and, as the
// baseline of the same run, of the same axes without any record; and the taking of the 60 s
// of records alone. Offscreen, 900 x 600. Compare CPU times: the machine may be shared.
#include <chrono>
#include <cmath>

#include <benchmark/benchmark.h>
#include <QApplication>

#include "BenchWindow.h"
#include "app/ScopePlot.h"
#include "scope/Acquisition.h"
#include "scope/ScopeBuffer.h"

namespace trevane::bench {
namespace {

using namespace std::chrono_literals;

// 60 s of polls every 10 ms, every value moving as a jog's would.
void Fill(scope::ScopeBuffer& buffer, scope::TimePoint end) {
    for (int poll = 0; poll < 6000; ++poll) {
        scope::RecordValues values{};
        const double t = poll * 0.01;
        for (std::size_t channel = 0; channel < values.size(); ++channel) {
            values[channel] =
                static_cast<std::int32_t>(10000 * std::sin(t * (1.0 + channel % 7)) + channel);
        }
        buffer.AddValues(end - 60s + poll * 10ms, values);
    }
}

// range(0): the span in seconds; range(1): 0 for no records (the baseline), 1 for the whole
// redraw, 2 for taking the records out of the buffer alone, 3 for a refresh of the traces under
// axes that stand.
void Redraw(benchmark::State& state) {
    const auto seconds = std::chrono::seconds(state.range(0));
    const long part = state.range(1);
    const scope::TimePoint end = scope::TimePoint(1h);
    scope::ScopeBuffer buffer;
    if (part != 0) {
        Fill(buffer, end);
    }
    ScopePlot plot;
    std::vector<ScopeTrace> traces;
    for (std::size_t row : {scope::kRefPos, scope::kMotorPos, scope::kErrorPos, scope::kVelocity}) {
        for (std::size_t axis : {0u, 1u}) {
            ScopeTrace trace;
            trace.channel = {axis, row};
            traces.push_back(trace);
        }
    }
    plot.SetTraces(traces);
    plot.resize(900, 600);
    plot.show();
    RunEventLoopFor(50);
    const scope::Frame frame{end - seconds, end, end, false};
    for (auto _ : state) {
        if (part == 2) {
            plot.Fill(buffer, frame);
        } else if (part == 3) {
            plot.Draw(buffer, frame);
            plot.repaint();
        } else {
            plot.Fill(buffer, frame);
            plot.replot();
            plot.repaint();
        }
    }
    long points = 0;
    for (int trace = 0; trace < ScopePlot::kMaxTraces; ++trace) {
        points += plot.Graph(trace)->dataCount();
    }
    state.counters["points"] = static_cast<double>(points);
}

BENCHMARK(Redraw)
    ->ArgNames({"span_s", "part"})
    ->Args({60, 0})
    ->Args({10, 1})
    ->Args({60, 1})
    ->Args({60, 2})
    ->Args({10, 3})
    ->Args({60, 3})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace trevane::bench

int main(int argc, char** argv) {
    trevane::bench::UseOffscreenPlatformByDefault();
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
