#ifndef _WIN32
#include <sys/mount.h>
#endif

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "history/History.h"
#include "history/Sqlite.h"
#include "history/StoreTest.h"
#include "history/Trends.h"
#include "report/ComparisonHtml.h"
#include "support/ScratchFolder.h"
#include "StoreCases.h"
#include "TestRecords.h"
#include "history/Schema.h"
#include "history/Sync.h"

namespace trevane::history {
namespace {

class SqliteUnderTest : public testing::StoreUnderTest {
  public:
    std::unique_ptr<HistoryStore> Open() override { return std::make_unique<History>(path_); }

  private:
    trevane::testing::ScratchFolder scratch_{"trevane-history"};
    std::string path_ = (scratch_.Path() / kHistoryFileName).string();
};

using testing::SharedStoreCases;
INSTANTIATE_TEST_SUITE_P(Sqlite, SharedStoreCases,
                         ::testing::Values(testing::StoreKind{
                             "SQLite", [] { return std::make_unique<SqliteUnderTest>(); }}),
                         testing::StoreName);

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

using testing::kMachine;
using testing::MakeRecord;

// "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx" in lower-case hex, y one of 8, 9, a, b. Spelled out:
// the Windows build's regular expressions know no brackets.
bool IsVersion4Uuid(const std::string& text) {
    if (text.size() != 36 || text[14] != '4' ||
        std::string("89ab").find(text[19]) == std::string::npos) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const char c = text[i];
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

class HistoryStore : public ::testing::Test {
  protected:
    void SetUp() override { path_ = (dir_ / kHistoryFileName).string(); }
    void WriteFile(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            const std::string name = entry.path().filename().string();
            // SQLite's own WAL files come and go with its connections.
            if (!name.ends_with("-wal") && !name.ends_with("-shm")) {
                names.push_back(name);
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    trevane::testing::ScratchFolder scratch_{"trevane-history"};
    const fs::path& dir_ = scratch_.Path();
    std::string path_;
};

TEST(DriftThresholds, BothTheRatioAndTheAbsoluteRiseMustBeReached) {
    EXPECT_TRUE(IsDrift(1.25, 1.0, kDriftTorqueVolts));
    EXPECT_FALSE(IsDrift(1.24, 1.0, kDriftTorqueVolts));
    EXPECT_FALSE(IsDrift(0.3, 0.2, kDriftTorqueVolts + 0.01));  // 50 % but under 0.11 V
    EXPECT_TRUE(IsDrift(50, 40, kDriftErrorCounts));
    EXPECT_FALSE(IsDrift(20, 12, kDriftErrorCounts));  // 67 % but 8 counts
    EXPECT_DOUBLE_EQ(Median({3, 1, 2, 10}), 2.5);
}

TEST_F(HistoryStore, AForeignOrDamagedFileIsKeptAsideAndANewHistoryBegun) {
    for (const std::string& bytes :
         {std::string("not a database at all"),
          std::string("SQLite format 3") + '\0' + std::string(200, '\x5a')}) {
        WriteFile(bytes);
        const StoreResult stored = StoreTest(MakeRecord(100), {"log.txt", "", ""}, path_);
        ASSERT_FALSE(stored.failure.has_value()) << *stored.failure;
        ASSERT_TRUE(stored.notice.has_value());
        EXPECT_THAT(*stored.notice, HasSubstr("a new history begun"));
        std::vector<std::string> names = Names();
        ASSERT_EQ(names.size(), 2u);  // the new file and the old one aside
        const fs::path aside = dir_ / names[1];
        EXPECT_THAT(names[1], StartsWith(std::string(kHistoryFileName) + "."));
        EXPECT_THAT(names[1], Not(HasSubstr("%"))) << "the date is written out";
        {
            // Closed before the removal: Windows removes no open file.
            std::ifstream in(aside, std::ios::binary);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), bytes);
        }
        fs::remove(aside);
        EXPECT_EQ(History(path_, History::Access::Read).LastTests(0).size(), 1u);
        fs::remove(path_);
    }
}

// Writers of one program that begin the same new file at once: none may take the file another
// is still beginning for a foreign one and set it aside with that one's tests.
TEST_F(HistoryStore, WritersBeginningOneFileAtOnceSetNothingAside) {
    for (int round = 0; round < 20; ++round) {
        const std::string path = (dir_ / ("round-" + std::to_string(round) + ".sqlite")).string();
        std::vector<std::thread> writers;
        std::atomic<int> notices{0};
        for (int writer = 0; writer < 8; ++writer) {
            writers.emplace_back([&] {
                try {
                    const History history(path);
                    notices += history.Notice() ? 1 : 0;
                } catch (const HistoryError&) {
                    ++notices;  // "database is locked": that writer's test would be lost
                }
            });
        }
        for (std::thread& writer : writers) {
            writer.join();
        }
        ASSERT_EQ(notices, 0) << "round " << round;
    }
}

TEST_F(HistoryStore, ASQLiteFileOfAnotherProgramIsNotTakenOver) {
    {
        sqlite::Database other(path_, sqlite::Database::Mode::Create, 100);
        other.Execute("CREATE TABLE tests (name TEXT); INSERT INTO tests VALUES ('mine')");
    }
    EXPECT_THROW(History(path_, History::Access::Read), HistoryError);
    const StoreResult stored = StoreTest(MakeRecord(100), {"log.txt", "", ""}, path_);
    EXPECT_THAT(stored.notice.value_or(""), HasSubstr("not a Trevane history"));
    EXPECT_EQ(Names().size(), 2u);
}

TEST_F(HistoryStore, AFileOfANewerLayoutIsLeftAsItIsAndNotWritten) {
    StoreTest(MakeRecord(100), {"log.txt", "", ""}, path_);
    {
        sqlite::Database db(path_, sqlite::Database::Mode::ReadWrite, 100);
        db.Execute("PRAGMA user_version=" + std::to_string(kSchemaVersion + 1));
        db.Execute("PRAGMA wal_checkpoint(TRUNCATE)");
    }
    const auto before = fs::file_size(path_);
    const StoreResult stored = StoreTest(MakeRecord(100), {"log.txt", "", ""}, path_);
    ASSERT_TRUE(stored.failure.has_value());
    EXPECT_THAT(*stored.failure, HasSubstr("newer Trevane"));
    EXPECT_EQ(fs::file_size(path_), before);
    sqlite::Database db(path_, sqlite::Database::Mode::ReadOnly, 100);
    sqlite::Statement count = db.Prepare("SELECT COUNT(*) FROM tests");
    ASSERT_TRUE(count.Step());
    EXPECT_EQ(count.Int(0), 1);
}

TEST_F(HistoryStore, ReadingAMissingHistoryCreatesNothing) {
    EXPECT_TRUE(History(path_, History::Access::Read).LastTests(10).empty());
    EXPECT_TRUE(Names().empty());
}

// One 4 KiB page overwritten: the rows that remain must not be listed as the history.
TEST_F(HistoryStore, ADamagedFileIsNamedWhenReadAndSetAsideWhenWritten) {
    for (int i = 0; i < 3; ++i) {
        StoreTest(MakeRecord(100), {"log.txt", "", ""}, path_);
    }
    {
        sqlite::Database db(path_, sqlite::Database::Mode::ReadWrite, 100);
        db.Execute("PRAGMA wal_checkpoint(TRUNCATE)");
    }
    ASSERT_GT(fs::file_size(path_), 5 * 4096u);
    {
        std::fstream file(path_, std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(3 * 4096);
        const std::string garbage(4096, '\x5a');
        file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
    }
    try {
        History(path_, History::Access::Read);
        ADD_FAILURE() << "a damaged history was read";
    } catch (const HistoryError& e) {
        EXPECT_THAT(e.what(), StartsWith(std::string(kHistoryFileName) + " is damaged: "));
        EXPECT_THAT(e.what(), Not(HasSubstr("\n")));
    }
    const StoreResult stored = StoreTest(MakeRecord(100), {"log.txt", "", ""}, path_);
    ASSERT_FALSE(stored.failure.has_value()) << *stored.failure;
    EXPECT_THAT(stored.notice.value_or(""), HasSubstr("was damaged"));
    EXPECT_EQ(History(path_, History::Access::Read).LastTests(0).size(), 1u);
}

TEST_F(HistoryStore, AFolderInTheWayIsNamedAndAFullDiskIsCalledSo) {
    fs::create_directory(path_);
    for (const History::Access access : {History::Access::Read, History::Access::Write}) {
        try {
            History history(path_, access);
            ADD_FAILURE() << "a folder was taken for a history";
        } catch (const HistoryError& e) {
            EXPECT_THAT(e.what(), HasSubstr("is a folder"));
        }
    }
    EXPECT_TRUE(fs::is_directory(path_)) << "the folder is never set aside";
    EXPECT_EQ(Names().size(), 1u);
#ifndef _WIN32
    const fs::path full = dir_ / "full";
    fs::create_directory(full);
    if (::mount("tmpfs", full.c_str(), "tmpfs", 0, "size=64k") == 0) {
        const StoreResult stored =
            StoreTest(MakeRecord(100), {"log.txt", "", ""}, (full / kHistoryFileName).string());
        ::umount2(full.c_str(), MNT_DETACH);
        ASSERT_TRUE(stored.failure.has_value()) << "the file system never filled";
        EXPECT_THAT(*stored.failure, HasSubstr("disk full"));
    }
#endif
    // Where no small file system can be mounted: SQLite meets a full disk in its journal as an
    // I/O error.
    constexpr int kIoErrWrite = 10 | (3 << 8);
    EXPECT_EQ(sqlite::FailureText(kIoErrWrite, ENOSPC, "disk I/O error"), "disk full");
    EXPECT_EQ(sqlite::FailureText(13, 0, "database or disk is full"), "disk full");
    EXPECT_EQ(sqlite::FailureText(kIoErrWrite, EIO, "disk I/O error"), "disk I/O error");
}


// A file of the first layout, as builds before identities and the server wrote it.
TEST_F(HistoryStore, AnOlderFileIsReadAsItIsAndMigratedWhenWritten) {
    {
        sqlite::Database old(path_, sqlite::Database::Mode::Create, 100);
        old.Execute(kSchemaV1);
        old.Execute(
            "INSERT INTO tests VALUES (1, 1, '2025-01-02T03:04:05Z', '2025-01-02T04:04:05', "
            "'127.0.0.1', 5023, 'Simulated controller rev 1.0', 'completed', 'log.txt', NULL, "
            "NULL);"
            "INSERT INTO moves VALUES (1, 1, 2, 'Y', -20000, 'completed', '', NULL, 1.5, 120, "
            "NULL, '0');"
            "INSERT INTO samples VALUES (1, 0, 0.0, 0.5, 3.0);");
        old.Execute("PRAGMA application_id=" + std::to_string(kApplicationId));
        old.Execute("PRAGMA user_version=1");
    }
    {
        const std::vector<StoredTest> read = History(path_, History::Access::Read).LastTests(0);
        ASSERT_EQ(read.size(), 1u);
        EXPECT_EQ(read[0].port, 5023);
    }
    History history(path_);
    sqlite::Statement version = history.Db().Prepare("PRAGMA user_version");
    ASSERT_TRUE(version.Step());
    EXPECT_EQ(version.Int(0), kSchemaVersion);
    // The old test waits for a server like any other, under an identity of its own.
    const std::vector<std::string> waiting = history.Waiting();
    ASSERT_EQ(waiting.size(), 1u);
    EXPECT_TRUE(IsVersion4Uuid(waiting[0])) << waiting[0];
    const std::optional<TestRow> row = history.Row(waiting[0]);
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(row->identity, "Simulated controller rev 1.0");
    ASSERT_EQ(row->moves.size(), 1u);
    EXPECT_EQ(row->moves[0].finalPosition, "0");
    EXPECT_FALSE(row->moves[0].finalError.has_value());
    ASSERT_EQ(row->moves[0].samples.size(), 1u);
    EXPECT_DOUBLE_EQ(row->moves[0].samples[0].error, 3.0);
    const std::int64_t id = history.Add(MakeRecord(100), {"log.txt", "", ""});
    EXPECT_EQ(history.Test(id)->moves.size(), 6u);
}

// A file of the layout before run times were kept: its tests stay the new test's baseline.
TEST_F(HistoryStore, AFileWithoutRunTimesKeepsItsTestsAsBaselines) {
    {
        sqlite::Database old(path_, sqlite::Database::Mode::Create, 100);
        old.Execute(kSchemaV1);
        old.Execute(kSchemaV2);
        for (int id = 1; id <= 3; ++id) {
            const std::string n = std::to_string(id);
            old.Execute("INSERT INTO tests (id, test_number, started_utc, started_local, address, "
                        "port, identity, outcome, log_file, uuid) VALUES (" + n + ", 1, "
                        "'2012-11-29T14:05:09Z', '2012-11-29T15:05:09', '127.0.0.1', 5023, "
                        "'Simulated controller rev 1.0', 'completed', 'log.txt', 'old-" + n + "');"
                        "INSERT INTO moves (test_id, move_index, axis, target, verdict, reason, "
                        "max_torque, max_error) VALUES (" + n + ", 2, 'Y', -20000, 'completed', "
                        "'', 1.0, 100);");
        }
        old.Execute("PRAGMA application_id=" + std::to_string(kApplicationId));
        old.Execute("PRAGMA user_version=2");
    }
    {
        // Read as it is, not migrated.
        History reader(path_, History::Access::Read);
        EXPECT_FALSE(reader.Test(3)->startedMs.has_value());
        EXPECT_EQ(Compare(reader, *reader.Test(3), false).moves[0].earlierTests, 2);
    }
    History history(path_);
    ASSERT_EQ(history.LastTests(0).size(), 3u);
    EXPECT_FALSE(history.Test(1)->startedMs.has_value());
    const std::int64_t id = history.Add(
        testing::Ran(MakeRecord(131.0f), std::chrono::seconds(0), std::chrono::seconds(60)), {});
    const Comparison comparison = Compare(history, *history.Test(id), false);
    EXPECT_EQ(comparison.moves[2].earlierTests, 3);
    EXPECT_THAT(DriftFlagTexts(comparison.drift), ElementsAre("Y: error 31 % above earlier tests"));
    EXPECT_EQ(history.Row(history.Waiting().back())->endedMs, std::int64_t{1354197969000});
}

// A store that takes `good` tests and then fails, as a server that goes away mid-way.
class FailingStore : public History {
  public:
    FailingStore(const std::string& path, int good) : History(path), good_(good) {}
    std::int64_t Put(const TestRow& row) override {
        if (good_-- <= 0) {
            throw HistoryError("the history server test failed: connection lost");
        }
        return History::Put(row);
    }

  private:
    int good_;
};

TEST_F(HistoryStore, WhatWaitsIsSentOnceAndStaysQueuedWhereTheServerFails) {
    const std::string serverPath = (dir_ / "server.sqlite").string();
    History local(path_);
    for (int i = 0; i < 3; ++i) {
        local.Add(MakeRecord(100.0f + static_cast<float>(i)), {"log.txt", "", ""});
    }
    {
        FailingStore failing(serverPath, 1);
        EXPECT_THROW(SendWaiting(local, failing), HistoryError);
    }
    EXPECT_EQ(local.Waiting().size(), 2u) << "the first was taken, the others wait";
    History server(serverPath);
    // The server took the next one, but the note of it was lost: sent again, stored once.
    for (const std::string& uuid : local.Waiting()) {
        server.Put(*local.Row(uuid));
        break;
    }
    const SyncResult sync = SendWaiting(local, server);
    EXPECT_EQ(sync.sent, 2);
    EXPECT_EQ(sync.waiting, 0);
    EXPECT_EQ(SendWaiting(local, server).sent, 0);
    const std::vector<StoredTest> there = server.LastTests(0);
    ASSERT_EQ(there.size(), 3u);
    EXPECT_DOUBLE_EQ(there[2].moves[2].maxError, 102.0) << "in the order they ran";
    EXPECT_EQ(server.PreviousTrace(kMachine, 2), MakeRecord(102).moves[2].samples);
    EXPECT_EQ(KeptLocallyText(3), "history: kept locally, 3 tests waiting for the server");
    EXPECT_EQ(KeptLocallyText(1), "history: kept locally, 1 test waiting for the server");
}

TEST(HistoryDates, SinceTakesADayOfTheCalendar) {
    EXPECT_EQ(CheckSinceDate("2026-02-28"), "");
    EXPECT_NE(CheckSinceDate("2026-02-30"), "");
    EXPECT_NE(CheckSinceDate("2026-2-3"), "");
    EXPECT_NE(CheckSinceDate("yesterday"), "");
}

}  // namespace
}  // namespace trevane::history
