// What a trace costs the thread of each exchange: the recorder's Add without a trace, with a
// trace into a file, and with a trace into a FIFO whose reader has stopped (every line refused
// once the queue is full). The figures are per exchange on the exchanging thread; the ratios to
// the run without a trace say what the command path pays.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "traffic/TraceWriter.h"
#include "traffic/TrafficRecorder.h"

namespace {

namespace fs = std::filesystem;

trevane::TrafficEntry Exchange() {
    trevane::TrafficEntry entry;
    entry.time = std::chrono::system_clock::now();
    entry.request = "MG _TPX\\r";
    entry.reply = " 1234.0000";
    entry.acknowledgement = ":";
    entry.microseconds = 120;
    return entry;
}

fs::path Scratch(const char* name) {
    const fs::path path = fs::temp_directory_path() / (std::string("trevane-bench-") + name);
    fs::remove(path);
    return path;
}

void BM_AddWithoutTrace(benchmark::State& state) {
    trevane::TrafficRecorder recorder;
    for (auto _ : state) {
        recorder.Add(Exchange());
    }
}
BENCHMARK(BM_AddWithoutTrace);

void BM_AddWithTraceToAFile(benchmark::State& state) {
    trevane::TrafficRecorder recorder;
    trevane::TraceWriter trace(recorder);
    const fs::path path = Scratch("trace.txt");
    if (trace.Start(path.string())) {
        state.SkipWithError("cannot write the trace file");
        return;
    }
    for (auto _ : state) {
        recorder.Add(Exchange());
    }
    state.counters["lines_lost"] = static_cast<double>(trace.LinesLost());
    trace.Stop();
    fs::remove(path);
}
BENCHMARK(BM_AddWithTraceToAFile);

#ifndef _WIN32
// The reader opened the FIFO and never reads; the pipe is full before the first line.
void BM_AddWithTraceToAStalledFifo(benchmark::State& state) {
    const fs::path path = Scratch("trace.fifo");
    if (::mkfifo(path.c_str(), 0600) != 0) {
        state.SkipWithError("cannot make the FIFO");
        return;
    }
    const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const int filler = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    const std::string block(4096, 'f');
    while (filler >= 0 && ::write(filler, block.data(), block.size()) > 0) {
    }
    ::close(filler);
    {
        trevane::TrafficRecorder recorder;
        trevane::TraceWriter trace(recorder);
        trace.Start(path.string());
        for (auto _ : state) {
            recorder.Add(Exchange());
        }
        state.counters["lines_lost"] = static_cast<double>(trace.LinesLost());
        trace.Stop();
    }
    ::close(reader);  // the stuck write fails and its thread ends
    fs::remove(path);
}
BENCHMARK(BM_AddWithTraceToAStalledFifo)->Iterations(200000);
#endif

}  // namespace

BENCHMARK_MAIN();
