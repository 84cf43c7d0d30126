#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "common/Clock.h"
#include "sim/Simulator.h"

// trevane-cli's autotest verb run as a program, against the simulated controller on loopback.
namespace trevane {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class CliAutotest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("trevane-cli-autotest-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    // Runs trevane-cli in the scratch folder; `prefix` goes before it (for example a timeout).
    CliRun Run(const std::string& arguments, const std::string& prefix = "") {
        const std::string out = (dir_ / "out.txt").string();
        const std::string err = (dir_ / "err.txt").string();
        const std::string command = "cd " + Quoted(dir_.string()) + " && " + prefix +
                                    Quoted(TREVANE_CLI_PATH) + " " + arguments + " </dev/null >" +
                                    Quoted(out) + " 2>" + Quoted(err);
        CliRun run;
        const int status = std::system(command.c_str());
#ifndef _WIN32
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#else
        run.exitCode = status;
#endif
        run.out = ReadFile(out);
        run.err = ReadFile(err);
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

    std::filesystem::path dir_;
};

TEST_F(CliAutotest, RefusesArgumentsItDoesNotKnow) {
    const CliRun run = Run("--address 127.0.0.1 autotest --report --fast");
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
    const CliRun run = Run("--address 127.0.0.1 --port " + std::to_string(port) + " autotest");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_THAT(run.err, HasSubstr("Connection Failed"));
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(LogFiles().empty());
}

#ifndef _WIN32
TEST_F(CliAutotest, CtrlCAbortsTheTestAsTheButtonDoes) {
    auto machine = std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    sim::Server server(machine, "127.0.0.1", 0);
    // SIGINT 1.5 s in: inside the checks' 2 s wait, or earlier on a slow machine.
    const CliRun run =
        Run("--address 127.0.0.1 --port " + std::to_string(server.Port()) + " autotest",
            "timeout --preserve-status -s INT 1.5 ");
    EXPECT_EQ(run.exitCode, 130) << run.err;
    EXPECT_THAT(run.out, testing::StartsWith("Starting Test\n"));
    EXPECT_THAT(run.out, EndsWith("\nTest Aborted by User\n"));
    const auto logs = LogFiles();
    ASSERT_EQ(logs.size(), 1u);
    const std::string log = ReadFile(logs[0]);
    EXPECT_THAT(log, EndsWith("  Test Aborted by User\r\n"));
    EXPECT_THAT(log, testing::Not(HasSubstr("Exit Motion")));
    // The name as the window makes it, without its trailing blank.
    EXPECT_EQ(logs[0].filename().string().size(), 29u);
    EXPECT_THAT(run.err, HasSubstr(logs[0].filename().string()));
}

TEST_F(CliAutotest, ReportIsWrittenBesideTheLogAlsoAfterCtrlC) {
    auto machine = std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    sim::Server server(machine, "127.0.0.1", 0);
    const CliRun run =
        Run("--address 127.0.0.1 --port " + std::to_string(server.Port()) + " autotest --report",
            "timeout --preserve-status -s INT 1.5 ");
    EXPECT_EQ(run.exitCode, 130) << run.err;
    const auto logs = LogFiles();
    ASSERT_EQ(logs.size(), 1u);
    const std::string log = ReadFile(logs[0]);
    EXPECT_THAT(log, EndsWith("  Test Aborted by User\r\n"));

    std::string base = logs[0].filename().string();
    base.resize(base.size() - 4);  // ".txt"
    EXPECT_THAT(run.err, HasSubstr("report '" + base + ".html', samples '" + base + ".csv'"));
    const std::string html = ReadFile(dir_ / (base + ".html"));
    EXPECT_THAT(html, HasSubstr("<tr><th>Outcome</th><td>aborted by user</td></tr>"));
    EXPECT_THAT(html, HasSubstr(sim::kIdentityLine));
    EXPECT_EQ(ReadFile(dir_ / (base + ".csv")), "move,axis,target,cycle,time_ms,torque,error\r\n");
}
#endif

}  // namespace
}  // namespace trevane
