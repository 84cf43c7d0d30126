// The test history on a real SQLite file in a scratch folder:
//   - writing one whole test (1,200 samples) in one transaction, goal at most 20 ms, against
//     writing the same test's samples CSV of the report, in the same run;
//   - what `trevane-cli history` does (the last 10 tests, each compared with its baseline)
//     over 1,000 stored tests, goal at most 100 ms, against the same over 10 stored tests;
//   - the file's size per stored test (counter bytes_per_test).
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <random>
#include <string>

#include <benchmark/benchmark.h>

#include "autotest/TestRecord.h"
#include "common/FileReplace.h"
#include "history/History.h"
#include "history/Trends.h"
#include "report/SamplesCsv.h"
#include "report/TestReport.h"

namespace {

using namespace trevane;
namespace fs = std::filesystem;

TestRecord WholeTest(std::mt19937& random) {
    std::uniform_real_distribution<float> torque(-1.5f, 1.5f);
    std::uniform_real_distribution<float> error(-150.0f, 150.0f);
    TestRecord record;
    record.testNumber = 1;
    record.startTime = std::chrono::system_clock::now();
    record.identity = "127.0.0.1:5023 Trevane simulated controller, 4 axes, firmware 1.0";
    record.outcome = TestOutcome::Completed;
    for (int i = 0; i < 19; ++i) {
        record.checks.push_back({"Check " + std::to_string(i) + ": ", "1.0000"});
    }
    for (int index = 0; index < kMovesPerTest; ++index) {
        MoveTrace move;
        move.moveIndex = index;
        move.axis = "XYZ"[index / 2];
        move.target = index % 2 == 0 ? -20000 : 0;
        move.currentError = "0";
        move.currentPosition = std::to_string(move.target);
        for (int cycle = 0; cycle < kCyclesPerMove; ++cycle) {
            move.samples.push_back({cycle * 10.01, torque(random), error(random)});
            move.maxTorque = std::max(move.maxTorque, std::fabs(move.samples.back().torque));
            move.moveMaxError = std::max(move.moveMaxError, std::fabs(move.samples.back().error));
        }
        record.moves.push_back(move);
    }
    return record;
}

fs::path Scratch(const char* name) {
    const fs::path dir = fs::temp_directory_path() / (std::string("trevane-bench-") + name +
                                                      std::to_string(std::random_device{}()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

void BM_WriteOneTest(benchmark::State& state) {
    const fs::path dir = Scratch("write");
    std::mt19937 random(1);
    const TestRecord record = WholeTest(random);
    history::History store((dir / history::kHistoryFileName).string());
    for (auto _ : state) {
        store.Add(record, {"log.txt", "log.html", "log.csv"});
    }
    fs::remove_all(dir);
}
BENCHMARK(BM_WriteOneTest)->Unit(benchmark::kMillisecond);

// Baseline: the same samples as the report's CSV, written whole.
void BM_WriteSamplesCsv(benchmark::State& state) {
    const fs::path dir = Scratch("csv");
    std::mt19937 random(1);
    const TestRecord record = WholeTest(random);
    for (auto _ : state) {
        if (ReplaceFileAtomically((dir / "log.csv").string(), RenderSamplesCsv(record))) {
            state.SkipWithError("the CSV could not be written");
        }
    }
    fs::remove_all(dir);
}
BENCHMARK(BM_WriteSamplesCsv)->Unit(benchmark::kMillisecond);

// `trevane-cli history`: the last 10 tests with their drift, over state.range(0) stored tests.
void BM_ListHistory(benchmark::State& state) {
    const fs::path dir = Scratch("list");
    const std::string path = (dir / history::kHistoryFileName).string();
    {
        std::mt19937 random(2);
        history::History store(path);
        for (std::int64_t i = 0; i < state.range(0); ++i) {
            store.Add(WholeTest(random), {"log.txt", "", ""});
        }
    }
    // After the last connection closed, so the WAL is checkpointed into the file.
    state.counters["bytes_per_test"] =
        static_cast<double>(fs::file_size(path)) / static_cast<double>(state.range(0));
    for (auto _ : state) {
        history::History store(path, history::History::Access::Read);
        std::size_t drift = 0;
        for (const history::StoredTest& test : store.LastTests(10)) {
            drift += history::Compare(store, test, false).drift.size();
        }
        benchmark::DoNotOptimize(drift);
    }
    fs::remove_all(dir);
}
BENCHMARK(BM_ListHistory)->Arg(10)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
