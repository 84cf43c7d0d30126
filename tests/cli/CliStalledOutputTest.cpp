#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/Clock.h"
#include "sim/Simulator.h"
#include "support/ChildProcess.h"
#include "support/ScratchFolder.h"
#include "support/StalledFifo.h"

extern char** environ;

// trevane-cli against the simulated controller while one of its outputs (a trace, standard
// output) is read by nobody: every stop still reaches the controller, and the axis stands.
namespace trevane::testing {
namespace {

using ::testing::HasSubstr;
using namespace std::chrono_literals;

constexpr int kX = 0;

class CliStalledOutputTest : public ::testing::Test {
  protected:
    std::vector<std::string> At(std::vector<std::string> args) const {
        const std::vector<std::string> address = {"--address", "127.0.0.1", "--port",
                                                  std::to_string(server_.Port())};
        args.insert(args.begin(), address.begin(), address.end());
        return args;
    }

    // True once the machine received `command`, within a bound.
    bool Received(const std::string& command) {
        for (int poll = 0; poll < 2000; ++poll) {
            const std::vector<std::string> lines = machine_->ReceivedCommands();
            if (std::find(lines.begin(), lines.end(), command) != lines.end()) {
                return true;
            }
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }

    // True once X is under way, within a bound.
    bool XMoves() {
        for (int poll = 0; poll < 2000 && !machine_->ReadAxis(kX).moving; ++poll) {
            std::this_thread::sleep_for(5ms);
        }
        return machine_->ReadAxis(kX).moving;
    }

    // What the operator expects of a stop: X stands within a second of it.
    bool XStandsWithinASecond() {
        for (int poll = 0; poll < 100 && machine_->ReadAxis(kX).moving; ++poll) {
            std::this_thread::sleep_for(10ms);
        }
        return !machine_->ReadAxis(kX).moving;
    }

    void Prepare() {
        ASSERT_EQ(RunProgram(TREVANE_CLI_PATH, At({"run", "enable"}), folder_).exitCode, 0);
        ASSERT_EQ(RunProgram(TREVANE_CLI_PATH, At({"run", "prepare"}), folder_).exitCode, 0);
        machine_->ClearReceived();
    }

    std::shared_ptr<sim::Machine> machine_ =
        std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    sim::Server server_{machine_, "127.0.0.1", 0};
    ScratchFolder scratch_{"trevane-cli-stalled"};
    const std::filesystem::path& folder_ = scratch_.Path();
};

// The attack: a trace into a FIFO whose reader never reads, a jog, and Ctrl-C. The jog's stop
// goes out at once and the lines the trace could not take are reported at the end.
TEST_F(CliStalledOutputTest, CtrlCStopsAJogWhileTheTraceReaderIsStalled) {
    Prepare();
    // Room for the header and the lines up to "JG", so the pipe is full from "BG" on.
    constexpr std::size_t kRoomBeforeBg = 355;
    StalledFifo fifo(folder_ / "trace.fifo", StalledFifo::Start::Full, kRoomBeforeBg);
    ASSERT_TRUE(fifo.Ready());
    ChildProcess jog(TREVANE_CLI_PATH, At({"--trace", fifo.Path(), "jog", "X", "5000", "60"}),
                     folder_);
    ASSERT_TRUE(Received("BG")) << jog.Errors();
    ASSERT_TRUE(XMoves());
    jog.Signal(SIGINT);
    EXPECT_TRUE(XStandsWithinASecond()) << "the stop waited for the trace";
    EXPECT_EQ(jog.WaitForExit(30s), 130) << jog.Errors();
    EXPECT_THAT(jog.Errors(), HasSubstr("exchange line(s) not written"));
    EXPECT_EQ(machine_->ReceivedCommands().back(), "SP*=10000") << "the whole stop sequence";
}

// The same for the automatic test: "Test Aborted by User", then "AB1", and the program ends.
TEST_F(CliStalledOutputTest, CtrlCAbortsATestWhileTheTraceReaderIsStalled) {
    StalledFifo fifo(folder_ / "trace.fifo", StalledFifo::Start::ReadsAtFirst);
    ASSERT_TRUE(fifo.Ready());
    ChildProcess test(TREVANE_CLI_PATH, At({"--trace", fifo.Path(), "autotest"}), folder_);
    ASSERT_TRUE(XMoves()) << test.Errors();
    // The reader stops in the middle of the move; the move's own readings fill the pipe.
    ASSERT_TRUE(fifo.Stall());
    std::this_thread::sleep_for(100ms);
    test.Signal(SIGINT);
    EXPECT_TRUE(XStandsWithinASecond()) << "the abort waited for the trace";
    EXPECT_EQ(test.WaitForExit(60s), 130) << test.Errors();
    EXPECT_THAT(test.Output(), HasSubstr("\nTest Aborted by User\n"));
    EXPECT_EQ(machine_->ReceivedCommands().back(), "AB1");
    EXPECT_THAT(test.Errors(), HasSubstr("exchange line(s) not written"));
}

// The trace's reader dies while the writer is stuck in the pipe: the write fails (EPIPE), the
// program is not killed by SIGPIPE, the jog runs its time and stops, and the loss fails the run.
TEST_F(CliStalledOutputTest, ATraceReaderThatDiesCostsLinesNotTheProgram) {
    Prepare();
    StalledFifo fifo(folder_ / "trace.fifo");
    ASSERT_TRUE(fifo.Ready());
    ChildProcess jog(TREVANE_CLI_PATH, At({"--trace", fifo.Path(), "jog", "X", "5000", "2"}),
                     folder_);
    ASSERT_TRUE(Received("BG")) << jog.Errors();
    fifo.ReaderGoes();
    EXPECT_EQ(jog.WaitForExit(30s), 1) << "ended by a signal? " << jog.Errors();
    EXPECT_THAT(jog.Errors(), HasSubstr("exchange line(s) not written"));
    EXPECT_TRUE(XStandsWithinASecond());
}

// Standard output on a full pipe nobody reads, JSON lines for every command: Ctrl-C still stops
// the jog at once. Once the reader goes, the program ends as interrupted, not by SIGPIPE.
TEST_F(CliStalledOutputTest, CtrlCStopsAJogWhileStandardOutputIsStalled) {
    Prepare();
    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    ASSERT_TRUE(FillPipe(out[1]));
    const std::string errPath = (folder_ / "stderr.txt").string();
    std::vector<std::string> words = At({"--json", "jog", "X", "5000", "60"});
    words.insert(words.begin(), TREVANE_CLI_PATH);
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, TREVANE_CLI_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ASSERT_EQ(spawned, 0);

    const bool moved = Received("BG") && XMoves();
    ::kill(pid, SIGINT);
    const bool stood = XStandsWithinASecond();
    ::close(out[0]);  // the reader goes: what is still queued fails with EPIPE
    int status = 0;
    bool exited = false;
    for (int poll = 0; poll < 3000 && !exited; ++poll) {
        exited = ::waitpid(pid, &status, WNOHANG) == pid;
        if (!exited) {
            std::this_thread::sleep_for(10ms);
        }
    }
    if (!exited) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    ASSERT_TRUE(moved) << ReadFile(errPath);
    EXPECT_TRUE(stood) << "the stop waited for standard output";
    ASSERT_TRUE(exited) << "trevane-cli did not end after its reader went";
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 130) << ReadFile(errPath);
    EXPECT_EQ(machine_->ReceivedCommands().back(), "SP*=10000");
}

}  // namespace
}  // namespace trevane::testing
