#include "history/Sync.h"

namespace trevane::history {

SyncResult SendWaiting(History& local, HistoryStore& server) {
    SyncResult result;
    const std::vector<std::string> waiting = local.Waiting();
    result.waiting = static_cast<int>(waiting.size());
    for (const std::string& uuid : waiting) {
        if (const std::optional<TestRow> row = local.Row(uuid)) {
            server.Put(*row);
        }
        // Marked only once the server has committed it: a failure between the two sends the
        // test again, and the server keeps it once.
        local.MarkSent(uuid);
        ++result.sent;
        --result.waiting;
    }
    return result;
}

std::string KeptLocallyText(int waiting) {
    return "history: kept locally, " + std::to_string(waiting) +
           (waiting == 1 ? " test" : " tests") + " waiting for the server";
}

}  // namespace trevane::history
