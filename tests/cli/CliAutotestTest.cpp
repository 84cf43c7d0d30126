#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "autotest/TestRecord.h"
#include "common/Clock.h"
#include "history/History.h"
#include "sim/Simulator.h"
#include "support/ChildProcess.h"
#include "support/CliJsonDocs.h"
#include "support/JsonValue.h"
#include "support/ScratchFolder.h"
#include "support/StandingAxis.h"
#include "support/Terminal.h"

// trevane-cli's autotest verb run as a program, against the simulated controller on loopback.
namespace trevane {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;

using testing::ChildProcess;
using testing::ProgramRun;

// Every name a verb writes is on docs/cli-json.md, under the verb or under "Every verb".
void ExpectDocumented(const std::string& verb, const ProgramRun& run) {
    static const std::string page = testing::ReadCliJsonPage(TREVANE_SOURCE_DIR);
    ASSERT_FALSE(page.empty());
    const std::vector<testing::JsonValue> lines = testing::ParseJsonLines(run.out);
    EXPECT_THAT(testing::UndocumentedNames(lines, testing::DocumentedJsonNames(page, verb)),
                ::testing::ElementsAre())
        << verb;
}

using testing::ReadFile;

class CliAutotest : public ::testing::Test {
  protected:
    static std::vector<std::string> Words(const std::string& arguments) {
        std::istringstream in(arguments);
        std::vector<std::string> words;
        for (std::string word; in >> word;) {
            words.push_back(word);
        }
        return words;
    }

    // Runs trevane-cli in the scratch folder; with `interruptAfter`, Ctrl-C reaches it then.
    ProgramRun Run(const std::string& arguments,
                   std::chrono::milliseconds interruptAfter = std::chrono::milliseconds(0)) {
        ChildProcess cli(TREVANE_CLI_PATH, Words(arguments), dir_);
        if (interruptAfter.count() > 0) {
            std::this_thread::sleep_for(interruptAfter);
            cli.Signal(SIGINT);
        }
        ProgramRun run;
        run.exitCode = cli.WaitForExit(std::chrono::seconds(120));
        run.out = cli.Output();
        run.err = cli.Errors();
        return run;
    }

    std::vector<std::filesystem::path> LogFiles() const {
        std::vector<std::filesystem::path> logs;
        for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("logFile.txt ") && name.ends_with(".txt")) {
                logs.push_back(entry.path());
            }
        }
        return logs;
    }

    testing::ScratchFolder scratch_{"trevane-cli-autotest"};
    const std::filesystem::path& dir_ = scratch_.Path();
};

TEST_F(CliAutotest, RefusesArgumentsItDoesNotKnow) {
    const ProgramRun run = Run("--address 127.0.0.1 autotest --report --fast");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_THAT(run.err, HasSubstr("unknown argument '--fast'"));
    EXPECT_TRUE(LogFiles().empty());
}

TEST_F(CliAutotest, WithoutAControllerItExitsTwoAndRunsNoTest) {
    std::uint16_t port = 0;
    {
        // A port that was free a moment ago: nothing listens there now.
        auto machine = std::make_shared<sim::Machine>(std::make_shared<RealClock>());
        sim::Server server(machine, "127.0.0.1", 0);
        port = server.Port();
    }
    const ProgramRun run = Run("--address 127.0.0.1 --port " + std::to_string(port) + " autotest");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_THAT(run.err, HasSubstr("Connection Failed"));
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(LogFiles().empty());
}

TEST_F(CliAutotest, CtrlCAbortsTheTestAsTheButtonDoesAndTheReportIsStillWritten) {
    auto machine = std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    sim::Server server(machine, "127.0.0.1", 0);
    // SIGINT 1.5 s in: inside the checks' 2 s wait, or earlier on a slow machine.
    const ProgramRun run =
        Run("--address 127.0.0.1 --port " + std::to_string(server.Port()) + " autotest --report",
            std::chrono::milliseconds(1500));
    EXPECT_EQ(run.exitCode, 130) << run.err;
    const auto logs = LogFiles();
    ASSERT_EQ(logs.size(), 1u);
    const std::string log = ReadFile(logs[0]);
    EXPECT_THAT(log, EndsWith("  Test Aborted by User\r\n"));
    EXPECT_THAT(log, ::testing::Not(HasSubstr("Exit Motion")));
    // The name as the window makes it, without its trailing blank.
    EXPECT_EQ(logs[0].filename().string().size(), 29u);
    std::string base = logs[0].filename().string();
    base.resize(base.size() - 4);  // ".txt"
    EXPECT_THAT(run.out, ::testing::StartsWith("Starting Test\n"));
    EXPECT_THAT(run.out, EndsWith("\nTest Aborted by User\nTest result: stopped by the operator: "
                                  "X not tested, Y not tested, Z not tested. Report: " +
                                  base + ".html\n"));
    EXPECT_THAT(run.err, HasSubstr(logs[0].filename().string()));
    EXPECT_THAT(run.err, HasSubstr("report '" + base + ".html', samples '" + base + ".csv'"));
    const std::string html = ReadFile(dir_ / (base + ".html"));
    EXPECT_THAT(html, HasSubstr("<tr><th>Outcome</th><td>stopped</td></tr>"));
    EXPECT_THAT(html, HasSubstr(sim::kIdentityLine));
    EXPECT_EQ(ReadFile(dir_ / (base + ".csv")), "move,axis,target,cycle,time_ms,torque,error\r\n");
}

TEST_F(CliAutotest, JsonGivesEachEntryAndTheVerdictLast) {
    auto machine = std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    sim::Server server(machine, "127.0.0.1", 0);
    const ProgramRun run =
        Run("--address 127.0.0.1 --port " + std::to_string(server.Port()) + " --json autotest",
            std::chrono::milliseconds(1500));
    EXPECT_EQ(run.exitCode, 130) << run.err;
    const std::vector<testing::JsonValue> lines = testing::ParseJsonLines(run.out);
    ASSERT_GE(lines.size(), 3U) << run.out;
    EXPECT_EQ(lines.front()["text"].text, "Starting Test");
    for (std::size_t i = 0; i + 2 < lines.size(); ++i) {
        EXPECT_THAT(lines[i]["time"].text, EndsWith("Z")) << i;
        EXPECT_EQ(lines[i]["elapsed_s"].kind, testing::JsonValue::Kind::Number) << i;
        EXPECT_EQ(lines[i]["text"].kind, testing::JsonValue::Kind::String) << i;
    }
    ExpectDocumented("autotest", run);
    // The interrupt's error object closes the output, after the verdict.
    ASSERT_EQ(lines.back()["error"]["exit"].number, 130);
    EXPECT_EQ(lines[lines.size() - 3]["text"].text, "Test Aborted by User");
    const testing::JsonValue& verdict = lines[lines.size() - 2];
    EXPECT_EQ(verdict["verdict"].text, "stopped");
    EXPECT_EQ(verdict["moves"].kind, testing::JsonValue::Kind::Array);
    const auto logs = LogFiles();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(dir_ / verdict["log"].text, logs[0]);
    EXPECT_TRUE(verdict.Has("report"));
}

// Waits, within a bound, until the simulated X axis is under way.
bool WaitUntilXMoves(sim::Machine& machine, const std::function<bool()>& ended) {
    for (int poll = 0; poll < 6000; ++poll) {
        if (machine.ReadAxis(0).moving) {
            return true;
        }
        if (ended()) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// INT, TERM and HUP in the middle of a move: the test is aborted as by the button, the axis is
// stopped with "AB1" after the test's last command, and the exit code names the signal.
TEST_F(CliAutotest, ASignalDuringAMoveAbortsTheTestAndStopsTheAxis) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        auto machine = std::make_shared<sim::Machine>(std::make_shared<RealClock>());
        sim::Server server(machine, "127.0.0.1", 0);
        ChildProcess cli(
            TREVANE_CLI_PATH,
            Words("--address 127.0.0.1 --port " + std::to_string(server.Port()) + " autotest"),
            dir_);
        ASSERT_TRUE(WaitUntilXMoves(*machine, [&cli] { return cli.Exited(); })) << signal;
        cli.Signal(signal);
        EXPECT_EQ(cli.WaitForExit(std::chrono::seconds(60)), 128 + signal) << cli.Errors();
        EXPECT_THAT(cli.Output(), HasSubstr("\nTest Aborted by User\nTest result: stopped by the "
                                            "operator: X not finished (in the move to -20000), "))
            << signal;

        const sim::AxisState x = StandingAxis(*machine, 0);
        EXPECT_FALSE(x.moving) << signal;
        EXPECT_EQ(x.stopCode, sim::kStopAborted) << signal;
        EXPECT_FALSE(x.motorOff) << signal;
        EXPECT_EQ(machine->ReceivedCommands().back(), "AB1") << signal;
        const auto logs = LogFiles();
        ASSERT_EQ(logs.size(), 1u) << signal;
        EXPECT_THAT(ReadFile(logs[0]), EndsWith("  Test Aborted by User\r\n")) << signal;
        std::filesystem::remove(logs[0]);
    }
}

// The reader of standard output goes away mid-move: the failed write aborts the test, the axis
// is stopped, and the program ends with 141 instead of being killed by SIGPIPE.
TEST_F(CliAutotest, AClosedOutputPipeAbortsTheTestAndStopsTheAxis) {
    auto machine = std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    sim::Server server(machine, "127.0.0.1", 0);
    const std::string port = std::to_string(server.Port());
    const std::string errPath = (dir_ / "stderr.txt").string();
    const std::string folder = dir_.string();

    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        const int null = ::open("/dev/null", O_RDONLY);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (null < 0 || err < 0 || ::chdir(folder.c_str()) != 0 || ::dup2(null, 0) < 0 ||
            ::dup2(out[1], 1) < 0 || ::dup2(err, 2) < 0) {
            ::_exit(127);
        }
        const char* argv[] = {TREVANE_CLI_PATH, "--address", "127.0.0.1", "--port",
                              port.c_str(),     "autotest",  nullptr};
        ::execv(TREVANE_CLI_PATH, const_cast<char* const*>(argv));
        ::_exit(127);
    }
    ::close(out[1]);

    std::string output;
    int status = 0;
    bool exited = false;
    const auto drain = [&] {
        pollfd ready{out[0], POLLIN, 0};
        char buffer[4096];
        while (::poll(&ready, 1, 0) > 0) {
            const ssize_t got = ::read(out[0], buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            output.append(buffer, static_cast<std::size_t>(got));
        }
    };
    const bool moved = WaitUntilXMoves(*machine, [&] {
        drain();
        exited = ::waitpid(pid, &status, WNOHANG) == pid;
        return exited;
    });
    ::close(out[0]);
    for (int poll = 0; poll < 6000 && !exited; ++poll) {
        exited = ::waitpid(pid, &status, WNOHANG) == pid;
        if (!exited) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    if (!exited) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    ASSERT_TRUE(moved) << output;
    ASSERT_TRUE(exited) << "trevane-cli did not end after its output closed";
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 141) << ReadFile(errPath);
    EXPECT_THAT(output, ::testing::StartsWith("Starting Test\n"));

    // The break shows at the next line, which may be the end of the move: whatever moved by
    // then stands.
    EXPECT_FALSE(StandingAxis(*machine, 0).moving);
    EXPECT_EQ(machine->ReceivedCommands().back(), "AB1");
    const auto logs = LogFiles();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_THAT(ReadFile(logs[0]), EndsWith("  Test Aborted by User\r\n"));
}

std::vector<std::vector<std::string>> TraceLines(const std::string& trace) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(trace);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields(1);
        for (const char c : line) {
            if (c == '\t') {
                fields.emplace_back();
            } else {
                fields.back() += c;
            }
        }
        lines.push_back(std::move(fields));
    }
    return lines;
}

// --trace goes anywhere among the options; each exchange is one line of eight fields, a
// rejection with the controller's reason.
TEST_F(CliAutotest, TraceWritesEveryExchangeAndAFailedTraceFileFailsTheRun) {
    auto machine = std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    sim::Server server(machine, "127.0.0.1", 0);
    const std::string port = std::to_string(server.Port());
    const ProgramRun run =
        Run("--address 127.0.0.1 --trace trace.txt --port " + port + " send SH XQ");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    auto lines = TraceLines(ReadFile(dir_ / "trace.txt"));
    ASSERT_EQ(lines.size(), 5u) << ReadFile(dir_ / "trace.txt");
    EXPECT_EQ(lines[0][0], "#time");
    lines.erase(lines.begin());
    for (const auto& fields : lines) {
        ASSERT_EQ(fields.size(), 8u);
        EXPECT_EQ(fields[1], "command");
    }
    EXPECT_EQ(lines[0][2], "HX\\r");
    EXPECT_EQ(lines[1][3], "127.0.0.1:" + port + " " + sim::kIdentityLine);
    EXPECT_EQ(lines[2][4], ":");
    EXPECT_EQ(lines[3][2], "XQ\\r");
    EXPECT_EQ(lines[3][4], "?");
    EXPECT_EQ(lines[3][6], "1 Unrecognized command");

    const ProgramRun unwritable =
        Run("--trace no-such-folder/trace.txt --address 127.0.0.1 --port " + port + " send SH");
    EXPECT_EQ(unwritable.exitCode, 1);
    EXPECT_THAT(unwritable.err, HasSubstr("--trace 'no-such-folder/trace.txt': "));
}

// A failing test ends its output with the verdict, each aborted axis named with its reason.
TEST_F(CliAutotest, AFailingTestEndsWithItsVerdict) {
    auto machine = std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    machine->AddFault(sim::ParseFault("stall:Y"));
    machine->AddFault(sim::ParseFault("torque:Z"));
    sim::Server server(machine, "127.0.0.1", 0);
    const ProgramRun run =
        Run("--address 127.0.0.1 --port " + std::to_string(server.Port()) + " autotest");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    const std::size_t last = run.out.rfind('\n', run.out.size() - 2);
    ASSERT_NE(last, std::string::npos);
    const std::string verdict = run.out.substr(last + 1);
    EXPECT_THAT(verdict, ::testing::StartsWith("Test result: X passed, Y aborted (position error"));
    EXPECT_THAT(verdict, HasSubstr("above 700), Z aborted (torque "));
    EXPECT_THAT(verdict, EndsWith(" above 3.1). X: no baseline yet. Report: none\n"));
}

// The link goes in the middle of an exchange of the checks: the test ends there, the stop goes
// out on a new session, the motors are read there, and neither the exit code, the JSON nor the
// history call it anything but a lost link.
TEST_F(CliAutotest, ALostLinkEndsTheTestWithExitOneAndSaysSoEverywhere) {
    auto machine = std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    machine->AddFault(sim::ParseFault("cut:7"));
    sim::Server server(machine, "127.0.0.1", 0);
    const std::string port = std::to_string(server.Port());
    const ProgramRun run = Run("--address 127.0.0.1 --port " + port + " autotest");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_THAT(run.out,
                EndsWith("\nTest Aborted: the link to the controller was lost\nTest result: link "
                         "lost during the checks; the stop (AB1) was sent on a new session; the "
                         "motors read switched off. Report: none\n"));
    EXPECT_THAT(run.err, HasSubstr("; the link to the controller was lost\n"));
    const std::vector<std::string> commands = machine->ReceivedCommands();
    ASSERT_GE(commands.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(commands.end() - 4, commands.end()),
              (std::vector<std::string>{"AB1", "MG _MOX", "MG _MOY", "MG _MOZ"}));
    const auto logs = LogFiles();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_THAT(ReadFile(logs[0]),
                EndsWith("  Test Aborted: the link to the controller was lost\r\n"));
    {
        history::History stored((dir_ / history::kHistoryFileName).string(),
                                history::History::Access::Read);
        ASSERT_EQ(stored.LastTests(0).size(), 1u);
        EXPECT_EQ(stored.LastTests(0)[0].outcome, "link_lost");
    }

    const ProgramRun json = Run("--address 127.0.0.1 --port " + port + " --json autotest");
    EXPECT_EQ(json.exitCode, 1) << json.err;
    const std::vector<testing::JsonValue> lines = testing::ParseJsonLines(json.out);
    ASSERT_GE(lines.size(), 2u) << json.out;
    EXPECT_EQ(lines[lines.size() - 2]["verdict"].text, "link_lost");
    EXPECT_EQ(lines.back()["error"]["message"].text, "autotest: log file '" +
                                                         lines[lines.size() - 2]["log"].text +
                                                         "'; the link to the controller was lost");
}

// Every torque reading of Y is rejected: Y is unverified in the exit code, the JSON verdict and
// its moves, never passed (the whole test, about 33 s). The controller closes a session idle
// for 1.5 s, less than the test's longer pauses: each time the next command reopens it, and the
// operator is told.
TEST_F(CliAutotest, UnmeasuredMovesAreUnverifiedInTheJsonAndTheExitCode) {
    auto machine = std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    machine->AddFault(sim::ParseFault("reject:TTY"));
    sim::Server::Options idleLimit;
    idleLimit.idleTimeout = std::chrono::milliseconds(1500);  // longer than the 1 s pauses
    sim::Server server(machine, "127.0.0.1", 0, idleLimit);
    const ProgramRun run =
        Run("--address 127.0.0.1 --port " + std::to_string(server.Port()) + " --json autotest");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    const std::vector<testing::JsonValue> lines = testing::ParseJsonLines(run.out);
    ASSERT_GE(lines.size(), 2u) << run.out;
    const testing::JsonValue& verdict = lines[lines.size() - 2];
    EXPECT_EQ(verdict["verdict"].text, "unverified");
    EXPECT_THAT(run.err, HasSubstr("trevane-cli: command session reopened: the controller had "
                                   "closed it after 2 s idle\n"));
    EXPECT_THAT(verdict["verdict_line"].text,
                HasSubstr("X passed, Y unverified (400 of 400 torque readings failed), Z passed."));
    ASSERT_EQ(verdict["moves"].items.size(), 6u);
    for (const testing::JsonValue& move : verdict["moves"].items) {
        EXPECT_EQ(move["outcome"].text, move["axis"].text == "Y" ? "unverified" : "completed");
    }
}

// Every name the log could take in the next half minute (it is made as the test starts) is
// taken: another test's log and report, a folder, links to a file elsewhere, and folders up to the
// last.
TEST_F(CliAutotest, ALogWithoutAFreeNameFailsTheRunAndNoOtherFileIsTouched) {
    const std::filesystem::path outside = dir_ / "outside";
    std::filesystem::create_directory(outside);
    std::ofstream(outside / "kept", std::ios::binary) << "kept";
    const std::time_t now = std::time(nullptr);
    std::vector<std::string> theirs;
    for (std::time_t t = now - 2; t <= now + 30; ++t) {
        std::tm local{};
        ::localtime_r(&t, &local);
        char stamp[64];
        std::strftime(stamp, sizeof stamp, "logFile.txt %m%d%y-%H%M%S", &local);
        const std::string base = stamp;
        std::ofstream(dir_ / (base + ".txt"), std::ios::binary) << "their log";
        std::ofstream(dir_ / (base + ".html"), std::ios::binary) << "their report";
        std::filesystem::create_directory(dir_ / (base + "-2.txt"));
        std::filesystem::create_symlink(outside / "kept", dir_ / (base + "-3.txt"));
        std::filesystem::create_symlink(outside / "made", dir_ / (base + "-4.txt"));
        for (int number = 5; number <= 100; ++number) {
            std::filesystem::create_directory(dir_ / (base + "-" + std::to_string(number) + ".txt"));
        }
        theirs.push_back(base);
    }
    auto machine = std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    sim::Server server(machine, "127.0.0.1", 0);
    // The whole test, so nothing but the lost entries can fail the run.
    const ProgramRun run = Run("--address 127.0.0.1 --port " + std::to_string(server.Port()) +
                               " autotest --report");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_THAT(run.out, ::testing::StartsWith("Starting Test\n"));
    EXPECT_THAT(run.out, EndsWith("\nDisable Machine\nTest result: X passed, Y passed, Z passed. "
                                  "X, Y, Z: no baseline yet. Report: none (it could not be "
                                  "written)\n"));
    EXPECT_THAT(run.err, HasSubstr("autotest: log file could not be written: no free name for the "
                                   "log file in '" + dir_.string() + "': 'logFile.txt "));
    EXPECT_THAT(run.err, HasSubstr("-100.txt' are all taken ("));
    EXPECT_THAT(run.err, HasSubstr("autotest: no report was written: the test has no log file"));
    EXPECT_THAT(run.err, HasSubstr("autotest: no log file was written"));
    for (const std::string& base : theirs) {
        ASSERT_EQ(ReadFile(dir_ / (base + ".txt")), "their log") << base;
        ASSERT_EQ(ReadFile(dir_ / (base + ".html")), "their report") << base;
        ASSERT_TRUE(std::filesystem::is_empty(dir_ / (base + "-2.txt"))) << base;
        ASSERT_FALSE(std::filesystem::exists(dir_ / (base + "-101.txt"))) << base;
    }
    EXPECT_EQ(ReadFile(outside / "kept"), "kept");
    EXPECT_FALSE(std::filesystem::exists(outside / "made"));
    for (int axis = 0; axis < 4; ++axis) {
        EXPECT_FALSE(machine->ReadAxis(axis).moving) << "axis " << axis;
    }
}

// One move of X reaching `maxError` counts, as a kept test holds it.
TestRecord OneMoveTest(float maxError) {
    TestRecord record;
    record.testNumber = 1;
    record.startTime = std::chrono::system_clock::time_point(std::chrono::seconds(1354197909));
    record.identity = "127.0.0.1:23 Scripted \"rev\" 1.0";
    record.outcome = TestOutcome::Completed;
    MoveTrace move;
    move.axis = 'X';
    move.target = -20000;
    move.maxTorque = 0.5f;
    move.moveMaxError = maxError;
    move.currentPosition = "-20000";
    move.samples = {{0.0, 0.25f, 3.0f}};
    record.moves.push_back(move);
    return record;
}

TEST_F(CliAutotest, HistoryListsTheKeptTestsWithoutConnecting) {
    {
        history::History store((dir_ / history::kHistoryFileName).string());
        // A baseline needs three earlier tests.
        for (int test = 0; test < 3; ++test) {
            store.Add(OneMoveTest(100), {"a.txt", "", ""});
        }
        store.Add(OneMoveTest(200), {"b.txt", "", ""});
    }
    const ProgramRun json = Run("history --json");
    EXPECT_EQ(json.exitCode, 0) << json.err;
    const std::string test =
        R"({"id": N, "started": "2012-11-29T14:05:09Z", "controller": "127.0.0.1:23 Scripted )"
        R"(\"rev\" 1.0", "outcome": "passed", "moves": [{"axis": "X", "target": -20000, )"
        R"("outcome": "completed", "max_torque_v": 0.5, "max_error_counts": E}], "drift": [D]})";
    auto filled = [&](const char* id, const char* error, const std::string& drift) {
        std::string text = test;
        text.replace(text.find('N'), 1, id);
        text.replace(text.find('E'), 1, error);
        return text.replace(text.find('D'), 1, drift);
    };
    EXPECT_EQ(json.out, "{\"tests\": [" + filled("1", "100", "") + ", " + filled("2", "100", "") +
                            ", " + filled("3", "100", "") + ", " +
                            filled("4", "200",
                                   R"({"axis": "X", "target": -20000, "quantity": "error", )"
                                   R"("value": 200, "baseline": 100, "change": 100})") +
                            "]}\n");

    const ProgramRun table = Run("history --limit 1");
    EXPECT_EQ(table.exitCode, 0) << table.err;
    EXPECT_THAT(table.out, HasSubstr("X: error 100 % above earlier tests"));
    EXPECT_EQ(std::count(table.out.begin(), table.out.end(), '\n'), 2) << table.out;
    EXPECT_EQ(Run("history --limit 0").exitCode, 2);
    ExpectDocumented("history", Run("--json history"));
}

// A hostile controller's identity line is kept in the history as it came; a terminal gets it
// escaped. A damaged file lists nothing.
TEST_F(CliAutotest, HistoryEscapesStoredTextOnATerminalAndRefusesADamagedFile) {
    const std::string path = (dir_ / history::kHistoryFileName).string();
    {
        history::History store(path);
        TestRecord record = OneMoveTest(100);
        record.identity = std::string("127.0.0.1:23 evil \x1b[2J\x07\x9b") + "1m ok";
        store.Add(record, {"a.txt", "", ""});
    }
    const std::string table = testing::RunOnTerminal(TREVANE_CLI_PATH, {"history"}, dir_);
    EXPECT_THAT(table, HasSubstr("127.0.0.1:23 evil \\x1b[2J\\x07\\x9b1m ok\n"));
    EXPECT_THAT(Run("history").out, HasSubstr("evil \x1b[2J\x07\x9b"
                                              "1m ok"));
    {
        history::History store(path);
        for (int i = 0; i < 3; ++i) {
            store.Add(OneMoveTest(100), {"a.txt", "", ""});
        }
        store.Db().Execute("PRAGMA wal_checkpoint(TRUNCATE)");
    }
    {
        std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(2 * 4096);
        const std::string garbage(4096, '\x5a');
        file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
    }
    const ProgramRun damaged = Run("history");
    EXPECT_EQ(damaged.exitCode, 1);
    EXPECT_EQ(damaged.out, "");
    EXPECT_THAT(damaged.err,
                ::testing::StartsWith("trevane-cli: history: " +
                                      std::string(history::kHistoryFileName) + " is damaged: "));
    const ProgramRun json = Run("history --json");
    const std::vector<testing::JsonValue> lines = testing::ParseJsonLines(json.out);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["error"]["exit"].number, 1);
}

// The test and its log stand; only the run's exit code tells of the history.
TEST_F(CliAutotest, AHistoryThatCannotBeWrittenFailsTheRunAndIsLeftAsItWas) {
    const std::string path = (dir_ / history::kHistoryFileName).string();
    {
        history::History store(path);
        store.Db().Execute("PRAGMA user_version=99");
    }
    const auto before = ReadFile(path);
    auto machine = std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    sim::Server server(machine, "127.0.0.1", 0);
    const ProgramRun run =
        Run("--address 127.0.0.1 --port " + std::to_string(server.Port()) + " autotest --report");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_THAT(run.err, HasSubstr("\nhistory could not be written: '" +
                                   std::string(history::kHistoryFileName) +
                                   "' was written by a newer Trevane"));
    EXPECT_THAT(run.out,
                HasSubstr("\nDisable Machine\nTest result: X passed, Y passed, Z passed."));
    EXPECT_EQ(LogFiles().size(), 1u);
    EXPECT_EQ(ReadFile(path), before);
}

}  // namespace
}  // namespace trevane
