#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Verbs.h"
#include "protocol/MotionClient.h"

namespace trevane {
class Controller;
struct TappedExchange;
}  // namespace trevane

namespace trevane::cli {

class HeadlessWindow;
class RunControl;
class VerbContext;

// How a run reaches the controller at `port`: the factory of its sessions, whose replies time
// out after `timeoutMs` (uploads after ten times it).
using SessionOpener = std::function<SessionFactory(std::uint16_t port, int timeoutMs)>;

// One kind of failed command: its line on the error stream and how often it came.
struct CommandFailureKind {
    std::string text;
    long long times = 0;
};

// What trevane-cli makes of the exchanges of one controller's sessions: the reasons of failed
// commands, the timeouts, and the commands told to a watcher (the --json lines of `send`).
class CommandWatch {
  public:
    void See(VerbContext& context, const TappedExchange& exchange);

    // Each kind of failure is printed as it first comes; the kinds, in that order, with counts.
    std::vector<CommandFailureKind> Failures() const;

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
    void ReportOnce(VerbContext& context, const std::string& text);

    mutable std::mutex mutex_;
    std::function<void(const CommandOutcome&)> watcher_;
    std::atomic<bool> sawTimeout_{false};
    // While Connect runs, its failures make one line of their own; the rest wait for its outcome.
    bool hold_ = false;
    std::vector<std::string> held_;
    std::vector<CommandFailureKind> failures_;
};

// Everything a verb talks through: one controller, its headless operator, the streams it
// prints on, and how it learns that it must stop. A run of the command line has one over its
// own streams and controller; a fleet has one per member over that member's files.
class VerbContext {
  public:
    // `standardStreams`: `out` and `err` are the run's own (escaped where they are terminals, a
    // failed write counts as a broken output of the run). Otherwise they are files, written
    // unchanged. An interrupt of the run (`control`) stops the verb either way.
    VerbContext(Controller& controller, std::shared_ptr<HeadlessWindow> window, std::ostream& out,
                std::ostream& err, std::shared_ptr<RunControl> control, bool standardStreams);
    VerbContext(const VerbContext&) = delete;
    VerbContext& operator=(const VerbContext&) = delete;

    Controller& controller;
    std::shared_ptr<HeadlessWindow> window;
    std::ostream& out;
    std::ostream& err;
    CommandWatch watch;
    // File names inside it are shown relative to it ("" shows them as they are).
    std::string folder;
    // Which of the run's own streams are terminals: text from a controller reaches them escaped.
    bool outIsTerminal = false;
    bool errIsTerminal = false;
    // TREVANE_HISTORY as the run found it.
    std::optional<std::string> historyVariable;
    // How the verbs that open sessions of their own (a fleet's members) reach a controller.
    SessionOpener openSessions;

    RunControl& Control() const { return *control_; }
    const std::shared_ptr<RunControl>& SharedControl() const { return control_; }

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
    std::shared_ptr<RunControl> control_;
    bool standardStreams_;
    std::stop_source stop_;
    std::atomic<bool> outputBroken_{false};
    mutable std::mutex errorMutex_;
    std::string lastError_;
};

// Prints "trevane-cli: <message>" on the context's error stream and keeps it as the failure
// that ends the JSON output.
void ReportError(VerbContext& context, const std::string& message);
int UsageError(VerbContext& context, const std::string& message);

// Connects as the Connect button does; false after one line on the error stream saying why.
bool ConnectLikeTheWindow(VerbContext& context, const Invocation& invocation);
// The context's watch hears of every exchange of its controller's sessions from now on.
void WatchTheSessions(VerbContext& context);
// At the verb's end: one line for each kind of failure that came more than once, with its count.
void ReportRepeatedFailures(VerbContext& context);
// With `print`, each command's outcome as one {"time", "command", "reply", "ok", "reason"} line.
void PrintCommandsAsJson(VerbContext& context, bool print);

}  // namespace trevane::cli
