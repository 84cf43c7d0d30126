// trevane-cli fleet autotest against 1, 4 and 16 simulated controllers, each figure also as a
// ratio of one trevane-cli autotest measured in the same run. Real time (about 30 s a run): the
// tests wait far more than they compute. Loopback only.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

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

// Runs `arguments` in `folder` through the shell, output discarded; its wall time.
double Run(const fs::path& folder, const std::string& arguments) {
    const std::string command =
        "cd '" + folder.string() + "' && '" TREVANE_CLI_PATH "' " + arguments + " > /dev/null 2>&1";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const double seconds = Seconds(std::chrono::steady_clock::now() - start).count();
    return status == 0 ? seconds : -1;
}

void BM_OneAutotest(benchmark::State& state) {
    Controllers controller(1);
    for (auto _ : state) {
        Scratch scratch;
        g_singleSeconds =
            Run(scratch.folder, "--address 127.0.0.1 --port " +
                                    std::to_string(controller.servers[0]->Port()) + " autotest");
    }
    state.counters["seconds"] = g_singleSeconds;
}

void BM_Fleet(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Controllers controllers(count);
    double seconds = 0;
    for (auto _ : state) {
        Scratch scratch;
        std::ofstream fleet(scratch.folder / "fleet.txt");
        for (int i = 0; i < count; ++i) {
            fleet << "127.0.0.1 " << controllers.servers[static_cast<std::size_t>(i)]->Port()
                  << " c" << i << "\n";
        }
        fleet.close();
        seconds =
            Run(scratch.folder, "fleet fleet.txt --jobs " + std::to_string(count) + " autotest");
    }
    state.counters["seconds"] = seconds;
    if (g_singleSeconds > 0 && seconds > 0) {
        state.counters["x_one_test"] = seconds / g_singleSeconds;
    }
}

BENCHMARK(BM_OneAutotest)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_Fleet)->Arg(1)->Arg(4)->Arg(16)->Iterations(1)->UseRealTime()->Unit(
    benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
