// The outcome of each text command, for --json: SendCommand keeps its failures to itself, so the
// session is wrapped to see them.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "cli/Cli.h"
#include "cli/Verbs.h"

namespace trevane::cli {
namespace {

std::mutex g_watcherMutex;
std::function<void(const CommandOutcome&)> g_watcher;

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
            // The controller's own reason when it gave one, else what failed on the link.
            const bool haveReason = error.Rejected() && !error.ControllerReason().empty();
            Tell({command, {}, false, haveReason ? error.ControllerReason() : error.what()});
            throw;
        } catch (const std::exception& error) {
            Tell({command, {}, false, error.what()});
            throw;
        }
    }
    std::string connection() override { return inner_->connection(); }
    std::string programUpload() override { return inner_->programUpload(); }
    std::vector<char> record(const std::string& query) override { return inner_->record(query); }

  private:
    std::shared_ptr<MotionClient> inner_;
};

}  // namespace

void WatchCommands(std::function<void(const CommandOutcome&)> watcher) {
    std::lock_guard lock(g_watcherMutex);
    g_watcher = std::move(watcher);
}

std::shared_ptr<MotionClient> WatchedSession(std::shared_ptr<MotionClient> session) {
    return std::make_shared<WatchedClient>(std::move(session));
}

}  // namespace trevane::cli
