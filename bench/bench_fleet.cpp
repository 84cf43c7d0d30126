// trevane-cli fleet autotest against 1, 4, 16 and 64 simulated controllers in one wave, each
// figure also as a ratio of one trevane-cli autotest measured in the same run, with the fleet's
// peak memory per controller beyond one. Real time (about 30 s a run): the tests wait far more
// than they compute. Loopback only. A smoke run (bench/Smoke.h) takes only the smallest fleet.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <unistd.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include "Smoke.h"
#include "sim/Simulator.h"

namespace {

using namespace trevane;
namespace fs = std::filesystem;
using Seconds = std::chrono::duration<double>;

double g_singleSeconds = 0;

struct Scratch {
    Scratch() {
        folder = fs::temp_directory_path() /
                 ("trevane-bench-fleet-" + std::to_string(std::random_device{}()));
        fs::create_directories(folder);
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    fs::path folder;
};

struct Controllers {
    explicit Controllers(int count) {
        for (int i = 0; i < count; ++i) {
            auto machine = std::make_shared<sim::Machine>(std::make_shared<RealClock>());
            servers.push_back(std::make_unique<sim::Server>(machine, "127.0.0.1", 0));
        }
    }
    std::vector<std::unique_ptr<sim::Server>> servers;
};

struct Run {
    double seconds = -1;  // -1: it did not exit 0
    double peakMegabytes = 0;
};

// Runs `arguments` in `folder` through the shell, output discarded: its wall time and the
// program's peak resident memory (the shell execs it, so the child's figure is the program's).
Run RunCli(const fs::path& folder, const std::string& arguments) {
    const std::string command = "cd '" + folder.string() + "' && exec '" TREVANE_CLI_PATH "' " +
                                arguments + " > /dev/null 2>&1";
    const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
        return {};
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) {
        return {};
    }
    Run run;
    run.peakMegabytes = static_cast<double>(usage.ru_maxrss) / 1024.0;  // kB on Linux
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        run.seconds = Seconds(std::chrono::steady_clock::now() - start).count();
    }
    return run;
}

double g_onePeakMegabytes = 0;

void BM_OneAutotest(benchmark::State& state) {
    Controllers controller(1);
    for (auto _ : state) {
        Scratch scratch;
        const Run run =
            RunCli(scratch.folder, "--address 127.0.0.1 --port " +
                                       std::to_string(controller.servers[0]->Port()) + " autotest");
        g_singleSeconds = run.seconds;
        g_onePeakMegabytes = run.peakMegabytes;
    }
    state.counters["seconds"] = g_singleSeconds;
    state.counters["peak_MB"] = g_onePeakMegabytes;
}

void BM_Fleet(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Controllers controllers(count);
    Run run;
    for (auto _ : state) {
        Scratch scratch;
        std::ofstream fleet(scratch.folder / "fleet.txt");
        for (int i = 0; i < count; ++i) {
            fleet << "127.0.0.1 " << controllers.servers[static_cast<std::size_t>(i)]->Port()
                  << " c" << i << "\n";
        }
        fleet.close();
        run = RunCli(scratch.folder,
                     "fleet fleet.txt --jobs " + std::to_string(count) + " autotest");
    }
    state.counters["seconds"] = run.seconds;
    state.counters["peak_MB"] = run.peakMegabytes;
    if (g_singleSeconds > 0 && run.seconds > 0) {
        state.counters["x_one_test"] = run.seconds / g_singleSeconds;
    }
    if (count > 1 && g_onePeakMegabytes > 0) {
        // What each controller beyond the first adds to the one process.
        state.counters["kB_per_controller"] =
            (run.peakMegabytes - g_onePeakMegabytes) * 1024.0 / (count - 1);
    }
    if (run.seconds < 0) {
        state.SkipWithError("the fleet did not exit 0");
    }
}

void FleetSizes(benchmark::internal::Benchmark* bench) {
    if (bench::SmokeRun()) {
        bench->Arg(1);
        return;
    }
    bench->Arg(1)->Arg(4)->Arg(16)->Arg(64);
}

BENCHMARK(BM_OneAutotest)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_Fleet)->Apply(FleetSizes)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
