#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace trevane {

// Asks the kernel to wake the calling thread close to its timers' deadlines (Linux timer
// slack of 1 us instead of the default 50 us, a 1 ms timer period on Windows) until the scope
// ends; a no-op elsewhere.
class PreciseTimersScope {
  public:
    PreciseTimersScope();
    ~PreciseTimersScope();
    PreciseTimersScope(const PreciseTimersScope&) = delete;
    PreciseTimersScope& operator=(const PreciseTimersScope&) = delete;

  private:
    long previousSlackNs_ = -1;
};

// True when the process's standard output is a terminal (not a pipe or a file).
bool StandardOutputIsTerminal();
bool StandardErrorIsTerminal();

// A reader that went away fails the write (EPIPE) instead of ending the program: a closed pipe
// is an error of that one output. For the whole process, and for the calling thread whatever
// the process does (for threads that write outputs inside programs that do not ignore it).
void IgnoreBrokenPipeSignal();
void BlockBrokenPipeSignalOnThisThread();

enum class StandardStream { Output, Error };
// Writes every byte of `bytes` to the process's standard output or error, going around any
// buffer; returns why not.
std::optional<std::string> WriteToStandardStream(StandardStream stream, std::string_view bytes);
// While one lives, SIGINT, SIGTERM and SIGHUP no longer end the program but each put a byte on
// a pipe that an event loop watches; the handlers before it come back afterwards. One at a time.
class TerminationSignalPipe {
  public:
    TerminationSignalPipe();
    ~TerminationSignalPipe();
    TerminationSignalPipe(const TerminationSignalPipe&) = delete;
    TerminationSignalPipe& operator=(const TerminationSignalPipe&) = delete;

    // The end to watch for reading; -1 where the platform has no such signals.
    int ReadEnd() const { return readEnd_; }
    // Empties the pipe; how many signals had arrived.
    int Take();

  private:
    int readEnd_ = -1;
    int writeEnd_ = -1;
};

// Whether standard output and error write to one file, pipe or terminal (2>&1, a terminal).
bool StandardStreamsShareAFile();
// Whether `path` is the very file, pipe or terminal that standard output writes to.
bool IsStandardOutput(const std::string& path);

}  // namespace trevane
