#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "InProcessCli.h"
#include "history/History.h"
#include "history/Sqlite.h"
#include "history/Trends.h"
#include "sim/Simulator.h"
#include "support/JsonValue.h"
#include "support/ScratchFolder.h"

// trevane-cli fleet, the whole command line in process, against simulated controllers on the
// virtual clock.
namespace trevane {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using testing::ReadFile;

// Where no controller is served.
constexpr std::uint16_t kDeadPort = 5999;

class FleetInProcess : public ::testing::Test {
  protected:
    void WriteFleet(const std::string& text) { std::ofstream(dir_ / "fleet.txt") << text; }

    testing::ScopedWorkingFolder scratch_{"trevane-fleet"};
    const fs::path dir_ = fs::current_path();
    testing::InProcessCli cli_;
};

TEST_F(FleetInProcess, FourControllersGiveFourFoldersOneHistoryAndOneSummary) {
    cli_.AddController(5001);
    cli_.AddController(5002)->AddFault(sim::ParseFault("stall:Y"));
    cli_.AddController(5003);
    WriteFleet("# line 4\n127.0.0.1 5001 press-1\n127.0.0.1 5002 press-2   # the one with the bad "
               "Y\n\n127.0.0.1 5003 press-3\n127.0.0.1 " +
               std::to_string(kDeadPort) + " press-4\n");
    // One at a time, so that no controller's readings fall where another's waits put them.
    const testing::CliRun run = cli_.Run("fleet fleet.txt --jobs 1 autotest");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    // One line per change, then the table.
    EXPECT_THAT(run.out, HasSubstr("press-4  127.0.0.1:"));
    const std::string table = run.out.substr(run.out.find("NAME "));
    EXPECT_THAT(table, ::testing::ContainsRegex("press-1 +127.0.0.1:[0-9]+ +passed +[0-9.]+ +Test "
                                                "result: X passed, Y passed, Z passed"));
    EXPECT_THAT(table, ::testing::ContainsRegex("press-2 .* aborted .*Y aborted"));
    EXPECT_THAT(table, ::testing::ContainsRegex("press-3 .* passed "));
    EXPECT_THAT(table, ::testing::ContainsRegex("press-4 .* no_connection .*Connection Failed"));
    EXPECT_THAT(table, HasSubstr("4 controllers: 2 passed, 1 aborted, 1 no_connection\n"));

    const std::string html = ReadFile(dir_ / "fleet-summary.html");
    for (const char* name : {"press-1", "press-2", "press-3", "press-4"}) {
        const fs::path folder = dir_ / name;
        ASSERT_TRUE(fs::is_directory(folder)) << name;
        EXPECT_TRUE(fs::exists(folder / "trevane-cli.jsonl")) << name;
        EXPECT_TRUE(fs::exists(folder / "trace.txt")) << name;
        std::set<std::string> kinds;
        for (const auto& entry : fs::directory_iterator(folder)) {
            kinds.insert(entry.path().extension().string());
            if (entry.path().extension() == ".html") {
                EXPECT_THAT(html, HasSubstr("href=\"" + std::string(name) + "/")) << name;
            }
        }
        if (std::string(name) != "press-4") {
            EXPECT_TRUE(kinds.contains(".html") && kinds.contains(".csv")) << name;
        }
    }
    EXPECT_FALSE(fs::exists(dir_ / "press-1" / history::kHistoryFileName));

    // Every test that reached its controller, written by three members at once.
    const std::string path = (dir_ / history::kHistoryFileName).string();
    sqlite::Database db(path, sqlite::Database::Mode::ReadOnly, 5000);
    sqlite::Statement check = db.Prepare("PRAGMA integrity_check");
    ASSERT_TRUE(check.Step());
    EXPECT_EQ(check.Text(0), "ok");
    // The files named as seen from the history's folder.
    sqlite::Statement logs = db.Prepare("SELECT log_file FROM tests");
    while (logs.Step()) {
        EXPECT_TRUE(fs::exists(dir_ / logs.Text(0))) << logs.Text(0);
    }
    history::History store(path, history::History::Access::Read);
    const std::vector<history::StoredTest> tests = store.LastTests(10);
    ASSERT_EQ(tests.size(), 3u);
    std::set<int> ports;
    for (const history::StoredTest& test : tests) {
        ports.insert(test.port);
        EXPECT_EQ(test.moves.size(), test.port == 5002 ? 5u : 6u);
    }
    EXPECT_EQ(ports, (std::set<int>{5001, 5002, 5003}));
}

// A fleet's controllers behind one address, tested in one fleet, run after run: each
// controller's baseline is its own earlier tests.
TEST_F(FleetInProcess, EachControllerOfAFleetIsComparedWithItselfOnly) {
    for (const std::uint16_t port : {5001, 5002, 5003}) {
        cli_.AddController(port);
    }
    WriteFleet("127.0.0.1 5001 a\n127.0.0.1 5002 b\n127.0.0.1 5003 c\n");
    for (int run = 0; run < 4; ++run) {
        const testing::CliRun fleet = cli_.Run("fleet fleet.txt autotest");
        ASSERT_EQ(fleet.exitCode, 0) << fleet.err;
    }
    history::History store((dir_ / history::kHistoryFileName).string(),
                           history::History::Access::Read);
    const std::vector<history::StoredTest> tests = store.LastTests(0);
    ASSERT_EQ(tests.size(), 12u);
    std::map<int, std::set<std::string>> startsByPort;
    for (const history::StoredTest& test : tests) {
        startsByPort[test.port].insert(test.startedUtc);
    }
    const std::vector<history::StoredTest> last(tests.end() - 3, tests.end());
    std::set<int> ports;
    for (const history::StoredTest& test : last) {
        ports.insert(test.port);
        // Whether the three runs overlap on the wall clock is the scheduler's choice; the store's
        // own cases hold the overlap rule. Here: every kept test knows when it ran.
        ASSERT_TRUE(test.startedMs && test.endedMs);
        // No drift check: the three share one virtual clock, so each one's samples fall where the
        // others' waits put them and the peaks differ from run to run.
        const history::Comparison comparison = history::Compare(store, test, false);
        // At most its own three: a move the simulator left unmeasured is no base either.
        for (const history::MoveComparison& move : comparison.moves) {
            EXPECT_LE(move.earlierTests, 3) << test.port << " move " << move.move.moveIndex;
            for (const std::string& started : move.baseTests) {
                EXPECT_TRUE(startsByPort[test.port].count(started)) << test.port << " " << started;
            }
        }
    }
    EXPECT_EQ(ports, (std::set<int>{5001, 5002, 5003}));
}

// A stuck switch on one controller: no plain "passed" for it anywhere, its text whole, and
// --strict makes the fleet's exit code of it.
TEST_F(FleetInProcess, APassWithWarningsIsNoPlainPassAndStrictExitsThree) {
    cli_.AddController(5001);
    cli_.AddController(5002)->AddFault(sim::ParseFault("limit:Y:forward"));
    WriteFleet("127.0.0.1 5001 clean\n127.0.0.1 5002 stuck\n");
    // One at a time: on one shared virtual clock, two at once sample each other's waits, and
    // the finder reads the clean one's jittered readings as a fault.
    const testing::CliRun run = cli_.Run("fleet fleet.txt --jobs 1 autotest");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::string table = run.out.substr(run.out.find("NAME "));
    EXPECT_THAT(table, ::testing::ContainsRegex("\nclean +127.0.0.1:5001 +passed "));
    EXPECT_THAT(table, ::testing::ContainsRegex("\nstuck +127.0.0.1:5002 +passed_with_warnings "));
    EXPECT_THAT(table, HasSubstr("2 controllers: 1 passed, 1 passed_with_warnings\n"));
    // Wrapped, never cut: the verdict line is all there once the breaks are joined.
    std::string joined = table;
    for (std::size_t at = joined.find("\n "); at != std::string::npos; at = joined.find("\n ")) {
        const std::size_t text = joined.find_first_not_of(' ', at + 1);
        joined.replace(at, text - at, " ");
    }
    EXPECT_THAT(joined, HasSubstr("Warning: Y forward limit switch active at rest: stuck, or wired "
                                  "normally closed; the test set CN to 1."));
    EXPECT_THAT(table, ::testing::Not(HasSubstr("...")));

    const testing::CliRun strict = cli_.Run("--json fleet fleet.txt --jobs 1 --strict autotest");
    EXPECT_EQ(strict.exitCode, 3) << strict.err;
    EXPECT_THAT(strict.err, HasSubstr("fleet: 1 of 2 controllers passed with warnings or drift "
                                      "(--strict)"));
    const std::vector<testing::JsonValue> lines = testing::ParseJsonLines(strict.out);
    ASSERT_GE(lines.size(), 4u);
    const testing::JsonValue& totals = lines[lines.size() - 2];
    EXPECT_EQ(totals["passed"].number, 1);
    EXPECT_EQ(totals["passed_with_warnings"].number, 1);
    EXPECT_EQ(lines[lines.size() - 3]["state"].text, "passed_with_warnings");
    EXPECT_EQ(lines[lines.size() - 3]["exit"].number, 3);
    // Given after the verb it is autotest's, and the fleet's too.
    EXPECT_EQ(cli_.Run("fleet fleet.txt --jobs 1 autotest --strict").exitCode, 3);
    EXPECT_EQ(cli_.Run("fleet fleet.txt --strict connect").exitCode, 2);
}

TEST_F(FleetInProcess, JsonLinesTellEveryChangeAndEachControllerAtTheEnd) {
    cli_.AddController(5001);
    WriteFleet("127.0.0.1 5001\n127.0.0.1 " + std::to_string(kDeadPort) + " dead\n");
    const testing::CliRun run = cli_.Run("--json fleet fleet.txt --jobs 1 connect");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    const std::vector<testing::JsonValue> lines = testing::ParseJsonLines(run.out);
    ASSERT_GE(lines.size(), 7u) << run.out;
    EXPECT_EQ(lines[0]["controller"].text, "127.0.0.1");
    EXPECT_EQ(lines[0]["state"].text, "running");
    const auto done = std::find_if(lines.begin(), lines.end(), [](const testing::JsonValue& line) {
        return line["state"].text == "done";
    });
    ASSERT_NE(done, lines.end()) << run.out;
    EXPECT_EQ((*done)["controller"].text, "127.0.0.1");
    EXPECT_THAT((*done)["text"].text, HasSubstr(sim::kIdentityLine));
    const testing::JsonValue& dead = lines[lines.size() - 3];
    EXPECT_EQ(dead["controller"].text, "dead");
    EXPECT_EQ(dead["state"].text, "no_connection");
    EXPECT_EQ(dead["exit"].number, 2);
    EXPECT_THAT(dead["text"].text, HasSubstr("Connection Failed"));
    EXPECT_EQ(dead["folder"].text, (dir_ / "dead").string());
    const testing::JsonValue& totals = lines[lines.size() - 2];
    EXPECT_EQ(totals["controllers"].number, 2);
    EXPECT_EQ(totals["passed"].number, 1);
    EXPECT_EQ(totals["summary"].text, "fleet-summary.html");
    EXPECT_EQ(lines.back()["error"]["message"].text, "fleet: 1 of 2 controllers did not pass");
    EXPECT_EQ(lines.back()["error"]["exit"].number, 1);
}

// A NAME that leaves the fleet's folder is refused before anything starts.
TEST_F(FleetInProcess, ANameOfTheParentFolderStartsNothing) {
    const auto machine = cli_.AddController(5001);
    fs::create_directory(dir_ / "inner");
    std::ofstream(dir_ / "inner" / "fleet.txt") << "127.0.0.1 5001 ..\n";
    fs::current_path(dir_ / "inner");
    const testing::CliRun run = cli_.Run("fleet fleet.txt autotest");
    fs::current_path(dir_);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_THAT(run.err, HasSubstr("'fleet.txt' line 1: the name '..' is not a folder name"));
    EXPECT_TRUE(machine->Received().empty());
    EXPECT_FALSE(fs::exists(dir_ / "fleet-summary.html"));
    EXPECT_FALSE(fs::exists(dir_ / history::kHistoryFileName));
}

// Arguments that the verb refuses are refused once, by the fleet, before any member starts:
// no controller hears a command, no folder or file is made.
TEST_F(FleetInProcess, ArgumentsTheVerbRefusesStartNothing) {
    const auto first = cli_.AddController(5001);
    const auto second = cli_.AddController(5002);
    WriteFleet("127.0.0.1 5001 m1\n127.0.0.1 5002 m2\n127.0.0.1 " + std::to_string(kDeadPort) +
               " m3\n");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"record --count 2", "fleet: record: --interval and --count go with --watch"},
        {"autotest --bogus",
         "fleet: autotest: unknown argument '--bogus' (usage: autotest [--report] [--strict] [--history "
         "URL])"},
        {"autotest --history", "fleet: autotest: unknown argument '--history'"},
        {"connect now", "fleet: connect takes no arguments"},
    };
    for (const auto& [verb, refusal] : cases) {
        const testing::CliRun run = cli_.Run("fleet fleet.txt " + verb);
        EXPECT_EQ(run.exitCode, 2) << verb;
        EXPECT_THAT(run.err, ::testing::StartsWith("trevane-cli: " + refusal)) << verb;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(run.out, "") << verb;
    }
    const testing::CliRun json = cli_.Run("--json fleet fleet.txt record --count 2");
    EXPECT_EQ(json.exitCode, 2);
    const std::vector<testing::JsonValue> lines = testing::ParseJsonLines(json.out);
    ASSERT_EQ(lines.size(), 1u) << json.out;
    EXPECT_EQ(lines[0]["error"]["message"].text, cases[0].second);
    EXPECT_EQ(lines[0]["error"]["exit"].number, 2);

    EXPECT_TRUE(first->Received().empty());
    EXPECT_TRUE(second->Received().empty());
    for (const char* made : {"m1", "m2", "m3", "fleet-summary.html", history::kHistoryFileName}) {
        EXPECT_FALSE(fs::exists(dir_ / made)) << made;
    }
}

}  // namespace
}  // namespace trevane
