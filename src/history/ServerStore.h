#pragma once

#include <memory>

#include "history/HistoryStore.h"
#include "history/ServerAddress.h"

// The team's history in a PostgreSQL database: the same tables as the SQLite file, created and
// migrated on first use, every technician's tests of a controller side by side.
namespace trevane::history {

// False where this build has no PostgreSQL client (the Windows programs).
bool ServerStoreAvailable();

// Connects and brings the tables to this build's layout. Throws HistoryError when the server
// cannot be reached, refuses the account, holds a newer layout, or where there is no client.
std::unique_ptr<HistoryStore> OpenServerStore(const ServerAddress& server);

}  // namespace trevane::history
