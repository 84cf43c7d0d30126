#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/Clock.h"
#include "history/History.h"
#include "history/Sqlite.h"
#include "sim/Simulator.h"
#include "support/ChildProcess.h"
#include "support/JsonValue.h"
#include "support/ScratchFolder.h"
#include "support/StandingAxis.h"

// A fleet interrupted at random instants of its first second, under load: every controller ends
// as one interrupted test does, whichever instant the signal found.
namespace trevane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kDefaultTrialsPerSignal = 10;
#else
constexpr int kDefaultTrialsPerSignal = 40;
#endif
constexpr int kControllers = 3;
constexpr int kTrialsAtOnce = 2;

// TREVANE_SIGNAL_TRIALS sets the trials per signal (sanitizer builds run a few by default).
int TrialsPerSignal() {
    if (const char* text = std::getenv("TREVANE_SIGNAL_TRIALS"); text != nullptr) {
        return std::max(1, std::atoi(text));
    }
    return kDefaultTrialsPerSignal;
}

// Busy threads beside the fleet, so that its processes are descheduled at awkward moments.
class CpuBurner {
  public:
    explicit CpuBurner(unsigned threads) {
        for (unsigned i = 0; i < threads; ++i) {
            threads_.emplace_back([this] {
                std::uint64_t spin = 0;
                while (!stop_.load(std::memory_order_relaxed)) {
                    spin = spin * 6364136223846793005ULL + 1;
                }
                sink_.fetch_add(spin, std::memory_order_relaxed);
            });
        }
    }
    ~CpuBurner() { stop_ = true; }

  private:
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> sink_{0};
    std::vector<std::jthread> threads_;
};

struct Controller {
    Controller() : machine(std::make_shared<sim::Machine>(std::make_shared<RealClock>())) {
        server = std::make_unique<sim::Server>(machine, "127.0.0.1", 0);
    }
    std::shared_ptr<sim::Machine> machine;
    std::unique_ptr<sim::Server> server;
};

struct Trial {
    int signal = SIGINT;
    std::chrono::microseconds delay{0};
    bool autotest = true;  // else record --watch, which stops without a test

    std::string Name() const {
        std::ostringstream text;
        text << (autotest ? "autotest" : "record --watch") << ", signal " << signal << " after "
             << delay.count() << " us";
        return text.str();
    }
};

bool StartsMotion(const std::string& command) {
    return command.starts_with("BG") || command.starts_with("PA") || command.starts_with("JG");
}

std::string LastLogEntry(const fs::path& log) {
    std::string text = testing::ReadFile(log);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    const std::size_t start = text.rfind('\n');
    return start == std::string::npos ? text : text.substr(start + 1);
}

// The test logs a member's folder holds (the trace is not one).
std::vector<fs::path> TestLogs(const fs::path& folder) {
    std::vector<fs::path> logs;
    std::error_code none;
    for (const auto& entry : fs::directory_iterator(folder, none)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("logFile.txt") && name.ends_with(".txt")) {
            logs.push_back(entry.path());
        }
    }
    return logs;
}

class TrialRun {
  public:
    explicit TrialRun(const Trial& trial) : trial_(trial) {}

    // Every way the trial's controllers did not end as one interrupted test does.
    std::vector<std::string> Run() {
        std::string lines;
        for (int i = 0; i < kControllers; ++i) {
            lines += "127.0.0.1 " + std::to_string(controllers_[i].server->Port()) + " m" +
                     std::to_string(i) + "\n";
        }
        std::ofstream(dir_ / "fleet.txt") << lines;
        std::vector<std::string> args{"--json", "fleet", "fleet.txt", "--jobs",
                                      std::to_string(kControllers)};
        if (trial_.autotest) {
            args.push_back("autotest");
        } else {
            args.insert(args.end(), {"record", "--watch", "--interval", "50"});
        }
        testing::ChildProcess fleet(TREVANE_CLI_PATH, args, dir_);
        std::this_thread::sleep_for(trial_.delay);
        fleet.Signal(trial_.signal);
        const int status = fleet.WaitForExit(60s);
        if (!fleet.Exited()) {
            Fail("the fleet had not ended 60 s after the signal");
            return problems_;
        }
        if (status == -1) {
            // The signal came before the fleet took signals: nothing may have started.
            for (int i = 0; i < kControllers; ++i) {
                if (!controllers_[i].machine->Received().empty()) {
                    Fail("m" + std::to_string(i) + " was reached by a fleet the signal ended");
                }
            }
        } else {
            if (status != 128 + trial_.signal) {
                Fail("the fleet's exit status is " + std::to_string(status) + "\n" +
                     fleet.Errors());
            }
            CheckMembers(fleet.Output());
        }
        CheckNoTemporaryFiles();
        return problems_;
    }

  private:
    void Fail(const std::string& what) { problems_.push_back(trial_.Name() + ": " + what); }

    void CheckMembers(const std::string& output) {
        int seen = 0;
        for (const testing::JsonValue& line : testing::ParseJsonLines(output)) {
            if (!line.Has("exit")) {
                continue;  // a change, not one of the end lines
            }
            const std::string name = line["controller"].text;
            const int index = name.size() == 2 ? name[1] - '0' : -1;
            if (index < 0 || index >= kControllers) {
                Fail("an end line for '" + name + "'");
                continue;
            }
            ++seen;
            CheckMember(index, line);
        }
        if (seen != kControllers) {
            Fail("the fleet told of " + std::to_string(seen) + " controllers\n" + output);
        }
    }

    void CheckMember(int index, const testing::JsonValue& line) {
        const std::string name = "m" + std::to_string(index);
        sim::Machine& machine = *controllers_[index].machine;
        const std::string state = line["state"].text;
        const std::vector<std::string> received = machine.ReceivedCommands();
        for (int axis = 0; axis < 4; ++axis) {
            if (StandingAxis(machine, axis).moving) {
                Fail(name + ": axis " + std::to_string(axis) + " is still moving");
            }
        }
        if (state == "stopped" && line["text"].text == "interrupted before it started") {
            if (!machine.Received().empty()) {
                Fail(name + " was not run, yet its controller was reached");
            }
            return;
        }
        if (state != "stopped" || line["exit"].number != 128 + trial_.signal) {
            Fail(name + " ended " + state + " (exit " + std::to_string(line["exit"].number) +
                 "): " + line["text"].text);
            return;
        }
        if (!trial_.autotest) {
            return;
        }
        const std::vector<fs::path> logs = TestLogs(dir_ / name);
        if (logs.size() != 1) {
            Fail(name + " left " + std::to_string(logs.size()) + " test logs");
            return;
        }
        if (const std::string last = LastLogEntry(logs[0]);
            !last.ends_with("Test Aborted by User")) {
            Fail(name + ": the log ends with '" + last + "'");
        }
        const auto stop = std::find(received.rbegin(), received.rend(), "AB1");
        if (stop == received.rend()) {
            Fail(name + ": its controller never received AB1");
        } else if (std::any_of(received.rbegin(), stop, StartsMotion)) {
            Fail(name + ": a move was started after the last AB1");
        }
        CheckHistoryRow(index, (fs::path(name) / logs[0].filename()).string());
    }

    // Its one row, found by its log: a test stopped before it asked the controller who it is
    // has no address to be found by.
    void CheckHistoryRow(int index, const std::string& log) {
        const std::string name = "m" + std::to_string(index);
        const fs::path path = dir_ / history::kHistoryFileName;
        int rows = 0;
        if (fs::exists(path)) {
            sqlite::Database db(path.string(), sqlite::Database::Mode::ReadOnly, 5000);
            sqlite::Statement tests =
                db.Prepare("SELECT port, outcome FROM tests WHERE log_file = ?");
            tests.Bind(1, log);
            while (tests.Step()) {
                rows += 1;
                const std::int64_t port = tests.Int(0);
                if (port != 0 && port != controllers_[index].server->Port()) {
                    Fail(name + ": its history row names port " + std::to_string(port));
                }
                if (tests.Text(1) != "aborted by user") {
                    Fail(name + ": its history row says '" + tests.Text(1) + "'");
                }
            }
        }
        if (rows != 1) {
            Fail(name + " has " + std::to_string(rows) + " history rows; it said:\n" +
                 testing::ReadFile(dir_ / name / "trevane-cli.err"));
        }
    }

    void CheckNoTemporaryFiles() {
        std::error_code none;
        for (const auto& entry : fs::recursive_directory_iterator(dir_, none)) {
            if (entry.path().extension() == ".tmp") {
                Fail("left " + entry.path().lexically_relative(dir_).string());
            }
        }
    }

    Trial trial_;
    testing::ScratchFolder scratch_{"trevane-fleet-signal"};
    const fs::path dir_ = scratch_.Path();
    Controller controllers_[kControllers];
    std::vector<std::string> problems_;
};

// Half the instants anywhere in the first second, half in its first tenth, where the children
// are being started and take their handlers.
std::vector<Trial> DrawTrials(int signal, int count, std::mt19937& random) {
    std::vector<Trial> trials;
    for (int i = 0; i < count; ++i) {
        Trial trial;
        trial.signal = signal;
        const int limit = i % 2 == 0 ? 1'000'000 : 100'000;
        trial.delay =
            std::chrono::microseconds(std::uniform_int_distribution<int>(0, limit)(random));
        trial.autotest = i % 4 != 3;
        trials.push_back(trial);
    }
    return trials;
}

class FleetSignal : public ::testing::TestWithParam<int> {};

TEST_P(FleetSignal, AtAnyInstantOfTheFirstSecondEndsEveryTestAsOneInterruptedTestEnds) {
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    const std::vector<Trial> trials = DrawTrials(GetParam(), TrialsPerSignal(), random);
    const CpuBurner burner(2);
    std::vector<std::string> problems;
    for (std::size_t first = 0; first < trials.size(); first += kTrialsAtOnce) {
        std::vector<std::vector<std::string>> found(kTrialsAtOnce);
        {
            std::vector<std::jthread> runs;
            for (std::size_t i = first; i < std::min(trials.size(), first + kTrialsAtOnce); ++i) {
                runs.emplace_back([&, i] { found[i - first] = TrialRun(trials[i]).Run(); });
            }
        }
        for (const std::vector<std::string>& more : found) {
            problems.insert(problems.end(), more.begin(), more.end());
        }
    }
    for (const std::string& problem : problems) {
        ADD_FAILURE() << problem;
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, FleetSignal, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGINT    ? "Interrupt"
                                                : info.param == SIGTERM ? "Termination"
                                                                        : "HangUp");
                         });

}  // namespace
}  // namespace trevane
