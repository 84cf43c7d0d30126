#include <signal.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/Clock.h"
#include "sim/Simulator.h"
#include "support/ChildProcess.h"

// trevane-cli's autotest verb run as a program, against the simulated controller on loopback.
namespace trevane {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;

using testing::ChildProcess;
using testing::ProgramRun;

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

    std::filesystem::path dir_;
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

TEST_F(CliAutotest, CtrlCAbortsTheTestAsTheButtonDoes) {
    auto machine = std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    sim::Server server(machine, "127.0.0.1", 0);
    // SIGINT 1.5 s in: inside the checks' 2 s wait, or earlier on a slow machine.
    const ProgramRun run =
        Run("--address 127.0.0.1 --port " + std::to_string(server.Port()) + " autotest",
            std::chrono::milliseconds(1500));
    EXPECT_EQ(run.exitCode, 130) << run.err;
    EXPECT_THAT(run.out, ::testing::StartsWith("Starting Test\n"));
    EXPECT_THAT(run.out, EndsWith("\nTest Aborted by User\n"));
    const auto logs = LogFiles();
    ASSERT_EQ(logs.size(), 1u);
    const std::string log = ReadFile(logs[0]);
    EXPECT_THAT(log, EndsWith("  Test Aborted by User\r\n"));
    EXPECT_THAT(log, ::testing::Not(HasSubstr("Exit Motion")));
    // The name as the window makes it, without its trailing blank.
    EXPECT_EQ(logs[0].filename().string().size(), 29u);
    EXPECT_THAT(run.err, HasSubstr(logs[0].filename().string()));
}

TEST_F(CliAutotest, ReportIsWrittenBesideTheLogAlsoAfterCtrlC) {
    auto machine = std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    sim::Server server(machine, "127.0.0.1", 0);
    const ProgramRun run =
        Run("--address 127.0.0.1 --port " + std::to_string(server.Port()) + " autotest --report",
            std::chrono::milliseconds(1500));
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

TEST_F(CliAutotest, ALogThatCannotBeWrittenFailsTheRunAndIsNotNamed) {
    // Folders stand where the log would go, under every name the next two minutes can give it;
    // they cannot be opened as files, not even by root.
    const std::time_t now = std::time(nullptr);
    std::vector<std::string> names;
    for (std::time_t t = now - 2; t <= now + 120; ++t) {
        std::tm local{};
        ::localtime_r(&t, &local);
        char name[64];
        std::strftime(name, sizeof name, "logFile.txt %m%d%y-%H%M%S.txt", &local);
        std::filesystem::create_directory(dir_ / name);
        names.push_back(name);
    }
    auto machine = std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    sim::Server server(machine, "127.0.0.1", 0);
    // The whole test, so nothing but the lost entries can fail the run.
    const ProgramRun run =
        Run("--address 127.0.0.1 --port " + std::to_string(server.Port()) + " autotest");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_THAT(run.out, ::testing::StartsWith("Starting Test\n"));
    EXPECT_THAT(run.out, EndsWith("\nDisable Machine\n"));
    EXPECT_THAT(run.err, HasSubstr("log file could not be written: opening it failed: "));
    for (const std::string& name : names) {
        ASSERT_THAT(run.err, ::testing::Not(HasSubstr(name)));
        EXPECT_TRUE(std::filesystem::is_empty(dir_ / name));
    }
    for (int axis = 0; axis < 4; ++axis) {
        EXPECT_FALSE(machine->ReadAxis(axis).moving) << "axis " << axis;
    }
}

}  // namespace
}  // namespace trevane
