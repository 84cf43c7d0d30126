// What trevane-cli makes of each exchange the traffic tap tells: SendCommand keeps its failures
// to itself, so the reasons, the timeouts and the --json lines come from here.
#include <algorithm>
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
namespace {

// A controller's reason may be long and differ each time: what is kept for counting is bounded.
constexpr std::size_t kFailureKindsKept = 64;

}  // namespace

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
    ReportOnce(context, text);
}

// A command that fails on every poll would bury everything else: the same line is counted.
void CommandWatch::ReportOnce(VerbContext& context, const std::string& text) {
    bool first = false;
    {
        std::lock_guard lock(mutex_);
        const auto kind =
            std::find_if(failures_.begin(), failures_.end(),
                         [&text](const CommandFailureKind& seen) { return seen.text == text; });
        if (kind == failures_.end()) {
            // Beyond the bound a new kind is printed each time, as it comes, and not kept.
            if (failures_.size() < kFailureKindsKept) {
                failures_.push_back({text, 1});
            }
            first = true;
        } else {
            ++kind->times;
        }
    }
    if (first) {
        ReportError(context, text);
    } else {
        context.SetLastError(text);  // the JSON error names the last failure, as before
    }
}

std::vector<CommandFailureKind> CommandWatch::Failures() const {
    std::lock_guard lock(mutex_);
    return failures_;
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
        ReportOnce(context, text);
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

void ReportRepeatedFailures(VerbContext& context) {
    for (const CommandFailureKind& kind : context.watch.Failures()) {
        if (kind.times > 1) {
            context.err << "trevane-cli: " +
                               context.ForErr(kind.text + " (" + std::to_string(kind.times) +
                                              " times)") +
                               "\n"
                        << std::flush;
        }
    }
}

}  // namespace trevane::cli
