#pragma once

#include <optional>
#include <string>

// Where a service team's history is: a postgresql:// URL or the name of a libpq service.
// Passwords never travel this way; libpq finds them in ~/.pgpass (PGPASSFILE), a service file
// or its environment.
namespace trevane::history {

struct ServerAddress {
    std::string conninfo;  // what libpq is given
    std::string shown;     // how messages name it (it holds no password)
};

// The text of --history, of TREVANE_HISTORY or of the window's [History] Server: a
// "postgresql://" or "postgres://" URL, "service=NAME" or a bare service NAME. Throws
// HistoryError saying what is wrong, a password in it above all.
ServerAddress ParseServerAddress(const std::string& text);

// TREVANE_HISTORY names either a server or (as a fleet hands it to its children) the SQLite
// file: a URL or "service=NAME" is a server, anything else a file.
bool NamesServer(const std::string& text);

}  // namespace trevane::history
