// The automatic test against the simulated controller over loopback TCP, in real time:
//   - wait overshoot: how late a 10 ms wait to an absolute deadline wakes (p50, p99, max), with
//     the default timer slack and with precise timers, interleaved in one run;
//   - watch cadence: a 200-cycle move watch against 200 x (10 ms + the two exchanges measured
//     just before it), and how late the watch's own waits woke; goal at most 1.02;
//   - abort latency: from the abort press to the test thread's end; goal at most 15 ms;
//   - the whole test against the sum of the waits it asked for;
//   - move traces: a watch that records its samples against one that does not, in the same run
//     (goal: no measurable difference), the recorder's cost per cycle against the 10 ms cycle,
//     and the time to write the report of a whole test (1,200 samples).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "autotest/AxisMotionTest.h"
#include "autotest/TestContext.h"
#include "autotest/TestLog.h"
#include "autotest/TestRecorder.h"
#include "autotest/TestRunner.h"
#include "common/Clock.h"
#include "common/Platform.h"
#include "common/StopControl.h"
#include "controller/Controller.h"
#include "link/ControllerLink.h"
#include "net/TcpMotionClient.h"
#include "report/ReportHtml.h"
#include "report/SamplesCsv.h"
#include "report/TestReport.h"
#include "sim/Simulator.h"

namespace {

using namespace trevane;
using Seconds = std::chrono::duration<double>;

// The real clock, counting the waits asked of it.
class CountingClock final : public Clock {
  public:
    TimePoint Now() override { return real_.Now(); }
    std::chrono::system_clock::time_point WallNow() override { return real_.WallNow(); }
    bool SleepFor(Duration duration, std::stop_token stop) override {
        requested_.fetch_add(duration.count());
        return real_.SleepFor(duration, stop);
    }
    bool SleepUntil(TimePoint deadline, std::stop_token stop) override {
        const TimePoint now = real_.Now();
        requested_.fetch_add((deadline > now ? deadline - now : Duration::zero()).count());
        const bool completed = real_.SleepUntil(deadline, stop);
        std::lock_guard lock(mutex_);
        overshoots_.push_back(real_.Now() - deadline);
        return completed;
    }
    Seconds Requested() const { return Duration(requested_.load()); }
    void Reset() { requested_ = 0; }
    std::vector<Duration> TakeOvershoots() {
        std::lock_guard lock(mutex_);
        return std::exchange(overshoots_, {});
    }

  private:
    RealClock real_;
    std::atomic<Duration::rep> requested_{0};
    std::mutex mutex_;
    std::vector<Duration> overshoots_;
};

struct Spread {
    double p50Us = 0;
    double p99Us = 0;
    double maxUs = 0;
};

Spread SpreadOf(std::vector<Clock::Duration> values) {
    Spread spread;
    if (values.empty()) {
        return spread;
    }
    std::sort(values.begin(), values.end());
    auto at = [&](double fraction) {
        const auto index =
            static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
        return std::chrono::duration<double, std::micro>(values[index]).count();
    };
    spread.p50Us = at(0.50);
    spread.p99Us = at(0.99);
    spread.maxUs = at(1.0);
    return spread;
}

// One simulated controller on loopback and a controller connected to it, in a scratch working
// directory.
class Bench {
  public:
    Bench() {
        // The log files go to a scratch working directory, removed at the end.
        std::filesystem::create_directories(scratch_);
        std::filesystem::current_path(scratch_);
        SetSystemClock(clock_);
        machine_ = std::make_shared<sim::Machine>(clock_);
        server_ = std::make_unique<sim::Server>(machine_, "127.0.0.1", 0);
        controller_ = std::make_unique<Controller>();
        SessionFactory tcp = MakeTcpSessionFactory(server_->Port());
        // No window reads the address here; the bench only ever talks to its own loopback server.
        Link().SetSessionFactory([tcp](const std::string&) { return tcp("127.0.0.1"); });
        Link().Connect();
        controller_->Log().MakeFileName();
        test_.reset(new TestContext{Link(), controller_->Log(), controller_->Recorder(),
                                    controller_->Runner()});
    }
    ~Bench() {
        test_.reset();
        controller_->Runner().StopAndJoin();
        controller_->Link().JoinStopAttempts();
        controller_.reset();
        server_.reset();
        SetSystemClock(nullptr);
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::remove_all(scratch_, ignored);
    }
    bool Connected() { return Link().Connected(); }
    CountingClock& Clock() { return *clock_; }
    ControllerLink& Link() { return controller_->Link(); }
    TestRecorder& Recorder() { return controller_->Recorder(); }
    TestRunner& Runner() { return controller_->Runner(); }
    // For the phases called on the bench's own thread.
    TestContext& Test() { return *test_; }

  private:
    std::filesystem::path previous_ = std::filesystem::current_path();
    std::filesystem::path scratch_ =
        std::filesystem::temp_directory_path() /
        ("trevane-bench-autotest-" + std::to_string(std::random_device{}()));
    std::shared_ptr<CountingClock> clock_ = std::make_shared<CountingClock>();
    std::shared_ptr<sim::Machine> machine_;
    std::unique_ptr<sim::Server> server_;
    std::unique_ptr<Controller> controller_;
    std::unique_ptr<TestContext> test_;
};

Bench& TheBench() {
    static Bench bench;
    return bench;
}

Seconds Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::steady_clock::now() - start;
}

// Mean time of one torque and one error exchange, as the watch sends them.
Seconds MeasureExchangePair(int pairs) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < pairs; ++i) {
        benchmark::DoNotOptimize(TheBench().Link().SendCommand("TTX"));
        benchmark::DoNotOptimize(TheBench().Link().SendCommand("TEX"));
    }
    return Since(start) / pairs;
}

// Baseline: the 200 waits of a watch alone, without exchanges.
void BM_WatchWaitsAlone(benchmark::State& state) {
    double sumRatio = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (int cycle = 0; cycle < 200; ++cycle) {
            Wait(std::chrono::milliseconds(10));
        }
        const Seconds waits = Since(start);
        state.SetIterationTime(waits.count());
        sumRatio += waits / Seconds(2.0);
    }
    state.counters["ratio_mean"] = sumRatio / static_cast<double>(state.iterations());
}
BENCHMARK(BM_WatchWaitsAlone)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// 10 ms waits to an absolute deadline, in blocks of 20 that alternate between the default timer
// slack and precise timers, so that the machine's load hits both alike.
void BM_WaitOvershoot(benchmark::State& state) {
    RealClock clock;
    std::stop_source never;
    std::vector<Clock::Duration> slack;
    std::vector<Clock::Duration> precise;
    auto block = [&](std::vector<Clock::Duration>& into) {
        for (int i = 0; i < 20; ++i) {
            const Clock::TimePoint deadline = clock.Now() + std::chrono::milliseconds(10);
            clock.SleepUntil(deadline, never.get_token());
            into.push_back(clock.Now() - deadline);
        }
    };
    for (auto _ : state) {
        block(slack);
        {
            PreciseTimersScope scope;
            block(precise);
        }
    }
    const Spread withSlack = SpreadOf(slack);
    const Spread withPrecise = SpreadOf(precise);
    state.counters["default_p50_us"] = withSlack.p50Us;
    state.counters["default_p99_us"] = withSlack.p99Us;
    state.counters["default_max_us"] = withSlack.maxUs;
    state.counters["precise_p50_us"] = withPrecise.p50Us;
    state.counters["precise_p99_us"] = withPrecise.p99Us;
    state.counters["precise_max_us"] = withPrecise.maxUs;
}
BENCHMARK(BM_WaitOvershoot)->Iterations(15)->Unit(benchmark::kMillisecond);

void BM_WatchCadence(benchmark::State& state) {
    if (!TheBench().Connected()) {
        state.SkipWithError("no connection to the simulated controller");
        return;
    }
    double worstRatio = 0;
    double sumRatio = 0;
    double pairUs = 0;
    std::vector<Clock::Duration> overshoots;
    for (auto _ : state) {
        const Seconds pair = MeasureExchangePair(200);
        float maxError = 0;
        TheBench().Clock().TakeOvershoots();
        const auto start = std::chrono::steady_clock::now();
        WatchMove(TheBench().Test(), "X", maxError);
        const Seconds watch = Since(start);
        for (Clock::Duration overshoot : TheBench().Clock().TakeOvershoots()) {
            overshoots.push_back(overshoot);
        }
        state.SetIterationTime(watch.count());
        const Seconds expected = 200 * (Seconds(0.010) + 2 * pair);
        const double ratio = watch / expected;
        worstRatio = std::max(worstRatio, ratio);
        sumRatio += ratio;
        pairUs += pair.count() * 1e6;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["exchange_pair_us"] = pairUs / n;
    state.counters["ratio_mean"] = sumRatio / n;
    state.counters["ratio_worst"] = worstRatio;
    const Spread late = SpreadOf(std::move(overshoots));
    state.counters["wait_late_p50_us"] = late.p50Us;
    state.counters["wait_late_p99_us"] = late.p99Us;
    state.counters["wait_late_max_us"] = late.maxUs;
}
BENCHMARK(BM_WatchCadence)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

// Watches with and without samples, alternating so that drifts of the link hit both alike.
Seconds TimedWatch(bool recordSamples, int moveIndex) {
    TheBench().Recorder().SetSamplesEnabled(recordSamples);
    TheBench().Recorder().BeginMove(moveIndex, 'X', moveIndex % 2 == 0 ? -20000 : 0);
    float maxError = 0;
    const auto start = std::chrono::steady_clock::now();
    WatchMove(TheBench().Test(), "X", maxError);
    return Since(start);
}

void BM_WatchCadenceWithTraces(benchmark::State& state) {
    if (!TheBench().Connected()) {
        state.SkipWithError("no connection to the simulated controller");
        return;
    }
    TheBench().Recorder().BeginTest(1);
    double sumRatio = 0;
    double worstRatio = 0;
    double withMs = 0;
    double withoutMs = 0;
    int pair = 0;
    for (auto _ : state) {
        // Which of the two goes first alternates too.
        const bool recordFirst = pair % 2 == 1;
        const Seconds first = TimedWatch(recordFirst, (2 * pair) % kMovesPerTest);
        const Seconds second = TimedWatch(!recordFirst, (2 * pair + 1) % kMovesPerTest);
        const Seconds with = recordFirst ? first : second;
        const Seconds without = recordFirst ? second : first;
        state.SetIterationTime(with.count());
        const double ratio = with / without;
        sumRatio += ratio;
        worstRatio = std::max(worstRatio, ratio);
        withMs += with.count() * 1e3;
        withoutMs += without.count() * 1e3;
        ++pair;
    }
    TheBench().Recorder().SetSamplesEnabled(true);
    const std::optional<TestRecord> record =
        TheBench().Recorder().FinishOwnRecord(TestOutcome::Stopped);
    const double n = static_cast<double>(state.iterations());
    state.counters["watch_with_traces_ms"] = withMs / n;
    state.counters["watch_without_ms"] = withoutMs / n;
    state.counters["ratio_mean"] = sumRatio / n;
    state.counters["ratio_worst"] = worstRatio;
    std::size_t samplesKept = 0;
    if (record) {
        for (const MoveTrace& move : record->moves) {
            samplesKept += move.samples.size();
        }
    }
    state.counters["samples_kept"] = static_cast<double>(samplesKept);
}
BENCHMARK(BM_WatchCadenceWithTraces)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// What recording adds to one polling cycle, alone: one short lock and a store into reserved room.
void BM_RecordOneCycle(benchmark::State& state) {
    TestRecorder recorder;
    recorder.BeginTest(1);
    std::size_t cycle = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (cycle % kCyclesPerMove == 0) {
            state.PauseTiming();
            recorder.BeginMove(static_cast<int>(cycle / kCyclesPerMove) % kMovesPerTest, 'X', 0);
            state.ResumeTiming();
        }
        recorder.AddSample(static_cast<double>(cycle % kCyclesPerMove) * 10.0, -0.4321f, -12.0f,
                           0.4321f, 12.0f);
        ++cycle;
    }
    const Seconds perCycle = Since(start) / static_cast<double>(state.iterations());
    recorder.FinishOwnRecord(TestOutcome::Stopped);
    state.counters["ns_per_cycle"] = perCycle.count() * 1e9;
    state.counters["ratio_to_10ms_wait"] = perCycle / Seconds(0.010);
}
BENCHMARK(BM_RecordOneCycle);

// The report of a whole test: 6 moves of 200 samples, rendered and written as two files.
void BM_WriteReport(benchmark::State& state) {
    TheBench();  // works in the scratch folder
    TestRecord record;
    record.testNumber = 1;
    record.outcome = TestOutcome::Completed;
    record.identity = "127.0.0.1:23 Trevane simulated controller";
    for (int index = 0; index < kMovesPerTest; ++index) {
        MoveTrace move;
        move.moveIndex = index;
        move.axis = "XYZ"[index / 2];
        move.target = index % 2 == 0 ? -20000 : 0;
        for (int cycle = 0; cycle < kCyclesPerMove; ++cycle) {
            move.samples.push_back({cycle * 10.0, -0.001f * static_cast<float>(cycle),
                                    static_cast<float>(cycle % 140 - 70)});
        }
        move.sampleCount = move.samples.size();
        move.watchEnded = true;
        move.currentError = "-12";
        move.currentPosition = "-20000";
        record.moves.push_back(std::move(move));
    }
    // A report never replaces a file it did not make: an earlier run's files go first.
    std::filesystem::remove("bench-report.html");
    std::filesystem::remove("bench-report.csv");
    ReportFiles made;
    for (auto _ : state) {
        const TestReportResult result = WriteTestReport(record, "bench-report.txt", made);
        if (result.failure) {
            state.SkipWithError(result.failure->c_str());
            return;
        }
    }
    state.counters["bytes_written"] = static_cast<double>(
        RenderReportHtml(record, "bench-report.txt").size() + RenderSamplesCsv(record).size());
}
BENCHMARK(BM_WriteReport)->Unit(benchmark::kMillisecond);

// Aborts at different moments: in the checks' exchanges, in the checks' 2 s wait, in the
// enable wait and in X's first move watch.
void BM_AbortLatency(benchmark::State& state) {
    if (!TheBench().Connected()) {
        state.SkipWithError("no connection to the simulated controller");
        return;
    }
    const std::chrono::milliseconds offsets[] = {
        std::chrono::milliseconds(1), std::chrono::milliseconds(4), std::chrono::milliseconds(300),
        std::chrono::milliseconds(3000), std::chrono::milliseconds(8000)};
    std::size_t next = 0;
    double worstMs = 0;
    double sumMs = 0;
    for (auto _ : state) {
        const auto offset = offsets[next++ % std::size(offsets)];
        TheBench().Runner().OnRunAutoTest();
        std::this_thread::sleep_for(offset);
        const auto start = std::chrono::steady_clock::now();
        TheBench().Runner().OnRunAutoTest();
        TheBench().Runner().WaitForEnd(std::chrono::seconds(10));
        const Seconds latency = Since(start);
        state.SetIterationTime(latency.count());
        worstMs = std::max(worstMs, latency.count() * 1e3);
        sumMs += latency.count() * 1e3;
    }
    state.counters["latency_mean_ms"] = sumMs / static_cast<double>(state.iterations());
    state.counters["latency_worst_ms"] = worstMs;
    state.counters["goal_ms"] = 15;
}
BENCHMARK(BM_AbortLatency)->Iterations(5)->UseManualTime()->Unit(benchmark::kMicrosecond);

// The waits a complete test asks for: checks 2 s; enable 4 s, prepare 1 s, zero 0.5 s; per axis
// two watches of 200 x 10 ms and two 1 s pauses; exit 2 s and the final 1 s.
constexpr double kNominalWaitsSeconds = 2 + 4 + 1 + 0.5 + 3 * (2 * 200 * 0.010 + 2 * 1) + 2 + 1;

void BM_WholeTest(benchmark::State& state) {
    if (!TheBench().Connected()) {
        state.SkipWithError("no connection to the simulated controller");
        return;
    }
    for (auto _ : state) {
        TheBench().Clock().Reset();
        const auto start = std::chrono::steady_clock::now();
        TheBench().Runner().OnRunAutoTest();
        TheBench().Runner().WaitForEnd(std::chrono::seconds(120));
        const Seconds whole = Since(start);
        state.SetIterationTime(whole.count());
        const Seconds waits = TheBench().Clock().Requested();
        // The watches shorten a wait by what the previous one overslept, so the waits asked
        // for add up to a little less than the nominal ones.
        state.counters["waits_asked_s"] = waits.count();
        state.counters["waits_nominal_s"] = kNominalWaitsSeconds;
        state.counters["whole_s"] = whole.count();
        state.counters["ratio"] = whole.count() / kNominalWaitsSeconds;
        state.counters["completed"] = TheBench().Runner().LastTestCompleted() ? 1 : 0;
    }
}
BENCHMARK(BM_WholeTest)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
