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

#include "CliTestFiles.h"
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

using testing::OneMoveTest;
// An identity with quotes, as the history shows it back.
constexpr const char* kIdentity = "127.0.0.1:23 Scripted \"rev\" 1.0";

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

    std::vector<std::filesystem::path> LogFiles() const { return testing::LogFilesIn(dir_); }

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

// The one whole test in real time over TCP through the program, as an operator would run it
// (about 30 s); every other runs in process on the virtual clock (CliAutotestInProcessTest.cpp).
TEST_F(CliAutotest, ARealTimeRunOverTcpCompletes) {
    auto machine = std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    sim::Server server(machine, "127.0.0.1", 0);
    const ProgramRun run =
        Run("--address 127.0.0.1 --port " + std::to_string(server.Port()) + " autotest");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("Test result: X passed, Y passed, Z passed"));
    EXPECT_EQ(machine->ReceivedCommands().back(), "CB7");
    const auto logs = LogFiles();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_TRUE(ReadFile(logs[0]).ends_with("  Disable Machine\r\n"));
}

TEST_F(CliAutotest, HistoryListsTheKeptTestsWithoutConnecting) {
    {
        history::History store((dir_ / history::kHistoryFileName).string());
        // A baseline needs three earlier tests.
        for (int test = 0; test < 3; ++test) {
            store.Add(OneMoveTest(100, kIdentity), {"a.txt", "", ""});
        }
        store.Add(OneMoveTest(200, kIdentity), {"b.txt", "", ""});
    }
    const ProgramRun json = Run("history --json");
    EXPECT_EQ(json.exitCode, 0) << json.err;
    const std::string test =
        R"({"id": N, "started": "2012-11-29T14:05:09Z", "controller": "127.0.0.1:23 Scripted )"
        R"(\"rev\" 1.0", "outcome": "passed", "moves": [{"axis": "X", "target": -20000, )"
        R"("outcome": "completed", "max_torque_v": 0.5, "max_error_counts": E}], "axes": )"
        R"([{"axis": "X", "max_torque_v": 0.5, "torque_share_percent": 16.1, )"
        R"("max_error_counts": E, "error_share_percent": %}], "drift": [D]})";
    auto filled = [&](const char* id, const char* error, const std::string& drift) {
        std::string text = test;
        text.replace(text.find('N'), 1, id);
        text.replace(text.find('E'), 1, error);
        text.replace(text.find('E'), 1, error);
        text.replace(text.find('%'), 1, std::string(error) == "100" ? "14.3" : "28.6");
        return text.replace(text.find('D'), 1, drift);
    };
    EXPECT_EQ(json.out, "{\"tests\": [" + filled("1", "100", "") + ", " + filled("2", "100", "") +
                            ", " + filled("3", "100", "") + ", " +
                            filled("4", "200",
                                   R"({"axis": "X", "target": -20000, "kind": "error", )"
                                   R"("value_counts": 200, "baseline_counts": 100, )"
                                   R"("change_percent": 100})") +
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
        TestRecord record = OneMoveTest(100, kIdentity);
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
            store.Add(OneMoveTest(100, kIdentity), {"a.txt", "", ""});
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

}  // namespace
}  // namespace trevane
