#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "autotest/TestRecord.h"
#include "history/TestRow.h"

// The one way the history is read and written, whichever store holds it: the SQLite file beside
// the logs, or a service team's PostgreSQL database.
namespace trevane::history {

// The history could not be opened, read or written; what() says why.
class HistoryError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct StoredMove {
    int moveIndex = 0;
    char axis = 'X';
    int target = 0;
    std::string verdict;  // "completed", "unverified", "aborted" or "unfinished"
    std::string reason;   // of an abort: "torque" or "position error"
    double maxTorque = 0;
    double maxError = 0;
    std::string testStarted;  // EarlierMoves: when the move's test started (ISO 8601)
};

struct StoredTest {
    std::int64_t id = 0;
    std::string startedUtc;  // ISO 8601, "2026-12-07T17:14:35Z"
    // The run in ms since 1970 (UTC), both or neither: see TestRow.
    std::optional<std::int64_t> startedMs;
    std::optional<std::int64_t> endedMs;
    std::string address;
    int port = 0;
    std::string identity;  // the controller's identity line, without the address
    std::string outcome;
    std::vector<StoredMove> moves;
};

// Which tests a listing shows.
struct TestQuery {
    int limit = 0;           // the newest `limit` (all when <= 0)
    std::string controller;  // a part of "ADDRESS:PORT IDENTITY"; "" for every controller
    std::string since;       // "YYYY-MM-DD" (UTC); "" for no bound
};

// One controller is one address, port and identity together.
class HistoryStore {
  public:
    virtual ~HistoryStore() = default;

    // Stores a test's rows in one transaction unless a test of the same uuid is there already;
    // returns the id the test has in this store.
    virtual std::int64_t Put(const TestRow& row) = 0;
    // The id of the test with this uuid.
    virtual std::optional<std::int64_t> IdOf(const std::string& uuid) = 0;

    // The tests the query names, oldest first, with their moves.
    virtual std::vector<StoredTest> LastTests(const TestQuery& query) = 0;
    std::vector<StoredTest> LastTests(int limit) { return LastTests(TestQuery{limit, {}, {}}); }
    // The test with this id, with its moves.
    virtual std::optional<StoredTest> Test(std::int64_t id) = 0;
    // Of the same controller, before `test`: the move's maxima in the last `count` tests that
    // completed and measured it, did not lose the link and did not run while `test` ran,
    // newest first. A test without run times (stored by an older build) overlaps none: with
    // only its start second kept, overlap cannot be told, and such tests were the baseline
    // before. A test without an address (its connection query failed) has no baseline: it
    // could be any controller.
    virtual std::vector<StoredMove> EarlierMoves(const StoredTest& test, int moveIndex,
                                                 int count) = 0;
    // The same controller's last `count` tests up to and including `test`, oldest first.
    virtual std::vector<StoredTest> RecentTests(const StoredTest& test, int count) = 0;
    // The samples of the latest kept test of this controller (its connection text) that
    // completed the move; empty when there is none.
    virtual std::vector<TraceSample> PreviousTrace(const std::string& connectionText,
                                                   int moveIndex) = 0;
};

// "127.0.0.1:5023 Simulated controller" -> address, port and identity line.
void SplitConnectionText(const std::string& text, std::string& address, int& port,
                         std::string& identity);

// "YYYY-MM-DD" with a real month and day; "" when it is, else what is wrong.
std::string CheckSinceDate(const std::string& text);

}  // namespace trevane::history
