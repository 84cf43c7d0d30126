// The replaying simulator against the simulated machine, over loopback TCP in the same run: a
// text command and a data-record poll each, and the replay's figures as a ratio of the machine's.
// Then the memory a long trace takes: the peak resident size of a process that loads it, streamed
// as trevane-sim does and read whole first as it once did, in MiB (figures, not limits).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <benchmark/benchmark.h>

#include "Smoke.h"

#include "common/TraceFormat.h"
#include "net/TcpMotionClient.h"
#include "sim/Replay.h"
#include "sim/Simulator.h"

namespace {

using namespace trevane;
using Seconds = std::chrono::duration<double>;

// Seconds per exchange on the machine, by the benchmark's argument (0: command, 1: record).
double g_machineSeconds[2] = {0, 0};

// A trace of 10,000 "TPX" and 10,000 record polls, 10 ms apart.
std::vector<TraceExchange> MadeTrace() {
    std::string record(152, '\0');
    record[2] = static_cast<char>(152);
    std::ostringstream text;
    for (int i = 0; i < 10000; ++i) {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "12/07/26 17:%02d:%02d.%03d", i / 6000 % 60,
                      i / 100 % 60, i % 100 * 10);
        text << stamp << "\tcommand\tTPX\\r\t" << i << "\t:\t40\t\t\n";
        text << stamp << "\trecord\tQR IXYZW\\r\trecord, 152 bytes\t:\t40\t\t"
             << EscapeBytes(record) << "\n";
    }
    std::istringstream in(text.str());
    return ReadTrace(in);
}

double Exchange(benchmark::State& state, std::uint16_t port) {
    TcpMotionClient session("127.0.0.1", port);
    const bool record = state.range(0) == 1;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (record) {
            benchmark::DoNotOptimize(session.record("QR IXYZW"));
        } else {
            benchmark::DoNotOptimize(session.command("TPX", "\r", ":", true));
        }
    }
    const double perExchange = Seconds(std::chrono::steady_clock::now() - start).count() /
                               static_cast<double>(state.iterations());
    state.counters["us_per_op"] = perExchange * 1e6;
    return perExchange;
}

void BM_Machine(benchmark::State& state) {
    auto machine = std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    sim::Server server(machine, "127.0.0.1", 0);
    g_machineSeconds[state.range(0)] = Exchange(state, server.Port());
}

void BM_Replay(benchmark::State& state) {
    auto replay = std::make_shared<sim::Replay>(MadeTrace(), std::make_shared<RealClock>());
    sim::Server server(replay, "127.0.0.1", 0, sim::Server::Options{});
    const double perExchange = Exchange(state, server.Port());
    if (g_machineSeconds[state.range(0)] > 0) {
        // Below 1: the replay answers faster than the machine.
        state.counters["x_machine"] = perExchange / g_machineSeconds[state.range(0)];
    }
}

#ifndef _WIN32

// Writes a trace of `exchanges` lines to `path`: text replies that change every time (a moving
// axis), and with `records`, every second line a 152-byte data record of its own.
void WriteLongTrace(const std::string& path, long exchanges, bool records) {
    std::ofstream out(path, std::ios::binary);
    std::string record(152, '\0');
    record[2] = static_cast<char>(152);
    for (long i = 0; i < exchanges; ++i) {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "12/07/26 %02ld:%02ld:%02ld.%03ld", i / 360000 % 24,
                      i / 6000 % 60, i / 100 % 60, i % 100 * 10);
        if (records && i % 2 == 1) {
            for (int byte = 4; byte < 152; ++byte) {
                record[byte] = static_cast<char>((i * 7 + byte) & 0xFF);
            }
            out << stamp << "\trecord\tQR IXYZW\\r\trecord, 152 bytes\t:\t40\t\t"
                << EscapeBytes(record) << "\n";
        } else {
            out << stamp << "\tcommand\tTP" << "XYZW"[i % 4] << "\\r\t" << -(i % 20000)
                << "\t:\t40\t\t\n";
        }
    }
}

// Peak resident size in MiB of a child process that loads the trace; negative when it failed.
double PeakMiBOfLoading(const std::string& path, bool streamed) {
    const pid_t child = ::fork();
    if (child == 0) {
        try {
            std::ifstream in(path, std::ios::binary);
            auto clock = std::make_shared<RealClock>();
            const auto replay = streamed ? std::make_shared<sim::Replay>(in, clock)
                                         : std::make_shared<sim::Replay>(ReadTrace(in), clock);
            benchmark::DoNotOptimize(replay->Exchanges());
        } catch (const std::exception& error) {
            std::fprintf(stderr, "loading %s: %s\n", path.c_str(), error.what());
            ::_exit(1);
        }
        ::_exit(0);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return -1;
    }
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

// Argument: 0 for 2,000,000 text exchanges, 1 for 2,000,000 half of them data records.
void BM_LoadLongTrace(benchmark::State& state) {
    const bool records = state.range(0) == 1;
    const std::string path =
        (std::filesystem::temp_directory_path() /
         ("trevane-bench-replay-" + std::to_string(::getpid()) + ".txt"))
            .string();
    WriteLongTrace(path, bench::SmokeOr(2000000, 20000), records);
    for (auto _ : state) {
        state.counters["streamed_peak_MiB"] = PeakMiBOfLoading(path, true);
        state.counters["read_whole_peak_MiB"] = PeakMiBOfLoading(path, false);
    }
    state.counters["trace_MiB"] =
        static_cast<double>(std::filesystem::file_size(path)) / (1024.0 * 1024.0);
    state.counters["bound_MiB"] = static_cast<double>(sim::Replay::kMaxHeldBytes >> 20);
    std::filesystem::remove(path);
}
BENCHMARK(BM_LoadLongTrace)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

#endif

BENCHMARK(BM_Machine)->Arg(0)->Arg(1)->UseRealTime();
BENCHMARK(BM_Replay)->Arg(0)->Arg(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
