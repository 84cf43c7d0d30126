#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "autotest/TestRecord.h"
#include "history/Sqlite.h"

// Every automatic test kept in one SQLite file in the working directory, so that a machine's
// tests can be compared over months. One row per test in `tests`; its moves, their samples and
// the values the checks read in tables of their own. A test goes in as one transaction.
namespace trevane::history {

inline constexpr const char* kHistoryFileName = "trevane-history.sqlite";
// PRAGMA user_version of the layout this build writes; older files are migrated up to it.
inline constexpr int kSchemaVersion = 1;
// PRAGMA application_id: tells a Trevane history from any other SQLite file ("TRVH").
inline constexpr std::int32_t kApplicationId = 0x54525648;
inline constexpr int kBusyTimeoutMs = 5000;

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
    std::string address;
    int port = 0;
    std::string identity;  // the controller's identity line, without the address
    std::string outcome;
    std::vector<StoredMove> moves;
};

// What a test is stored with besides its record.
struct TestFiles {
    std::string log;
    std::string report;   // empty when no report was written
    std::string samples;  // the report's CSV
};

// "127.0.0.1:5023 Simulated controller" -> address, port and identity line.
void SplitConnectionText(const std::string& text, std::string& address, int& port,
                         std::string& identity);

class History {
  public:
    enum class Access { Write, Read };
    // For writing: opens the file, beginning it when missing. A file that is not a Trevane
    // history, or is damaged, is renamed aside (Notice() says to what) and a new one begun.
    // For reading, a missing file is an empty history and nothing is ever created or renamed.
    // Throws HistoryError for a file of a newer layout (left untouched), a file that is not a
    // history when reading, or one that cannot be opened.
    explicit History(const std::string& path = kHistoryFileName, Access access = Access::Write);

    const std::optional<std::string>& Notice() const { return notice_; }

    // Stores a test in one transaction; returns its id.
    std::int64_t Add(const TestRecord& record, const TestFiles& files);

    // The last `limit` tests (all when limit <= 0), oldest first.
    std::vector<StoredTest> LastTests(int limit);
    // The test with this id, with its moves.
    std::optional<StoredTest> Test(std::int64_t id);
    // Of the same controller, before `id`: the move's maxima in the last `count` tests that
    // completed and measured it and did not lose the link, newest first.
    std::vector<StoredMove> EarlierMoves(const StoredTest& test, int moveIndex, int count);
    // The same controller's last `count` tests up to and including `id`, oldest first.
    std::vector<StoredTest> RecentTests(const StoredTest& test, int count);

    // The samples of the latest kept test of this controller (its connection text) that
    // completed the move; empty when there is none.
    std::vector<TraceSample> PreviousTrace(const std::string& connectionText, int moveIndex);

    sqlite::Database& Db() { return *db_; }

  private:
    void OpenOrSetAside(const std::string& path, Access access);
    void Migrate(int fromVersion);
    std::vector<StoredMove> MovesOf(std::int64_t testId);

    std::unique_ptr<sqlite::Database> db_;
    std::optional<std::string> notice_;
};

}  // namespace trevane::history
