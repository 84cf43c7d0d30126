#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "autotest/TestRecord.h"
#include "history/HistoryStore.h"
#include "history/Schema.h"
#include "history/Sqlite.h"

// Every automatic test kept in one SQLite file in the working directory, so that a machine's
// tests can be compared over months. One row per test in `tests`; its moves, their samples and
// the values the checks read in tables of their own. A test goes in as one transaction.
namespace trevane::history {

inline constexpr const char* kHistoryFileName = "trevane-history.sqlite";
// PRAGMA application_id: tells a Trevane history from any other SQLite file ("TRVH").
inline constexpr std::int32_t kApplicationId = 0x54525648;
inline constexpr int kBusyTimeoutMs = 5000;

// What a test is stored with besides its record.
struct TestFiles {
    std::string log;
    std::string report;   // empty when no report was written
    std::string samples;  // the report's CSV
};

// The local store: the SQLite file. With a server, it also holds the tests the server has not
// taken yet.
class History : public HistoryStore {
  public:
    enum class Access { Write, Read };
    // For writing: opens the file, beginning it when missing. A file that is not a Trevane
    // history, or is damaged, is renamed aside (Notice() says to what) and a new one begun.
    // For reading, a missing file is an empty history and nothing is ever created or renamed.
    // Throws HistoryError for a file of a newer layout (left untouched), a file that is not a
    // history or fails SQLite's quick check when reading ("trevane-history.sqlite is damaged:
    // REASON"), a folder in the file's place, or a file that cannot be opened.
    explicit History(const std::string& path = kHistoryFileName, Access access = Access::Write);

    const std::optional<std::string>& Notice() const { return notice_; }

    // Stores a test in one transaction under a new identity; returns its id.
    std::int64_t Add(const TestRecord& record, const TestFiles& files);

    std::int64_t Put(const TestRow& row) override;
    std::optional<std::int64_t> IdOf(const std::string& uuid) override;
    using HistoryStore::LastTests;
    std::vector<StoredTest> LastTests(const TestQuery& query) override;
    std::optional<StoredTest> Test(std::int64_t id) override;
    std::vector<StoredMove> EarlierMoves(const StoredTest& test, int moveIndex,
                                         int count) override;
    std::vector<StoredTest> RecentTests(const StoredTest& test, int count) override;
    std::vector<TraceSample> PreviousTrace(const std::string& connectionText,
                                           int moveIndex) override;

    // The tests the server has not taken yet, oldest first, and the whole rows of one of them.
    std::vector<std::string> Waiting();
    std::optional<TestRow> Row(const std::string& uuid);
    // The server holds this test now.
    void MarkSent(const std::string& uuid);

    sqlite::Database& Db() { return *db_; }

  private:
    void OpenOrSetAside(const std::string& path, Access access);
    void Migrate(int fromVersion);
    void GiveIdentities();
    std::vector<StoredMove> MovesOf(std::int64_t testId);
    std::string RunColumn(const char* column) const;
    std::string TestColumns() const;

    std::unique_ptr<sqlite::Database> db_;
    std::optional<std::string> notice_;
    std::optional<std::string> damage_;  // what the quick check found
    int layout_ = kSchemaVersion;        // of the file as opened; older only when read
};

}  // namespace trevane::history
