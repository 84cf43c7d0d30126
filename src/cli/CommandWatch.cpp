// The outcome of each text command, for --json: SendCommand keeps its failures to itself, so the
// traffic tap tells them.
#include <functional>
#include <utility>

#include "cli/Verbs.h"
#include "traffic/TrafficTap.h"

namespace trevane::cli {

void WatchCommands(std::function<void(const CommandOutcome&)> watcher) {
    if (!watcher) {
        WatchExchanges(nullptr);
        return;
    }
    WatchExchanges([watcher = std::move(watcher)](const TappedExchange& exchange) {
        if (exchange.call != TappedExchange::Call::Command) {
            return;
        }
        CommandOutcome outcome{exchange.command, exchange.reply, exchange.ok, {}};
        if (!exchange.ok) {
            // The controller's own reason when it gave one, else what failed on the link.
            const bool haveReason = exchange.rejected && !exchange.controllerReason.empty();
            outcome.reason = haveReason ? exchange.controllerReason : exchange.error;
        }
        watcher(outcome);
    });
}

}  // namespace trevane::cli
