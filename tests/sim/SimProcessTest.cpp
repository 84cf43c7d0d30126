#include <gtest/gtest.h>

#ifndef _WIN32
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "net/TcpMotionClient.h"
#include "sim/RawConnection.h"

extern char** environ;

// trevane-sim as a process: start-up line, exit codes, and shutdown on SIGTERM.
namespace trevane::sim::testing {
namespace {

using std::chrono::milliseconds;

// One child process with its standard output and error read through pipes.
class SimProcess {
  public:
    explicit SimProcess(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), TREVANE_SIM_PATH);
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        int out[2];
        int err[2];
        if (pipe(out) != 0 || pipe(err) != 0) {
            throw std::runtime_error("pipe failed");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        const int result = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
        if (result != 0) {
            throw std::runtime_error(std::string("cannot start ") + TREVANE_SIM_PATH);
        }
    }

    ~SimProcess() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
        close(err_);
    }

    // Standard output up to the first line end (or all of it once the child closed it).
    std::string ReadOutputLine(milliseconds timeout = milliseconds(10000)) {
        return ReadFrom(out_, timeout, true);
    }
    std::string ReadAllOutput(milliseconds timeout = milliseconds(10000)) {
        return ReadFrom(out_, timeout, false);
    }
    std::string ReadAllErrors(milliseconds timeout = milliseconds(10000)) {
        return ReadFrom(err_, timeout, false);
    }

    void Signal(int signal) { kill(pid_, signal); }

    // The exit code, or -1 when the child did not exit normally within the timeout.
    int WaitForExit(milliseconds timeout = milliseconds(10000)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(milliseconds(10));
        }
        return -1;
    }

  private:
    static std::string ReadFrom(int fd, milliseconds timeout, bool oneLine) {
        std::string text;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!(oneLine && text.find('\n') != std::string::npos)) {
            const auto left = std::chrono::duration_cast<milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd entry{fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
                break;
            }
            char buffer[4096];
            const ssize_t count = read(fd, buffer, sizeof buffer);
            if (count <= 0) {
                break;
            }
            text.append(buffer, static_cast<std::size_t>(count));
        }
        return text;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    bool exited_ = false;
};

std::uint16_t PortOf(const std::string& line) {
    const auto colon = line.rfind(':');
    return static_cast<std::uint16_t>(std::stoi(line.substr(colon + 1)));
}

TEST(SimProcessTest, ServesUntilSigtermThenExitsCleanlyWithSessionsOpen) {
    SimProcess sim({"--port", "0", "--fault", "cn:1"});
    const std::string line = sim.ReadOutputLine();
    ASSERT_EQ(line.rfind("listening on 127.0.0.1:", 0), 0u) << line;
    const std::uint16_t port = PortOf(line);
    TcpMotionClient session("127.0.0.1", port);
    EXPECT_EQ(session.command("MG _LFX", "\r", ":", true), "0.0000");  // the fault applies
    RawConnection midRequest(port);
    ASSERT_TRUE(midRequest.Write("MG _C"));
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.WaitForExit(), 0);
    EXPECT_TRUE(midRequest.ClosedByPeer());
}

TEST(SimProcessTest, SigintStopsItToo) {
    SimProcess sim({"--port", "0"});
    ASSERT_EQ(sim.ReadOutputLine().rfind("listening on ", 0), 0u);
    sim.Signal(SIGINT);
    EXPECT_EQ(sim.WaitForExit(), 0);
}

TEST(SimProcessTest, UnknownFaultIsNamedOnOneLineWithExitCode2) {
    SimProcess sim({"--port", "0", "--fault", "wobble:X"});
    EXPECT_EQ(sim.WaitForExit(), 2);
    const std::string errors = sim.ReadAllErrors();
    EXPECT_NE(errors.find("'wobble:X'"), std::string::npos) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    EXPECT_EQ(sim.ReadAllOutput(), "");
}

TEST(SimProcessTest, BadOptionsExitWithCode2) {
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"--port", "70000"}, {"--port"}, {"--frobnicate"}}) {
        SimProcess sim(arguments);
        EXPECT_EQ(sim.WaitForExit(), 2) << arguments.front();
    }
}

TEST(SimProcessTest, HelpListsOptionsFaultsStopCodesAndStatusBits) {
    SimProcess sim({"--help"});
    EXPECT_EQ(sim.WaitForExit(), 0);
    const std::string help = sim.ReadAllOutput();
    for (const char* text : {"--bind", "--port", "--fault", "stall:AXIS", "torque:AXIS",
                             "limit:AXIS:forward", "cn:1", "delay:MS", "drop:N", "reject:COMMAND",
                             "short-record", "silent", "Stop codes", "Status word bits", "5023"}) {
        EXPECT_NE(help.find(text), std::string::npos) << text;
    }
}

}  // namespace
}  // namespace trevane::sim::testing
#endif
