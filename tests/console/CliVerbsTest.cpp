#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/Clock.h"
#include "sim/Simulator.h"

// trevane-cli's machine and console verbs as a program, against the simulated controller's TCP
// server on loopback, judged by exit codes, output and what the machine received.
namespace trevane::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

struct CliResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

class CliVerbsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::path(::testing::TempDir()) /
                  ("trevane-cli-verbs-" +
                   std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    // `prefix` runs in front of the program (for example a timeout that sends Ctrl-C).
    CliResult Run(const std::vector<std::string>& args, const std::string& prefix = "") {
        std::string command = "cd " + Quoted(folder_.string()) + " && " + prefix + " " +
                              Quoted(TREVANE_CLI_PATH) + " --address 127.0.0.1 --port " +
                              std::to_string(server_->Port());
        for (const std::string& arg : args) {
            command += " " + Quoted(arg);
        }
        command += " </dev/null >out.txt 2>err.txt";
        const int status = std::system(command.c_str());
        CliResult result;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = ReadBytes(folder_ / "out.txt");
        result.err = ReadBytes(folder_ / "err.txt");
        fs::remove(folder_ / "out.txt");
        fs::remove(folder_ / "err.txt");
        return result;
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
    fs::path folder_;
};

TEST_F(CliVerbsTest, RunExitsWithOneWhenACommandOfTheProcedureFailed) {
    EXPECT_EQ(Run({"run", "exit"}).exitCode, 0);
    EXPECT_THAT(ReceivedAfterConnect(), ElementsAre("AB1", "CB1", "CB2", "CB3", "CB4", "MO"));

    machine_->AddFault(sim::ParseFault("reject:CB3"));
    const CliResult failed = Run({"run", "disable"});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_THAT(failed.err, HasSubstr("1 command(s) failed"));

    EXPECT_EQ(Run({"run", "sideways"}).exitCode, 2);
}

TEST_F(CliVerbsTest, JogStopsTheAxesAfterItsTimeAndWhenInterrupted) {
    ASSERT_EQ(Run({"run", "prepare"}).exitCode, 0);
    machine_->ClearReceived();
    EXPECT_EQ(Run({"jog", "xz", "-500", "0.05"}).exitCode, 0);
    EXPECT_THAT(ReceivedAfterConnect(),
                ElementsAre("PT0,0,0,0", "JG-500,0,-500,0", "BG", "AB1", "PT1,1,1,1", "SP*=10000"));

    machine_->ClearReceived();
    const CliResult interrupted =
        Run({"jog", "Y", "700", "60"}, "timeout --preserve-status -s INT 0.5");
    EXPECT_EQ(interrupted.exitCode, 130) << interrupted.err;
    const std::vector<std::string> received = ReceivedAfterConnect();
    ASSERT_GE(received.size(), 3U);
    EXPECT_THAT(std::vector(received.end() - 3, received.end()),
                ElementsAre("AB1", "PT1,1,1,1", "SP*=10000"));
    EXPECT_FALSE(machine_->ReadAxis(1).moving);

    EXPECT_EQ(Run({"jog", "XV", "5", "1"}).exitCode, 2);
    EXPECT_EQ(Run({"jog", "X", "5", "-1"}).exitCode, 2);
}

TEST_F(CliVerbsTest, RecordPrintsTheThirteenRowsAligned) {
    const CliResult result = Run({"record"});
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
    const CliResult shortRecord = Run({"record"});
    EXPECT_EQ(shortRecord.exitCode, 1);
    EXPECT_THAT(shortRecord.err, HasSubstr("152"));
}

TEST_F(CliVerbsTest, DumpWritesTheProgramOrSaysWhyItDidNot) {
    machine_->SetStoredProgram("#A\r\nEN\r\n");
    EXPECT_EQ(Run({"dump"}).exitCode, 0);
    EXPECT_EQ(ReadBytes(folder_ / "logProgram.txt"), "#A\r\nEN\r\n");
    EXPECT_EQ(Run({"dump", "other.txt"}).exitCode, 0);
    EXPECT_EQ(ReadBytes(folder_ / "other.txt"), "#A\r\nEN\r\n");

    fs::create_directory(folder_ / "taken");
    const CliResult unwritable = Run({"dump", "taken"});
    EXPECT_EQ(unwritable.exitCode, 1);
    EXPECT_THAT(unwritable.err, HasSubstr("'taken'"));

    machine_->AddFault(sim::ParseFault("reject:UL"));
    machine_->SetStoredProgram("#B\r\nEN\r\n");
    const CliResult failedUpload = Run({"dump"});
    EXPECT_EQ(failedUpload.exitCode, 1);
    EXPECT_THAT(failedUpload.err, HasSubstr("upload"));
    EXPECT_EQ(ReadBytes(folder_ / "logProgram.txt"), "#A\r\nEN\r\n");
}

}  // namespace
}  // namespace trevane::testing
