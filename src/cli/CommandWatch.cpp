// The outcome of each text command, for --json: SendCommand keeps its failures to itself, so the
// session is wrapped to see them.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "cli/Cli.h"
#include "cli/Verbs.h"
#include "net/Protocol.h"

namespace trevane::cli {
namespace {

std::mutex g_watcherMutex;
std::function<void(const CommandOutcome&)> g_watcher;
std::atomic<bool> g_sawTimeout{false};
// While Connect runs, its failures make one line of their own; the rest wait for its outcome.
bool g_holdReports = false;  // guarded by g_watcherMutex
std::vector<std::string> g_heldReports;

void NoteTimeout(const MotionError& error) {
    if (error.TimedOut()) {
        g_sawTimeout = true;
    }
}

// The window shows only "a command error occurred"; a script's operator needs the reason.
void ReportRejection(const std::string& command, const MotionError& error) {
    const std::string name = net::Printable(command);
    const std::string text =
        error.Rejected()
            ? name + " rejected" +
                  (error.ControllerReason().empty() ? "" : ": " + error.ControllerReason())
            : name + " failed: " + error.what() +
                  (error.TimedOut() ? " (--timeout MS allows a slower controller)" : "");
    {
        std::lock_guard lock(g_watcherMutex);
        if (g_holdReports) {
            g_heldReports.push_back(text);
            return;
        }
    }
    ReportError(text);
}

void Tell(const CommandOutcome& outcome) {
    std::function<void(const CommandOutcome&)> watcher;
    {
        std::lock_guard lock(g_watcherMutex);
        watcher = g_watcher;
    }
    if (watcher) {
        watcher(outcome);
    }
}

template <typename Call>
auto Noting(Call call) -> decltype(call()) {
    try {
        return call();
    } catch (const MotionError& error) {
        NoteTimeout(error);
        throw;
    }
}

class WatchedClient final : public MotionClient {
  public:
    explicit WatchedClient(std::shared_ptr<MotionClient> inner) : inner_(std::move(inner)) {}

    std::string command(const std::string& command, const std::string& terminator,
                        const std::string& acknowledgement, bool trim) override {
        try {
            std::string reply = inner_->command(command, terminator, acknowledgement, trim);
            Tell({command, reply, true, {}});
            return reply;
        } catch (const MotionError& error) {
            NoteTimeout(error);
            ReportRejection(command, error);
            // The controller's own reason when it gave one, else what failed on the link.
            const bool haveReason = error.Rejected() && !error.ControllerReason().empty();
            Tell({command, {}, false, haveReason ? error.ControllerReason() : error.what()});
            throw;
        } catch (const std::exception& error) {
            Tell({command, {}, false, error.what()});
            throw;
        }
    }
    std::string connection() override {
        return Noting([&] { return inner_->connection(); });
    }
    std::string programUpload() override {
        return Noting([&] { return inner_->programUpload(); });
    }
    std::vector<char> record(const std::string& query) override {
        return Noting([&] { return inner_->record(query); });
    }

  private:
    std::shared_ptr<MotionClient> inner_;
};

}  // namespace

bool SawTimeout() {
    return g_sawTimeout;
}

void ForgetTimeouts() {
    g_sawTimeout = false;
}

void HoldCommandReports() {
    std::lock_guard lock(g_watcherMutex);
    g_holdReports = true;
    g_heldReports.clear();
}

void ReleaseCommandReports(bool print) {
    std::vector<std::string> held;
    {
        std::lock_guard lock(g_watcherMutex);
        g_holdReports = false;
        held = std::exchange(g_heldReports, {});
    }
    if (!print) {
        return;
    }
    for (const std::string& text : held) {
        ReportError(text);
    }
}

void WatchCommands(std::function<void(const CommandOutcome&)> watcher) {
    std::lock_guard lock(g_watcherMutex);
    g_watcher = std::move(watcher);
}

std::shared_ptr<MotionClient> WatchedSession(std::shared_ptr<MotionClient> session) {
    return std::make_shared<WatchedClient>(std::move(session));
}

}  // namespace trevane::cli
