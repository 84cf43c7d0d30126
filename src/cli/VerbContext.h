#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Verbs.h"

namespace trevane {
class Controller;
struct TappedExchange;
}  // namespace trevane

namespace trevane::cli {

class HeadlessWindow;
class VerbContext;

// What trevane-cli makes of the exchanges of one controller's sessions: the reasons of failed
// commands, the timeouts, and the commands told to a watcher (the --json lines of `send`).
class CommandWatch {
  public:
    void See(VerbContext& context, const TappedExchange& exchange);

    // Whether an exchange ran out of time since ForgetTimeouts.
    bool SawTimeout() const { return sawTimeout_.load(); }
    void ForgetTimeouts() { sawTimeout_ = false; }
    // From Hold on, the failure lines are kept; Release prints them, or drops them when the
    // caller reports the failure in a line of its own.
    void Hold();
    void Release(VerbContext& context, bool print);
    void SetWatcher(std::function<void(const CommandOutcome&)> watcher);

  private:
    void ReportFailed(VerbContext& context, const TappedExchange& exchange);

    std::mutex mutex_;
    std::function<void(const CommandOutcome&)> watcher_;
    std::atomic<bool> sawTimeout_{false};
    // While Connect runs, its failures make one line of their own; the rest wait for its outcome.
    bool hold_ = false;
    std::vector<std::string> held_;
};

// Everything a verb talks through: one controller, its headless operator, the streams it
// prints on, and how it learns that it must stop. The program's own run has one over std::cout,
// std::cerr and TheController(); a fleet has one per member over that member's files.
class VerbContext {
  public:
    // `standardStreams`: `out` and `err` are the program's own (escaped on a terminal, a failed
    // write counts as a broken output of the program). Otherwise they are files, written
    // unchanged. An interrupt of the program stops the verb either way.
    VerbContext(Controller& controller, std::shared_ptr<HeadlessWindow> window, std::ostream& out,
                std::ostream& err, bool standardStreams);
    VerbContext(const VerbContext&) = delete;
    VerbContext& operator=(const VerbContext&) = delete;

    Controller& controller;
    std::shared_ptr<HeadlessWindow> window;
    std::ostream& out;
    std::ostream& err;
    CommandWatch watch;
    // File names inside it are shown relative to it ("" shows them as they are).
    std::string folder;

    // Requested on an interrupt of the program (or RequestStop), for as long as the verb runs.
    std::stop_token StopToken() const;
    void RequestStop() { stop_.request_stop(); }
    // Whether the verb must stop: an interrupt came, or RequestStop was called.
    bool Interrupted() const;
    // The exit status of a verb that stopped so.
    int InterruptExitCode() const;
    // A write to `out` failed: the verb stops as on Ctrl-C.
    void OutputBroken();

    // Text as it may reach `out` or `err` (escaped only on a terminal).
    std::string ForOut(std::string_view text) const;
    std::string ForErr(std::string_view text) const;
    // `path` as the verb names it: relative to `folder` when it lies there.
    std::string Shown(const std::string& path) const;

    void SetLastError(const std::string& message);
    std::string LastError() const;

  private:
    bool standardStreams_;
    std::stop_source stop_;
    std::atomic<bool> outputBroken_{false};
    mutable std::mutex errorMutex_;
    std::string lastError_;
};

// The program's own context, over std::cout, std::cerr and TheController().
VerbContext& ProgramContext();

// Prints "trevane-cli: <message>" on the context's error stream and keeps it as the failure
// that ends the JSON output.
void ReportError(VerbContext& context, const std::string& message);
int UsageError(VerbContext& context, const std::string& message);

// Connects as the Connect button does; false after one line on the error stream saying why.
bool ConnectLikeTheWindow(VerbContext& context, const Invocation& invocation);
// The context's watch hears of every exchange of its controller's sessions from now on.
void WatchTheSessions(VerbContext& context);
// With `print`, each command's outcome as one {"time", "command", "reply", "ok", "reason"} line.
void PrintCommandsAsJson(VerbContext& context, bool print);

}  // namespace trevane::cli
