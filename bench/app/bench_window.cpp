// One status poll of the window (record request, decode, 52 cells, one view update and its
// repaint) against the bare record request on the same link; and the cost of one transcript
// append when the transcript holds 100,000 lines against when it holds 10.
#include <memory>
#include <string>

#include <benchmark/benchmark.h>
#include <QApplication>
#include <QPlainTextEdit>

#include "BenchWindow.h"
#include "link/ControllerLink.h"

namespace trevane::bench {
namespace {

void RecordRequest(benchmark::State& state, Link link) {
    ConnectedWindow window(link);
    window.StopPolling();
    window.StartMoving();
    const auto session = window.TheController().Link().RecordSession();
    for (auto _ : state) {
        benchmark::DoNotOptimize(session->record("QR IXYZW"));
    }
}

void StatusPoll(benchmark::State& state, Link link, bool repaint) {
    ConnectedWindow window(link);
    window.StopPolling();
    window.StartMoving();
    for (auto _ : state) {
        window.Poll();
        if (repaint) {
            // The view repaints the changed cells when the window's thread next handles events.
            QApplication::processEvents();
        }
    }
}

// range(0): lines already in the transcript; range(1): 1 to scroll and repaint after each append
// as the command entry does, 0 for the append alone.
void TranscriptAppend(benchmark::State& state) {
    ConnectedWindow window(Link::InProcess);
    window.StopPolling();
    auto* transcript = window.Dialog().Transcript();
    std::string lines;
    for (long i = 0; i < state.range(0); ++i) {
        lines += "reply " + std::to_string(i) + "\r\n";
    }
    const auto ops = window.TheController().Link().TheOperator();
    transcript->clear();
    ops->AppendTranscript(lines);
    ops->ScrollTranscriptToEnd();
    QApplication::processEvents();
    const bool shown = state.range(1) != 0;
    for (auto _ : state) {
        ops->AppendTranscript("1234, -5678, 90, 0\r\n");
        if (shown) {
            ops->ScrollTranscriptToEnd();
            QApplication::processEvents();
        }
    }
    state.counters["lines"] = static_cast<double>(transcript->blockCount());
}

BENCHMARK_CAPTURE(RecordRequest, in_process_baseline, Link::InProcess)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(StatusPoll, in_process, Link::InProcess, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(StatusPoll, in_process_repainted, Link::InProcess, true)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(RecordRequest, loopback_baseline, Link::Loopback)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(StatusPoll, loopback_repainted, Link::Loopback, true)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(TranscriptAppend)
    ->ArgNames({"lines", "shown"})
    ->Args({10, 0})
    ->Args({100000, 0})
    ->Args({10, 1})
    ->Args({100000, 1})
    ->Iterations(2000)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace trevane::bench

int main(int argc, char** argv) {
    trevane::bench::UseOffscreenPlatformByDefault();
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
