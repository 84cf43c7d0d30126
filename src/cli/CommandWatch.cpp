// What trevane-cli makes of each exchange the traffic tap tells: SendCommand keeps its failures
// to itself, so the reasons, the timeouts and the --json lines come from here.
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "cli/VerbContext.h"
#include "controller/Controller.h"
#include "protocol/Protocol.h"
#include "traffic/TrafficTap.h"

namespace trevane::cli {

// The window shows only "a command error occurred"; a script's operator needs the reason.
void CommandWatch::ReportFailed(VerbContext& context, const TappedExchange& exchange) {
    const std::string name = protocol::Printable(exchange.command);
    const std::string text =
        exchange.rejected
            ? name + " rejected" +
                  (exchange.controllerReason.empty() ? "" : ": " + exchange.controllerReason)
            : name + " failed: " + exchange.error +
                  (exchange.timedOut ? " (--timeout MS allows a slower controller)" : "");
    {
        std::lock_guard lock(mutex_);
        if (hold_) {
            held_.push_back(text);
            return;
        }
    }
    ReportError(context, text);
}

void CommandWatch::See(VerbContext& context, const TappedExchange& exchange) {
    if (exchange.timedOut) {
        sawTimeout_ = true;
    }
    if (exchange.call != TappedExchange::Call::Command) {
        return;
    }
    CommandOutcome outcome{exchange.command, exchange.reply, exchange.ok, {}};
    if (!exchange.ok) {
        ReportFailed(context, exchange);
        // The controller's own reason when it gave one, else what failed on the link.
        const bool haveReason = exchange.rejected && !exchange.controllerReason.empty();
        outcome.reason = haveReason ? exchange.controllerReason : exchange.error;
    }
    std::function<void(const CommandOutcome&)> watcher;
    {
        std::lock_guard lock(mutex_);
        watcher = watcher_;
    }
    if (watcher) {
        watcher(outcome);
    }
}

void CommandWatch::Hold() {
    std::lock_guard lock(mutex_);
    hold_ = true;
    held_.clear();
}

void CommandWatch::Release(VerbContext& context, bool print) {
    std::vector<std::string> held;
    {
        std::lock_guard lock(mutex_);
        hold_ = false;
        held = std::exchange(held_, {});
    }
    if (!print) {
        return;
    }
    for (const std::string& text : held) {
        ReportError(context, text);
    }
}

void CommandWatch::SetWatcher(std::function<void(const CommandOutcome&)> watcher) {
    std::lock_guard lock(mutex_);
    watcher_ = std::move(watcher);
}

void WatchTheSessions(VerbContext& context) {
    context.controller.Traffic().WatchExchanges(
        [&context](const TappedExchange& exchange) { context.watch.See(context, exchange); });
}

}  // namespace trevane::cli
