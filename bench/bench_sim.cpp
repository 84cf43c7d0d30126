// Throughput and latency of the simulated controller, in process and over loopback TCP. Each
// figure is also given against baselines measured in the same run: an in-process exchange, and
// a bare loopback round trip through a one-line echo server.
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>
#include <asio/ip/tcp.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>

#include "net/TcpMotionClient.h"
#include "sim/Simulator.h"

namespace {

using namespace trevane;
using Seconds = std::chrono::duration<double>;

// Seconds per operation of the baselines, filled by the benchmarks that measure them.
double g_inProcessSeconds = 0;
double g_loopbackSeconds = 0;

void ReportAgainstBaselines(benchmark::State& state, double secondsPerOperation) {
    if (g_inProcessSeconds > 0) {
        state.counters["x_in_process"] = secondsPerOperation / g_inProcessSeconds;
    }
    if (g_loopbackSeconds > 0) {
        state.counters["x_loopback"] = secondsPerOperation / g_loopbackSeconds;
    }
    state.counters["us_per_op"] = secondsPerOperation * 1e6;
}

// Runs `operation` for every iteration and reports its mean time against the baselines.
template <typename Operation>
double Measure(benchmark::State& state, Operation&& operation) {
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        operation();
    }
    const double seconds = Seconds(std::chrono::steady_clock::now() - start).count();
    const double perOperation = seconds / static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations());
    return perOperation;
}

struct Simulator {
    std::shared_ptr<sim::Machine> machine =
        std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    sim::Server server{machine, "127.0.0.1", 0};
    Simulator() {
        TcpMotionClient setup("127.0.0.1", server.Port());
        for (const char* command : {"SH", "AC*=300000", "SP*=10000", "PT1,1,1,1"}) {
            setup.command(command, "\r", ":", true);
        }
    }
};

void BM_InProcessExchange(benchmark::State& state) {
    auto machine = std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    auto client = sim::MakeInProcessClient(machine);
    g_inProcessSeconds =
        Measure(state, [&] { benchmark::DoNotOptimize(client->command("TPX", "\r", ":", true)); });
    ReportAgainstBaselines(state, g_inProcessSeconds);
}

// A bare loopback round trip: 4 bytes out, 4 bytes back, no controller behind them.
void BM_LoopbackEchoRoundTrip(benchmark::State& state) {
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address_v4("127.0.0.1"), 0});
    std::thread echo([&] {
        asio::io_context serverIo;
        asio::ip::tcp::socket peer(serverIo);
        acceptor.accept(peer);
        peer.set_option(asio::ip::tcp::no_delay(true));
        char bytes[4];
        asio::error_code ec;
        while (!ec) {
            asio::read(peer, asio::buffer(bytes), ec);
            if (!ec) {
                asio::write(peer, asio::buffer(bytes), ec);
            }
        }
    });
    asio::ip::tcp::socket socket(io);
    socket.connect(acceptor.local_endpoint());
    socket.set_option(asio::ip::tcp::no_delay(true));
    char bytes[4] = {'T', 'P', 'X', '\r'};
    g_loopbackSeconds = Measure(state, [&] {
        asio::write(socket, asio::buffer(bytes));
        asio::read(socket, asio::buffer(bytes));
    });
    socket.close();
    echo.join();
    ReportAgainstBaselines(state, g_loopbackSeconds);
}

void BM_TcpExchangeOneSession(benchmark::State& state) {
    Simulator simulator;
    TcpMotionClient client("127.0.0.1", simulator.server.Port());
    const double perOperation =
        Measure(state, [&] { benchmark::DoNotOptimize(client.command("TPX", "\r", ":", true)); });
    ReportAgainstBaselines(state, perOperation);
}

void BM_TcpRecordRoundTrip(benchmark::State& state) {
    Simulator simulator;
    TcpMotionClient client("127.0.0.1", simulator.server.Port());
    const double perOperation =
        Measure(state, [&] { benchmark::DoNotOptimize(client.record("QR IXYZW")); });
    ReportAgainstBaselines(state, perOperation);
}

// The command stream of one session while eight others poll the record every 10 ms, as eight
// status windows would.
void BM_TcpExchangeBesideEightPollers(benchmark::State& state) {
    Simulator simulator;
    std::atomic<bool> stop{false};
    std::atomic<long long> polls{0};
    std::atomic<long long> pollNanoseconds{0};
    std::atomic<long long> worstPollNanoseconds{0};
    std::vector<std::thread> pollers;
    for (int i = 0; i < 8; ++i) {
        pollers.emplace_back([&] {
            TcpMotionClient poller("127.0.0.1", simulator.server.Port());
            while (!stop.load()) {
                const auto start = std::chrono::steady_clock::now();
                poller.record("QR IXYZW");
                const long long took = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                           std::chrono::steady_clock::now() - start)
                                           .count();
                ++polls;
                pollNanoseconds += took;
                long long worst = worstPollNanoseconds.load();
                while (took > worst && !worstPollNanoseconds.compare_exchange_weak(worst, took)) {
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }
    TcpMotionClient client("127.0.0.1", simulator.server.Port());
    int target = 0;
    const double perOperation = Measure(state, [&] {
        // A realistic mix: a move command now and then, otherwise the watch's readings.
        if (++target % 64 == 0) {
            client.command("PAX=" + std::to_string((target / 64) % 2 ? -2000 : 0), "\r", ":", true);
        } else {
            benchmark::DoNotOptimize(client.command(target % 2 ? "TTX" : "TEX", "\r", ":", true));
        }
    });
    stop = true;
    for (std::thread& poller : pollers) {
        poller.join();
    }
    ReportAgainstBaselines(state, perOperation);
    if (polls > 0) {
        state.counters["poll_mean_us"] =
            static_cast<double>(pollNanoseconds.load()) / static_cast<double>(polls.load()) / 1e3;
        state.counters["poll_worst_us"] = static_cast<double>(worstPollNanoseconds.load()) / 1e3;
        state.counters["polls"] = static_cast<double>(polls.load());
    }
}

BENCHMARK(BM_InProcessExchange);
BENCHMARK(BM_LoopbackEchoRoundTrip)->UseRealTime();
BENCHMARK(BM_TcpExchangeOneSession)->UseRealTime();
BENCHMARK(BM_TcpRecordRoundTrip)->UseRealTime();
BENCHMARK(BM_TcpExchangeBesideEightPollers)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
