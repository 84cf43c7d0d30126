#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/Clock.h"
#include "net/TcpMotionClient.h"
#include "sim/Simulator.h"
#include "support/ChildProcess.h"
#include "support/CliJsonDocs.h"
#include "support/JsonValue.h"
#include "support/ScratchFolder.h"
#include "support/StrayRelay.h"

// trevane-cli's machine and console verbs as a program, against the simulated controller's TCP
// server on loopback, judged by exit codes, output and what the machine received.
namespace trevane::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class CliVerbsTest : public ::testing::Test {
  protected:
    std::vector<std::string> At(const std::vector<std::string>& args) const {
        std::vector<std::string> all = {"--address", "127.0.0.1", "--port",
                                        std::to_string(server_->Port())};
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }

    ProgramRun Run(const std::vector<std::string>& args) {
        return RunProgram(TREVANE_CLI_PATH, At(args), folder_);
    }

    // True once the machine received `command`, within a bound.
    bool Received(const std::string& command) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            const std::vector<std::string> lines = machine_->ReceivedCommands();
            if (std::find(lines.begin(), lines.end(), command) != lines.end()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    std::vector<std::string> ReceivedAfterConnect() {
        std::vector<std::string> lines = machine_->ReceivedCommands();
        if (!lines.empty() && lines.front() == "HX") {
            lines.erase(lines.begin());
        }
        return lines;
    }

    std::shared_ptr<sim::Machine> machine_ =
        std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    std::unique_ptr<sim::Server> server_ =
        std::make_unique<sim::Server>(machine_, "127.0.0.1", std::uint16_t{0});
    testing::ScratchFolder scratch_{"trevane-cli-verbs"};
    const fs::path& folder_ = scratch_.Path();
};

TEST_F(CliVerbsTest, RunExitsWithOneWhenACommandOfTheProcedureFailed) {
    EXPECT_EQ(Run({"run", "exit"}).exitCode, 0);
    EXPECT_THAT(ReceivedAfterConnect(), ElementsAre("AB1", "CB1", "CB2", "CB3", "CB4", "MO"));

    machine_->AddFault(sim::ParseFault("reject:CB3"));
    const ProgramRun failed = Run({"run", "disable"});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_THAT(failed.err, HasSubstr("CB3 rejected: "));
    EXPECT_THAT(failed.err, HasSubstr("1 command(s) failed"));

    EXPECT_EQ(Run({"run", "sideways"}).exitCode, 2);
}

TEST_F(CliVerbsTest, JogStopsTheAxesAfterItsTimeAndWhenInterrupted) {
    ASSERT_EQ(Run({"run", "prepare"}).exitCode, 0);
    machine_->ClearReceived();
    EXPECT_EQ(Run({"jog", "xz", "-500", "0.05"}).exitCode, 0);
    EXPECT_THAT(ReceivedAfterConnect(),
                ElementsAre("PT0,0,0,0", "JG-500,0,-500,0", "BG", "AB1", "PT1,1,1,1", "SP*=10000"));

    // One Ctrl-C delivered twice, as timeout(1) sends it to the program and then its group.
    machine_->ClearReceived();
    ChildProcess jog(TREVANE_CLI_PATH, At({"jog", "Y", "700", "60"}), folder_);
    ASSERT_TRUE(Received("BG"));
    jog.Signal(SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    jog.Signal(SIGINT);
    EXPECT_EQ(jog.WaitForExit(), 130) << jog.Errors();
    const std::vector<std::string> received = ReceivedAfterConnect();
    ASSERT_GE(received.size(), 3U);
    EXPECT_THAT(std::vector(received.end() - 3, received.end()),
                ElementsAre("AB1", "PT1,1,1,1", "SP*=10000"));
    EXPECT_FALSE(machine_->ReadAxis(1).moving);

    EXPECT_EQ(Run({"jog", "XV", "5", "1"}).exitCode, 2);
    EXPECT_EQ(Run({"jog", "X", "5", "-1"}).exitCode, 2);
}

// A hang-up or termination stops a jog as Ctrl-C does, and names its signal in the exit code.
TEST_F(CliVerbsTest, JogStopsTheAxesOnHangUpAndTermination) {
    for (const int signal : {SIGHUP, SIGTERM}) {
        machine_->ClearReceived();
        ChildProcess jog(TREVANE_CLI_PATH, At({"jog", "Y", "700", "60"}), folder_);
        ASSERT_TRUE(Received("BG")) << signal;
        jog.Signal(signal);
        EXPECT_EQ(jog.WaitForExit(), 128 + signal) << jog.Errors();
        const std::vector<std::string> received = ReceivedAfterConnect();
        ASSERT_GE(received.size(), 3U) << signal;
        EXPECT_THAT(std::vector(received.end() - 3, received.end()),
                    ElementsAre("AB1", "PT1,1,1,1", "SP*=10000"))
            << signal;
        sim::AxisState y = machine_->ReadAxis(1);
        for (int poll = 0; poll < 1000 && y.moving; ++poll) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            y = machine_->ReadAxis(1);
        }
        EXPECT_FALSE(y.moving) << signal;
    }
}

// The program does not wait for the slow stop sequence, but it does not leave before one more
// "AB1" of its own has gone out on a fresh session.
TEST_F(CliVerbsTest, ASecondCtrlCLaterEndsAStopThatIsStillWaiting) {
    ChildProcess jog(TREVANE_CLI_PATH, At({"jog", "X", "300", "60"}), folder_);
    ASSERT_TRUE(Received("BG"));
    // From here every reply comes 0.9 s late: the stop sequence takes 2.7 s.
    machine_->AddFault(sim::ParseFault("delay:900"));
    jog.Signal(SIGINT);
    ASSERT_TRUE(Received("AB1"));
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    jog.Signal(SIGINT);
    EXPECT_EQ(jog.WaitForExit(), 130);
    EXPECT_THAT(jog.Errors(),
                HasSubstr("interrupted again; ending at once after AB1 stopped the axes"));
    const std::vector<std::string> received = machine_->ReceivedCommands();
    EXPECT_EQ(std::count(received.begin(), received.end(), "AB1"), 2);
    EXPECT_NE(received.back(), "SP*=10000");
}

// A second Ctrl-C whose last stop the controller refuses says so.
TEST_F(CliVerbsTest, ASecondCtrlCSaysWhenItsLastStopFailed) {
    ChildProcess jog(TREVANE_CLI_PATH, At({"jog", "X", "300", "60"}), folder_);
    ASSERT_TRUE(Received("BG"));
    machine_->AddFault(sim::ParseFault("delay:900"));
    machine_->AddFault(sim::ParseFault("reject:AB1"));
    jog.Signal(SIGINT);
    ASSERT_TRUE(Received("AB1"));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    jog.Signal(SIGINT);
    EXPECT_EQ(jog.WaitForExit(), 130);
    EXPECT_THAT(jog.Errors(), HasSubstr("interrupted again; ending at once without stopping (AB1 "
                                        "did not reach the controller)"));
}

TEST_F(CliVerbsTest, RecordPrintsTheThirteenRowsAligned) {
    const ProgramRun result = Run({"record"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::istringstream lines(result.out);
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);) {
        rows.push_back(line);
    }
    ASSERT_EQ(rows.size(), 14U);
    EXPECT_THAT(rows[0], ::testing::MatchesRegex("Item +X +Y +Z +W"));
    EXPECT_THAT(rows[13], ::testing::StartsWith("motor off "));
    for (const std::string& row : rows) {
        EXPECT_EQ(row.size(), rows[0].size()) << row;
    }

    machine_->AddFault(sim::ParseFault("short-record"));
    const ProgramRun shortRecord = Run({"record"});
    EXPECT_EQ(shortRecord.exitCode, 1);
    EXPECT_THAT(shortRecord.err, HasSubstr("152"));
}

// Every name a verb writes is on docs/cli-json.md, under the verb or under "Every verb".
void ExpectDocumented(const std::string& verb, const ProgramRun& run) {
    static const std::string page = ReadCliJsonPage(TREVANE_SOURCE_DIR);
    ASSERT_FALSE(page.empty());
    const std::vector<JsonValue> lines = ParseJsonLines(run.out);
    EXPECT_THAT(UndocumentedNames(lines, DocumentedJsonNames(page, verb)), ElementsAre()) << verb;
}

TEST_F(CliVerbsTest, RecordJsonNamesEveryValueWithItsUnitAsTheCsvDoes) {
    const ProgramRun result = Run({"--json", "record"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    ExpectDocumented("record", result);
    const std::vector<JsonValue> lines = ParseJsonLines(result.out);
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_THAT(lines[0]["time"].text, ::testing::EndsWith("Z"));
    EXPECT_EQ(lines[0]["elapsed_s"].number, 0.0);
    const JsonValue& axes = lines[0]["axes"];
    ASSERT_EQ(axes.members.size(), 4U);
    std::vector<std::string> names;
    for (const auto& [name, value] : axes["X"].members) {
        names.push_back(name);
    }
    for (const char* axis : {"X", "Y", "Z", "W"}) {
        SCOPED_TRACE(axis);
        EXPECT_EQ(axes[axis].members.size(), 15U);
        EXPECT_EQ(axes[axis]["refpos_counts"].kind, JsonValue::Kind::Number);
        EXPECT_EQ(axes[axis]["motor_off"].number, 1.0);
        EXPECT_EQ(axes[axis]["torque_v"].kind, JsonValue::Kind::Number);
    }

    const ProgramRun csv = Run({"record", "--watch", "--count", "3", "--csv"});
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    std::istringstream rows(csv.out);
    std::vector<std::string> lines2;
    for (std::string line; std::getline(rows, line);) {
        lines2.push_back(line);
    }
    ASSERT_EQ(lines2.size(), 4U);
    std::string header = "time,elapsed_s";
    for (const std::string& name : names) {
        header += ",X_" + name;
    }
    EXPECT_THAT(lines2[0], ::testing::StartsWith(header + ",Y_refpos_counts,"));
    for (const std::string& line : lines2) {
        EXPECT_EQ(std::count(line.begin(), line.end(), ','), 61) << line;
    }

    machine_->AddFault(sim::ParseFault("short-record"));
    const ProgramRun failed = Run({"--json", "record"});
    EXPECT_EQ(failed.exitCode, 1);
    const std::vector<JsonValue> error = ParseJsonLines(failed.out);
    ASSERT_EQ(error.size(), 1U);
    EXPECT_THAT(error[0]["error"]["message"].text, HasSubstr("152"));
    ExpectDocumented("record", failed);
}

// The polls keep to a grid from the first one: a late poll is skipped, never caught up, so no
// stamp comes before its slot and the mean gap stays the interval on an idle machine.
TEST_F(CliVerbsTest, RecordWatchKeepsItsRateWithoutDrift) {
    const ProgramRun result = Run({"--json", "record", "--watch", "--count", "200"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::vector<JsonValue> lines = ParseJsonLines(result.out);
    ASSERT_EQ(lines.size(), 200U);
    const double first = lines.front()["elapsed_s"].number;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_GE(lines[i]["elapsed_s"].number - first, 0.010 * static_cast<double>(i) - 0.002)
            << i;
    }
    const double meanGap = (lines.back()["elapsed_s"].number - first) / 199.0;
    EXPECT_GE(meanGap, 0.0098);
    // Loose: a loaded machine skips slots, but a drifting loop would add its work to every gap.
    EXPECT_LT(meanGap, 0.030) << result.err;
}

TEST_F(CliVerbsTest, EveryVerbGivesOnlyTheJsonLinesItsPageNames) {
    const ProgramRun connect = Run({"connect", "--json"});
    EXPECT_EQ(connect.exitCode, 0);
    ExpectDocumented("connect", connect);
    EXPECT_THAT(ParseJsonLines(connect.out)[0]["connection"].text,
                ::testing::Not(::testing::ContainsRegex("[\r\n]")));
    const ProgramRun send = Run({"--json", "send", "TPX", "BOGUS"});
    EXPECT_EQ(send.exitCode, 1);
    ExpectDocumented("send", send);
    EXPECT_THAT(send.err, HasSubstr("BOGUS rejected: 1 Unrecognized command"));

    const ProgramRun exit = Run({"--json", "run", "exit"});
    EXPECT_EQ(exit.exitCode, 0);
    ExpectDocumented("run", exit);
    std::vector<std::string> commands;
    for (const JsonValue& line : ParseJsonLines(exit.out)) {
        commands.push_back(line["command"].text);
        EXPECT_TRUE(line["ok"].flag);
        EXPECT_TRUE(line.Has("reply") && line.Has("reason"));
    }
    EXPECT_THAT(commands, ElementsAre("AB1", "CB1", "CB2", "CB3", "CB4", "MO"));

    machine_->AddFault(sim::ParseFault("reject:CB3"));
    const std::vector<JsonValue> disable = ParseJsonLines(Run({"--json", "run", "disable"}).out);
    const auto rejected = std::find_if(disable.begin(), disable.end(),
                                       [](const JsonValue& line) { return !line["ok"].flag; });
    ASSERT_NE(rejected, disable.end());
    EXPECT_EQ((*rejected)["command"].text, "CB3");
    EXPECT_FALSE((*rejected)["reason"].text.empty());

    ASSERT_EQ(Run({"run", "prepare"}).exitCode, 0);
    const ProgramRun jog = Run({"--json", "jog", "x", "-500", "0.05"});
    EXPECT_EQ(jog.exitCode, 0);
    ExpectDocumented("jog", jog);
    const std::vector<JsonValue> jogLines = ParseJsonLines(jog.out);
    ASSERT_EQ(jogLines.size(), 6U) << jog.out;
    EXPECT_EQ(jogLines[3]["command"].text, "AB1");

    machine_->SetStoredProgram("#A\r\nEN\r\n");
    const ProgramRun dumped = Run({"--json", "dump", "p.txt"});
    ExpectDocumented("dump", dumped);
    const std::vector<JsonValue> dump = ParseJsonLines(dumped.out);
    ASSERT_EQ(dump.size(), 1U);
    EXPECT_EQ(dump[0]["file"].text, "p.txt");
    EXPECT_EQ(dump[0]["bytes"].number, 8.0);
    fs::create_directory(folder_ / "taken");
    const std::vector<JsonValue> unwritable = ParseJsonLines(Run({"--json", "dump", "taken"}).out);
    ASSERT_EQ(unwritable.size(), 1U);
    EXPECT_THAT(unwritable[0]["error"]["message"].text, HasSubstr("'taken': it is a folder"));
}

// A slow controller fails with the default and works with a longer --timeout.
TEST_F(CliVerbsTest, TimeoutAllowsASlowerController) {
    machine_->AddFault(sim::ParseFault("delay:300"));
    const ProgramRun hurried = Run({"--timeout", "100", "send", "TPX"});
    EXPECT_EQ(hurried.exitCode, 2);
    EXPECT_THAT(hurried.err, HasSubstr("within 100 ms: is the port right, and is it a controller "
                                       "of this kind? --timeout MS allows a slower one\n"));
    const ProgramRun patient = Run({"send", "TPX", "--timeout", "2000"});
    EXPECT_EQ(patient.exitCode, 0) << patient.err;
    EXPECT_EQ(patient.out, "0\n");
}

TEST_F(CliVerbsTest, DumpWritesTheProgramOrSaysWhyItDidNot) {
    machine_->SetStoredProgram("#A\r\nEN\r\n");
    EXPECT_EQ(Run({"dump"}).exitCode, 0);
    EXPECT_EQ(ReadFile(folder_ / "logProgram.txt"), "#A\r\nEN\r\n");
    EXPECT_EQ(Run({"dump", "other.txt"}).exitCode, 0);
    EXPECT_EQ(ReadFile(folder_ / "other.txt"), "#A\r\nEN\r\n");

    fs::create_directory(folder_ / "taken");
    const ProgramRun unwritable = Run({"dump", "taken"});
    EXPECT_EQ(unwritable.exitCode, 1);
    EXPECT_THAT(unwritable.err, HasSubstr("'taken'"));

    machine_->AddFault(sim::ParseFault("reject:UL"));
    machine_->SetStoredProgram("#B\r\nEN\r\n");
    const ProgramRun failedUpload = Run({"dump"});
    EXPECT_EQ(failedUpload.exitCode, 1);
    EXPECT_THAT(failedUpload.err, HasSubstr("upload"));
    EXPECT_EQ(ReadFile(folder_ / "logProgram.txt"), "#A\r\nEN\r\n");
}

// Behind a relay that repeats every "TE" reply, no stray is ever printed as an answer: the
// command it follows fails with the reason, and the next goes out on a fresh session.
TEST_F(CliVerbsTest, SendNeverPrintsAStrayReplyAsTheAnswer) {
    const auto direct = MakeTcpSessionFactory(server_->Port())("127.0.0.1");
    const std::string expected = direct->command("MG 111") + "\n\n" + direct->command("MG 222") +
                                 "\n\n" + direct->command("MG 333") + "\n";
    StrayRelay relay(server_->Port(), CopyAfter("TE"));
    const ProgramRun run =
        RunProgram(TREVANE_CLI_PATH,
                   {"--address", "127.0.0.1", "--port", std::to_string(relay.Port()), "send",
                    "MG 111", "TEX", "MG 222", "TEX", "MG 333"},
                   folder_);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, expected);
    EXPECT_THAT(run.err, HasSubstr("out of step: "));
    EXPECT_THAT(run.err, HasSubstr(" followed the reply to 'TEX'"));
}

}  // namespace
}  // namespace trevane::testing
