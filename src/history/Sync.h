#pragma once

#include <string>

#include "history/History.h"

// The local file as the server's queue: every test goes in there first and waits until the
// server has taken it, so that an outage loses nothing and a test sent twice is stored once.
namespace trevane::history {

struct SyncResult {
    int sent = 0;
    int waiting = 0;  // still waiting afterwards
};

// Sends what waits, oldest first, and notes each test the server took. Throws HistoryError at
// the first failure; what was sent before it stays sent.
SyncResult SendWaiting(History& local, HistoryStore& server);

// "history: kept locally, 3 tests waiting for the server"
std::string KeptLocallyText(int waiting);

}  // namespace trevane::history
