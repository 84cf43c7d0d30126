#pragma once

#include <optional>
#include <string>

// --history URL of autotest, fleet and history, and TREVANE_HISTORY when it names a server.
namespace trevane::cli {

struct HistoryServerChoice {
    std::optional<std::string> server;  // none: the SQLite file only
    std::optional<std::string> error;   // why the named server cannot be used
};

// The option's value wins over the environment's. A password in either, a text that names no
// server, or a build without a PostgreSQL client is an error.
HistoryServerChoice ChooseHistoryServer(const std::optional<std::string>& option);

}  // namespace trevane::cli
