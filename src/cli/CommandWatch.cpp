// The outcome of each text command, for --json: SendCommand keeps its failures to itself, so the
// session is wrapped to see them.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "cli/Cli.h"
#include "cli/Verbs.h"
#include "net/Protocol.h"

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
        } catch (const std::exception& error) {
            Tell({command, {}, false, FailureReason(error.what(), command)});
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

std::string FailureReason(const std::string& error, const std::string& command) {
    const std::string rejected = "rejected '" + net::Printable(command) + "': ";
    const std::size_t at = error.find(rejected);
    if (at == std::string::npos || at + rejected.size() == error.size()) {
        return error;
    }
    return error.substr(at + rejected.size());
}

std::shared_ptr<MotionClient> WatchedSession(std::shared_ptr<MotionClient> session) {
    return std::make_shared<WatchedClient>(std::move(session));
}

}  // namespace trevane::cli
