// What trevane-cli makes of each exchange the traffic tap tells: SendCommand keeps its failures
// to itself, so the reasons, the timeouts and the --json lines come from here.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "cli/Cli.h"
#include "cli/Verbs.h"
#include "protocol/Protocol.h"
#include "controller/Controller.h"
#include "traffic/TrafficTap.h"

namespace trevane::cli {
namespace {

std::mutex g_watcherMutex;
std::function<void(const CommandOutcome&)> g_watcher;
std::atomic<bool> g_sawTimeout{false};
// While Connect runs, its failures make one line of their own; the rest wait for its outcome.
bool g_holdReports = false;  // guarded by g_watcherMutex
std::vector<std::string> g_heldReports;

// The window shows only "a command error occurred"; a script's operator needs the reason.
void ReportFailedCommand(const TappedExchange& exchange) {
    const std::string name = protocol::Printable(exchange.command);
    const std::string text =
        exchange.rejected
            ? name + " rejected" +
                  (exchange.controllerReason.empty() ? "" : ": " + exchange.controllerReason)
            : name + " failed: " + exchange.error +
                  (exchange.timedOut ? " (--timeout MS allows a slower controller)" : "");
    {
        std::lock_guard lock(g_watcherMutex);
        if (g_holdReports) {
            g_heldReports.push_back(text);
            return;
        }
    }
    ReportError(text);
}

void See(const TappedExchange& exchange) {
    if (exchange.timedOut) {
        g_sawTimeout = true;
    }
    if (exchange.call != TappedExchange::Call::Command) {
        return;
    }
    CommandOutcome outcome{exchange.command, exchange.reply, exchange.ok, {}};
    if (!exchange.ok) {
        ReportFailedCommand(exchange);
        // The controller's own reason when it gave one, else what failed on the link.
        const bool haveReason = exchange.rejected && !exchange.controllerReason.empty();
        outcome.reason = haveReason ? exchange.controllerReason : exchange.error;
    }
    std::function<void(const CommandOutcome&)> watcher;
    {
        std::lock_guard lock(g_watcherMutex);
        watcher = g_watcher;
    }
    if (watcher) {
        watcher(outcome);
    }
}

}  // namespace

void WatchTheSessions() {
    TheController().Traffic().WatchExchanges(See);
}

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

}  // namespace trevane::cli
