#include "cli/HistoryServerOption.h"

#include <cstdlib>

#include "history/HistoryStore.h"
#include "history/ServerAddress.h"
#include "history/ServerStore.h"

namespace trevane::cli {

HistoryServerChoice ChooseHistoryServer(const std::optional<std::string>& option) {
    HistoryServerChoice choice;
    std::string from = "--history";
    if (option) {
        choice.server = option;
    } else if (const char* env = std::getenv("TREVANE_HISTORY");
               env != nullptr && history::NamesServer(env)) {
        choice.server = env;
        from = "TREVANE_HISTORY";
    }
    if (!choice.server) {
        return choice;
    }
    if (!history::ServerStoreAvailable()) {
        choice.error = from +
                       ": this build has no PostgreSQL client, so the history cannot go to a "
                       "server; it stays in trevane-history.sqlite";
        return choice;
    }
    try {
        history::ParseServerAddress(*choice.server);
    } catch (const history::HistoryError& e) {
        choice.error = from + ": " + e.what();
    }
    return choice;
}

}  // namespace trevane::cli
