#include "cli/HistoryServerOption.h"

#include "history/HistoryStore.h"
#include "history/ServerAddress.h"
#include "history/ServerStore.h"

namespace trevane::cli {

HistoryServerChoice ChooseHistoryServer(const std::optional<std::string>& option,
                                        const std::optional<std::string>& variable) {
    HistoryServerChoice choice;
    std::string from = "--history";
    if (option) {
        choice.server = option;
    } else if (variable && history::NamesServer(*variable)) {
        choice.server = variable;
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
