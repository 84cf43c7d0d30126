// The test history on a real SQLite file in a scratch folder:
//   - writing one whole test (1,200 samples) in one transaction, goal at most 20 ms, against
//     writing the same test's samples CSV of the report, in the same run;
//   - what `trevane-cli history` does (the last 10 tests, each compared with its baseline)
//     over 1,000 stored tests, goal at most 100 ms, against the same over 10 stored tests;
//   - the file's size per stored test (counter bytes_per_test);
//   - storing a test, `history --limit 20` and one test's baseline (its comparison with trends)
//     over 100,000 stored tests of 1,000 controllers, in the SQLite file and, beside it on the
//     same data, on a PostgreSQL server. The server's benchmarks run when
//     TREVANE_BENCH_SERVER names one on loopback by a URL of a database to connect to first
//     (postgresql://USER@127.0.0.1:PORT/postgres); they make a database of their own there and
//     drop it at the end.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <filesystem>
#include <random>
#include <string>

#include <benchmark/benchmark.h>

#include "autotest/TestRecord.h"
#include "common/FileReplace.h"
#include "history/History.h"
#include "history/Postgres.h"
#include "history/ServerAddress.h"
#include "history/ServerStore.h"
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

// 100,000 tests of 1,000 controllers, one a minute, six moves each; no samples: neither the
// listing nor the baseline reads them. The same rows in either store.
constexpr int kBulkTests = 100000;
constexpr int kBulkControllers = 1000;

constexpr const char* kSqliteBulk = R"sql(
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000)
INSERT INTO tests (id, test_number, started_utc, started_local, address, port, identity,
                   outcome, log_file, uuid)
SELECT i, 1, strftime('%Y-%m-%dT%H:%M:%SZ', '2026-01-01', '+' || i || ' minutes'),
       strftime('%Y-%m-%dT%H:%M:%S', '2026-01-01', '+' || i || ' minutes'),
       '127.0.' || (i % 1000 / 250) || '.' || (i % 250), 23, 'Controller ' || (i % 1000),
       'completed', 'log.txt', lower(hex(randomblob(16))) FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000),
               m(j) AS (SELECT 0 UNION ALL SELECT j + 1 FROM m WHERE j < 5)
INSERT INTO moves (test_id, move_index, axis, target, verdict, reason, max_torque, max_error)
SELECT i, j, substr('XXYYZZ', j + 1, 1), CASE WHEN j % 2 = 0 THEN -20000 ELSE 0 END,
       'completed', '', 1.0 + (i % 7) * 0.01, 100 + (i % 13) FROM n, m;
)sql";

constexpr const char* kServerBulk = R"sql(
INSERT INTO tests (id, test_number, started_utc, started_local, address, port, identity,
                   outcome, log_file, uuid)
SELECT i, 1, to_char(timestamp '2026-01-01' + i * interval '1 minute',
                     'YYYY-MM-DD"T"HH24:MI:SS"Z"'),
       to_char(timestamp '2026-01-01' + i * interval '1 minute', 'YYYY-MM-DD"T"HH24:MI:SS'),
       '127.0.' || (i % 1000 / 250) || '.' || (i % 250), 23, 'Controller ' || (i % 1000),
       'completed', 'log.txt', md5(i::text) FROM generate_series(1, 100000) i;
INSERT INTO moves (test_id, move_index, axis, target, verdict, reason, max_torque, max_error)
SELECT i, j, substr('XXYYZZ', j + 1, 1), CASE WHEN j % 2 = 0 THEN -20000 ELSE 0 END,
       'completed', '', 1.0 + (i % 7) * 0.01, 100 + (i % 13)
FROM generate_series(1, 100000) i, generate_series(0, 5) j;
SELECT setval(pg_get_serial_sequence('tests', 'id'), 100000);
SELECT setval(pg_get_serial_sequence('moves', 'id'), (SELECT max(id) FROM moves));
ANALYZE;
)sql";

// One store of the bulk data, made once for every benchmark of it.
struct BulkStore {
    std::unique_ptr<history::HistoryStore> store;
    std::string skip;  // why there is none
};

BulkStore& SqliteBulk() {
    static BulkStore bulk = [] {
        static const fs::path dir = Scratch("bulk");
        const std::string path = (dir / history::kHistoryFileName).string();
        {
            history::History store(path);
            sqlite::Transaction transaction(store.Db());
            store.Db().Execute(kSqliteBulk);
            transaction.Commit();
        }
        return BulkStore{std::make_unique<history::History>(path), ""};
    }();
    return bulk;
}

#if TREVANE_HAVE_LIBPQ
// 0: the SQLite file; 1: the server, only when TREVANE_BENCH_SERVER names one.
void Stores(benchmark::internal::Benchmark* bench) {
    bench->Arg(0);
    if (std::getenv("TREVANE_BENCH_SERVER") != nullptr) {
        bench->Arg(1);
    }
}

// The benchmarks' own database beside the one TREVANE_BENCH_SERVER names.
struct BenchDatabase {
    std::string admin;
    std::string url;
    ~BenchDatabase() {
        if (!url.empty()) {
            try {
                pg::Connection(admin, "the benchmark's server")
                    .Execute("DROP DATABASE IF EXISTS trevane_bench WITH (FORCE)");
            } catch (const std::exception&) {
                // Left for the next run to drop.
            }
        }
    }
};
#endif

BulkStore& ServerBulk() {
    static BulkStore bulk = [] {
        const char* admin = std::getenv("TREVANE_BENCH_SERVER");
        if (admin == nullptr || !std::string(admin).starts_with("postgresql://")) {
            return BulkStore{nullptr, "TREVANE_BENCH_SERVER names no postgresql:// server"};
        }
#if TREVANE_HAVE_LIBPQ
        static BenchDatabase database;
        database.admin = admin;
        const std::string base = database.admin.substr(0, database.admin.rfind('/'));
        {
            pg::Connection server(database.admin, "the benchmark's server");
            server.Execute("DROP DATABASE IF EXISTS trevane_bench WITH (FORCE)");
            server.Execute("CREATE DATABASE trevane_bench");
        }
        database.url = base + "/trevane_bench";
        const history::ServerAddress address = history::ParseServerAddress(database.url);
        auto store = history::OpenServerStore(address);
        pg::Connection(address.conninfo, address.shown).Execute(kServerBulk);
        return BulkStore{std::move(store), ""};
#else
        return BulkStore{nullptr, "this build has no libpq"};
#endif
    }();
    return bulk;
}

BulkStore& Bulk(std::int64_t which) {
    return which == 0 ? SqliteBulk() : ServerBulk();
}

// Arg 0: the SQLite file, 1: the server.
void BM_StoreOneTestIn100k(benchmark::State& state) {
    BulkStore& bulk = Bulk(state.range(0));
    if (!bulk.store) {
        state.SkipWithError(bulk.skip.c_str());
        return;
    }
    std::mt19937 random(3);
    const TestRecord record = WholeTest(random);
    for (auto _ : state) {
        bulk.store->Put(history::RowOfRecord(record, {"log.txt", "log.html", "log.csv"}));
    }
}
BENCHMARK(BM_StoreOneTestIn100k)->Apply(Stores)->Unit(benchmark::kMillisecond);

// `trevane-cli history --limit 20`: the newest 20 tests, each with its drift.
void BM_List20Of100k(benchmark::State& state) {
    BulkStore& bulk = Bulk(state.range(0));
    if (!bulk.store) {
        state.SkipWithError(bulk.skip.c_str());
        return;
    }
    for (auto _ : state) {
        std::size_t drift = 0;
        for (const history::StoredTest& test : bulk.store->LastTests(20)) {
            drift += history::Compare(*bulk.store, test, false).drift.size();
        }
        benchmark::DoNotOptimize(drift);
    }
}
BENCHMARK(BM_List20Of100k)->Apply(Stores)->Unit(benchmark::kMillisecond);

// The report's comparison of one controller's latest test: baselines of six moves and trends.
void BM_BaselineOf100k(benchmark::State& state) {
    BulkStore& bulk = Bulk(state.range(0));
    if (!bulk.store) {
        state.SkipWithError(bulk.skip.c_str());
        return;
    }
    const std::optional<history::StoredTest> latest =
        bulk.store->Test(kBulkTests - kBulkControllers / 2);
    if (!latest) {
        state.SkipWithError("no such test");
        return;
    }
    for (auto _ : state) {
        const history::Comparison comparison = history::Compare(*bulk.store, *latest, true);
        if (!comparison.moves.at(2).compared) {
            state.SkipWithError("no baseline found");
            break;
        }
        benchmark::DoNotOptimize(comparison);
    }
}
BENCHMARK(BM_BaselineOf100k)->Apply(Stores)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
