#pragma once

#include <optional>
#include <string>

// --history URL of autotest, fleet and history, and TREVANE_HISTORY when it names a server.
namespace trevane::cli {

struct HistoryServerChoice {
    std::optional<std::string> server;  // none: the SQLite file only
    std::optional<std::string> error;   // why the named server cannot be used
};

// The option's value wins over TREVANE_HISTORY's (`variable`, when it names a server). A
// password in either, a text that names no server, or a build without a PostgreSQL client is an
// error.
HistoryServerChoice ChooseHistoryServer(const std::optional<std::string>& option,
                                        const std::optional<std::string>& variable);

}  // namespace trevane::cli
