#pragma once

// A program of ours run as a child process with its output caught, for the tests that judge the
// built programs by exit codes, output and how they take signals. POSIX only.
#ifndef _WIN32

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace trevane::testing {

// What a finished program left: its exit code (-1 when a signal ended it or it had to be
// killed) and everything it wrote.
struct ProgramRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class ChildProcess {
  public:
    // Starts `program` with `arguments` in `workingFolder` (the test's own when empty), standard
    // input from /dev/null. Throws naming the program when it cannot be started.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::filesystem::path& workingFolder = {});
    // Kills a child that is still running, so a failed test leaves nothing behind.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void Signal(int signal);

    // True once standard output holds `text`; false when it did not within `timeout` or the
    // child closed its output first.
    bool WaitForOutput(std::string_view text, std::chrono::milliseconds timeout);
    std::string Output() const;
    std::string Errors() const;

    // The exit code, or -1 when a signal ended the child or it had not ended within `timeout`.
    int WaitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(60));
    bool Exited() const { return reaped_; }

  private:
    void ReadOutputs(int outFd, int errFd);

    pid_t pid_ = -1;
    bool reaped_ = false;
    int exitCode_ = -1;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string out_;
    std::string err_;
    bool outputsClosed_ = false;
    std::jthread reader_;
};

// Runs `program` to its end (killed after `timeout`) and returns what it left.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::filesystem::path& workingFolder = {},
                      std::chrono::milliseconds timeout = std::chrono::seconds(120));

}  // namespace trevane::testing

#endif
