#pragma once

#include <optional>
#include <string>
#include <vector>

// Programs started by trevane-cli (a fleet's children), each in its own folder and process
// group, so that a terminal's Ctrl-C reaches the parent alone and the parent passes it on once.
// The one place of process and signal calls; POSIX only for now.
namespace trevane::cli {

// False where children cannot be started (Windows).
bool ChildProcessesAvailable();
// This program's own executable, to start copies of it.
std::string OwnProgramPath();

// A child starts with SIGINT, SIGTERM and SIGHUP held back, so that one sent before it has its
// handlers waits for them instead of being lost or ending it; it takes them with this call, once
// its handlers are in place. Harmless in a program that was not started so.
void TakeHeldInterrupts();

struct ChildSpec {
    std::string program;
    std::vector<std::string> arguments;    // without the program's name
    std::string folder;                    // the child's working directory
    int outputFd = -1;                     // standard output, a file the caller opened
    int errorFd = -1;                      // standard error, likewise
    std::vector<std::string> environment;  // "NAME=VALUE" added to this process's own
};

class Child {
  public:
    // Starts the child; throws std::runtime_error naming the program and the folder when it
    // cannot. Standard input is /dev/null. It gets SIGTERM if this process dies first.
    explicit Child(const ChildSpec& spec);
    // Kills a child still running and reaps it: none is ever left behind.
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The exit status once it has ended (128 + N when signal N ended it), without waiting.
    std::optional<int> Poll();
    // Sends SIGINT, SIGTERM or SIGHUP (given as the number of this platform).
    void Signal(int signal);
    // Holds it where it is (SIGSTOP), so that it sends nothing more until killed.
    void Freeze();
    void Kill();

  private:
    long pid_ = -1;
    std::optional<int> status_;
};

}  // namespace trevane::cli
