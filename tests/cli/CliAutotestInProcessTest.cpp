#include <signal.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "CliTestFiles.h"
#include "InProcessCli.h"
#include "history/History.h"
#include "protocol/Limits.h"
#include "sim/Simulator.h"
#include "support/JsonValue.h"
#include "support/ScratchFolder.h"

// trevane-cli's autotest verb, the whole command line in process, against the simulated
// controller on the virtual clock.
namespace trevane {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
using testing::ReadFile;

constexpr std::uint16_t kPort = 5023;

class CliAutotestInProcess : public ::testing::Test {
  protected:
    std::vector<std::filesystem::path> LogFiles() const { return testing::LogFilesIn(dir_); }
    testing::CliRun Run(const std::string& arguments) {
        return cli_.Run("--address 127.0.0.1 --port " + std::to_string(kPort) + " " + arguments);
    }

    testing::ScopedWorkingFolder scratch_{"trevane-cli-autotest"};
    const std::filesystem::path dir_ = std::filesystem::current_path();
    testing::InProcessCli cli_;
};

TEST_F(CliAutotestInProcess, CtrlCAbortsTheTestAsTheButtonDoesAndTheReportIsStillWritten) {
    cli_.AddController(kPort);
    // Inside the checks' 2 s wait.
    cli_.Clock().InterruptAt(std::chrono::milliseconds(1500), SIGINT);
    const testing::CliRun run = Run("autotest --report");
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

TEST_F(CliAutotestInProcess, JsonGivesEachEntryAndTheVerdictLast) {
    cli_.AddController(kPort);
    cli_.Clock().InterruptAt(std::chrono::milliseconds(1500), SIGINT);
    const testing::CliRun run = Run("--json autotest");
    EXPECT_EQ(run.exitCode, 130) << run.err;
    const std::vector<testing::JsonValue> lines = testing::ParseJsonLines(run.out);
    ASSERT_GE(lines.size(), 3U) << run.out;
    EXPECT_EQ(lines.front()["text"].text, "Starting Test");
    for (std::size_t i = 0; i + 2 < lines.size(); ++i) {
        EXPECT_THAT(lines[i]["time"].text, EndsWith("Z")) << i;
        EXPECT_EQ(lines[i]["elapsed_s"].kind, testing::JsonValue::Kind::Number) << i;
        EXPECT_EQ(lines[i]["text"].kind, testing::JsonValue::Kind::String) << i;
    }
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

// Nothing reaches a controller that the command line does not name: without --address, every
// verb that drives one is refused before a session opens, even where one would answer.
TEST_F(CliAutotestInProcess, AVerbThatDrivesAControllerIsRefusedWithoutItsAddress) {
    const auto machine = cli_.AddController(trevane::kDefaultControllerPort);
    for (const char* verb : {"autotest", "send SH", "jog X 100 1", "connect", "record --count 1"}) {
        const testing::CliRun run = cli_.Run(verb);
        EXPECT_EQ(run.exitCode, 2) << verb;
        EXPECT_THAT(run.err, HasSubstr("--address is required")) << verb;
    }
    EXPECT_THAT(machine->ReceivedCommands(), ::testing::IsEmpty());
}

// A failing test ends its output with the verdict, each aborted axis named with its reason.
TEST_F(CliAutotestInProcess, AFailingTestEndsWithItsVerdict) {
    const auto machine = cli_.AddController(kPort);
    machine->AddFault(sim::ParseFault("stall:Y"));
    machine->AddFault(sim::ParseFault("torque:Z"));
    const testing::CliRun run = Run("autotest");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    const std::size_t last = run.out.rfind('\n', run.out.size() - 2);
    ASSERT_NE(last, std::string::npos);
    const std::string verdict = run.out.substr(last + 1);
    EXPECT_THAT(verdict, ::testing::StartsWith("Test result: X passed, Y aborted (position error"));
    EXPECT_THAT(verdict, HasSubstr("above 700), Z aborted (torque "));
    EXPECT_THAT(verdict, EndsWith(" above 3.1). X: no baseline yet. Report: none\n"));
}

// A switch stuck on passes the moves, yet it is named everywhere the verdict is, and only
// --strict turns it into an exit code.
TEST_F(CliAutotestInProcess, AStuckLimitSwitchIsAWarningAndNoPlainPass) {
    cli_.AddController(kPort)->AddFault(sim::ParseFault("limit:Y:forward"));
    const testing::CliRun run = Run("--json autotest --report");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr("autotest: warning: Y forward limit switch active at rest: "
                                   "stuck, or wired normally closed; the test set CN to 1\n"));
    EXPECT_THAT(run.err, HasSubstr("; the test passed with 1 warning\n"));
    const testing::JsonValue verdict = testing::ParseJsonLines(run.out).back();
    EXPECT_EQ(verdict["verdict"].text, "passed");
    EXPECT_THAT(verdict["headline"].text,
                ::testing::StartsWith("PASSED WITH WARNINGS: Y forward limit switch active"));
    EXPECT_THAT(verdict["verdict_line"].text,
                HasSubstr("Z passed. Warning: Y forward limit switch active at rest"));
    ASSERT_EQ(verdict["warnings"].items.size(), 1u) << run.out;
    const testing::JsonValue& warning = verdict["warnings"].items[0];
    EXPECT_EQ(warning["axis"].text, "Y");
    EXPECT_EQ(warning["kind"].text, "limit_switch_active");
    EXPECT_EQ(warning["switch"].text, "forward");
    EXPECT_EQ(warning["reading"].text, "0.0000");
    EXPECT_EQ(warning["cn_set"].number, 1);
    EXPECT_TRUE(verdict["drift"].items.empty());

    const std::string html = ReadFile(dir_ / verdict["report"].text);
    EXPECT_THAT(html, HasSubstr("<h1 class=\"headline warning\">PASSED WITH WARNINGS: Y forward "
                                "limit switch active at rest"));
    // The warning leads, before the test's particulars.
    EXPECT_LT(html.find("<h2>Warnings</h2>"), html.find("Automatic test report"));

    const testing::CliRun strict = Run("--json autotest --strict");
    EXPECT_EQ(strict.exitCode, 3) << strict.err;
    EXPECT_EQ(testing::ParseJsonLines(strict.out).back()["error"]["exit"].number, 3);
    EXPECT_THAT(strict.err, HasSubstr("; the test passed with 1 warning (--strict)\n"));
}

// Y's load takes it to 97 % of the torque limit: a pass, with the margin in every place.
TEST_F(CliAutotestInProcess, AnAxisNearItsLimitShowsItsShareEverywhere) {
    cli_.AddController(kPort)->AddFault(sim::ParseFault("load:Y:2.5"));
    const testing::CliRun run = Run("--json autotest --report");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const testing::JsonValue verdict = testing::ParseJsonLines(run.out).back();
    EXPECT_THAT(verdict["verdict_line"].text,
                HasSubstr("X passed, Y passed, torque at 97 % of its limit, Z passed."));
    const std::vector<testing::JsonValue>& axes = verdict["axes"].items;
    ASSERT_EQ(axes.size(), 3u) << run.out;
    EXPECT_EQ(axes[1]["axis"].text, "Y");
    EXPECT_EQ(axes[1]["outcome"].text, "passed");
    EXPECT_NEAR(axes[1]["torque_share_percent"].number, 96.9, 1e-9);
    EXPECT_NEAR(axes[1]["max_torque_v"].number * 100 / 3.1, 96.9, 0.05);
    EXPECT_NEAR(axes[0]["torque_share_percent"].number, 38.8, 1e-9);
    ASSERT_EQ(verdict["warnings"].items.size(), 1u);
    EXPECT_EQ(verdict["warnings"].items[0]["kind"].text, "torque_near_limit");
    EXPECT_EQ(verdict["warnings"].items[0]["limit_v"].number, 3.1);

    const std::string html = ReadFile(dir_ / verdict["report"].text);
    EXPECT_THAT(html, HasSubstr("<td class=\"warning\">passed, torque at 97 % of its limit</td>"));
    EXPECT_THAT(html, HasSubstr("<td class=\"num\"><span class=\"warning\">97 %</span></td>"));

    const testing::CliRun history = cli_.Run("--json history");
    const std::vector<testing::JsonValue> listed = testing::ParseJsonLines(history.out);
    ASSERT_EQ(listed.size(), 1u) << history.out << history.err;
    const testing::JsonValue& stored = listed[0]["tests"].items.at(0);
    EXPECT_EQ(stored["axes"].items.at(1)["axis"].text, "Y");
    EXPECT_NEAR(stored["axes"].items.at(1)["torque_share_percent"].number, 96.9, 1e-9);
}

// The link goes in the middle of an exchange of the checks: the test ends there, the stop goes
// out on a new session, the motors are read there, and neither the exit code, the JSON nor the
// history call it anything but a lost link.
TEST_F(CliAutotestInProcess, ALostLinkEndsTheTestWithExitOneAndSaysSoEverywhere) {
    const auto machine = cli_.AddController(kPort);
    machine->AddFault(sim::ParseFault("cut:7"));
    const testing::CliRun run = Run("autotest");
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

    const testing::CliRun json = Run("--json autotest");
    EXPECT_EQ(json.exitCode, 1) << json.err;
    const std::vector<testing::JsonValue> lines = testing::ParseJsonLines(json.out);
    ASSERT_GE(lines.size(), 2u) << json.out;
    EXPECT_EQ(lines[lines.size() - 2]["verdict"].text, "link_lost");
    EXPECT_EQ(lines.back()["error"]["message"].text, "autotest: log file '" +
                                                         lines[lines.size() - 2]["log"].text +
                                                         "'; the link to the controller was lost");
}

// Every torque reading of Y is rejected: Y is unverified in the exit code, the JSON verdict and
// its moves, never passed. The controller closes a session idle for 1.5 s, less than the test's
// longer pauses: each time the next command reopens it, and the operator is told.
TEST_F(CliAutotestInProcess, UnmeasuredMovesAreUnverifiedInTheJsonAndTheExitCode) {
    sim::InProcessOptions idleLimit;
    idleLimit.idleTimeout = std::chrono::milliseconds(1500);  // longer than the 1 s pauses
    const auto machine = cli_.AddController(kPort, idleLimit);
    machine->AddFault(sim::ParseFault("reject:TTY"));
    const testing::CliRun run = Run("--json autotest");
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

// How often `command` reached the controller.
long long TimesReceived(const sim::Machine& machine, const std::string& command) {
    const std::vector<std::string> commands = machine.ReceivedCommands();
    return std::count(commands.begin(), commands.end(), command);
}

// How often `text` stands in `whole`.
long long Occurrences(const std::string& whole, const std::string& text) {
    long long count = 0;
    for (std::size_t at = whole.find(text); at != std::string::npos;
         at = whole.find(text, at + text.size())) {
        ++count;
    }
    return count;
}

// A command rejected on each of hundreds of polls is named once as it first comes and once
// more at the end with its count; another command's rejection has lines of its own.
TEST_F(CliAutotestInProcess, EachKindOfRejectionIsOneLineAndOneCount) {
    const auto machine = cli_.AddController(kPort);
    machine->AddFault(sim::ParseFault("reject:TEY"));
    machine->AddFault(sim::ParseFault("reject:TTZ"));
    const testing::CliRun run = Run("autotest");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    const long long tey = TimesReceived(*machine, "TEY");
    const long long ttz = TimesReceived(*machine, "TTZ");
    ASSERT_GE(tey, 400);
    ASSERT_GE(ttz, 400);
    for (const auto& [command, times] : {std::pair{std::string("TEY"), tey}, {"TTZ", ttz}}) {
        const std::string line = "trevane-cli: " + command + " rejected: 7 Command rejected";
        EXPECT_EQ(Occurrences(run.err, line + "\n"), 1) << run.err;
        EXPECT_EQ(Occurrences(run.err, line + " (" + std::to_string(times) + " times)\n"), 1)
            << run.err;
        EXPECT_EQ(Occurrences(run.err, command + " rejected"), 2) << command;
    }
    // Counted at the end, after the line that named it first.
    EXPECT_LT(run.err.find("TEY rejected: 7 Command rejected\n"),
              run.err.find("TEY rejected: 7 Command rejected ("));
}

TEST_F(CliAutotestInProcess, JsonHoldsEachKindOfRejectionOnceWithItsCount) {
    const auto machine = cli_.AddController(kPort);
    machine->AddFault(sim::ParseFault("reject:TEY"));
    const testing::CliRun run = Run("--json autotest");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    const std::vector<testing::JsonValue> lines = testing::ParseJsonLines(run.out);
    ASSERT_GE(lines.size(), 2u) << run.out;
    EXPECT_EQ(lines[lines.size() - 2]["verdict"].text, "unverified");
    const testing::JsonValue& failures = lines.back()["error"]["failures"];
    ASSERT_EQ(failures.items.size(), 1u) << run.out;
    EXPECT_EQ(failures.items[0]["message"].text, "TEY rejected: 7 Command rejected");
    EXPECT_EQ(failures.items[0]["times"].number,
              static_cast<double>(TimesReceived(*machine, "TEY")));
    EXPECT_GE(failures.items[0]["times"].number, 400);
    EXPECT_EQ(Occurrences(run.out, "TEY"), 1) << run.out;
    EXPECT_EQ(Occurrences(run.err, "TEY rejected"), 2) << run.err;
}

// Every name the log could take in the next half minute (it is made as the test starts) is
// taken: another test's log and report, a folder, links to a file elsewhere, and folders up to the
// last.
TEST_F(CliAutotestInProcess, ALogWithoutAFreeNameFailsTheRunAndNoOtherFileIsTouched) {
    const std::filesystem::path outside = dir_ / "outside";
    std::filesystem::create_directory(outside);
    std::ofstream(outside / "kept", std::ios::binary) << "kept";
    const std::time_t now =
        std::chrono::system_clock::to_time_t(cli_.Clock().WallNow());
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
    const auto machine = cli_.AddController(kPort);
    // The whole test, so nothing but the lost entries can fail the run.
    const testing::CliRun run = Run("autotest --report");
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

// The test and its log stand; only the run's exit code tells of the history.
TEST_F(CliAutotestInProcess, AHistoryThatCannotBeWrittenFailsTheRunAndIsLeftAsItWas) {
    const std::string path = (dir_ / history::kHistoryFileName).string();
    {
        history::History store(path);
        store.Db().Execute("PRAGMA user_version=99");
    }
    const auto before = ReadFile(path);
    cli_.AddController(kPort);
    const testing::CliRun run = Run("autotest --report");
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
