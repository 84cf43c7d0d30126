// The replaying simulator against the simulated machine, over loopback TCP in the same run: a
// text command and a data-record poll each, and the replay's figures as a ratio of the machine's.
#include <chrono>
#include <memory>
#include <sstream>
#include <string>

#include <benchmark/benchmark.h>

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

BENCHMARK(BM_Machine)->Arg(0)->Arg(1)->UseRealTime();
BENCHMARK(BM_Replay)->Arg(0)->Arg(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
