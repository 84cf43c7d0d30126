#include "history/History.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "autotest/Outcomes.h"
#include "history/TestRow.h"
#include "common/CLocale.h"
#include "common/Clock.h"
#include "common/PathText.h"
#include "history/Schema.h"

namespace trevane::history {
namespace {

namespace fs = std::filesystem;

std::string AsideSuffix() {
    return FormatTimeC("%Y%m%d-%H%M%S", ToLocalTime(SystemClock().WallNow()));
}

bool HasSqliteHeader(const std::string& path) {
    std::ifstream file(PathFromText(path), std::ios::binary);
    char header[16] = {};
    file.read(header, sizeof header);
    return file.gcount() == sizeof header &&
           std::string_view(header, sizeof header) == std::string_view("SQLite format 3\0", 16);
}

std::int64_t Pragma(sqlite::Database& db, const char* name) {
    sqlite::Statement query = db.Prepare(std::string("PRAGMA ") + name);
    return query.Step() ? query.Int(0) : 0;
}

// What SQLite's quick check finds wrong, on one line; nothing when the file is sound. A damaged
// page may read as rows that are not there, so nothing is read before this.
std::optional<std::string> Damage(sqlite::Database& db) {
    std::string found;
    try {
        sqlite::Statement check = db.Prepare("PRAGMA quick_check");
        while (check.Step()) {
            const std::string row = check.Text(0);
            if (row != "ok") {
                found += (found.empty() ? "" : "; ") + row;
            }
        }
    } catch (const sqlite::SqliteError& e) {
        found += (found.empty() ? "" : "; ") + std::string(e.what());
    }
    if (found.empty()) {
        return std::nullopt;
    }
    std::replace(found.begin(), found.end(), '\n', ' ');
    return found;
}

// Renames the file and its journals aside; returns the new name.
std::string SetAside(const std::string& path, const char* why) {
    std::string aside = path + "." + why + "-" + AsideSuffix();
    for (int n = 2; fs::exists(PathFromText(aside)); ++n) {
        aside = path + "." + why + "-" + AsideSuffix() + "-" + FormatInt(n);
    }
    std::error_code failed;
    fs::rename(PathFromText(path), PathFromText(aside), failed);
    if (failed) {
        throw HistoryError("cannot rename '" + path + "' aside to '" + aside +
                           "': " + failed.message());
    }
    for (const char* journal : {"-wal", "-shm", "-journal"}) {
        std::error_code ignored;
        if (fs::exists(PathFromText(path + journal), ignored)) {
            fs::rename(PathFromText(path + journal), PathFromText(aside + journal), ignored);
        }
    }
    return aside;
}

StoredTest ReadTestRow(const sqlite::Statement& row) {
    StoredTest test;
    test.id = row.Int(0);
    test.startedUtc = row.Text(1);
    test.address = row.Text(2);
    test.port = static_cast<int>(row.Int(3));
    test.identity = row.Text(4);
    test.outcome = row.Text(5);
    if (!row.IsNull(6) && !row.IsNull(7)) {
        test.startedMs = row.Int(6);
        test.endedMs = row.Int(7);
    }
    return test;
}

// The layout that first kept run times.
constexpr int kRunTimesLayout = 3;

sqlite::Statement& BindOptional(sqlite::Statement& statement, int index,
                                const std::optional<std::int64_t>& value) {
    return value ? statement.Bind(index, *value) : statement.BindNull(index);
}

// Writers of one program open one at a time: a writer that probed a file another was still
// beginning would take it for a foreign one and set it aside, with the other's tests in it.
std::mutex g_openForWriting;

}  // namespace

History::History(const std::string& path, Access access) {
    try {
        std::unique_lock<std::mutex> opening(g_openForWriting, std::defer_lock);
        if (access == Access::Write) {
            opening.lock();
        }
        OpenOrSetAside(path, access);
    } catch (const sqlite::SqliteError& e) {
        throw HistoryError(std::string("'") + path + "': " + e.what());
    }
}

void History::OpenOrSetAside(const std::string& path, Access access) {
    std::error_code noFile;
    if (fs::is_directory(PathFromText(path), noFile)) {
        throw HistoryError("'" + path + "' is a folder, not a history file");
    }
    const bool exists =
        fs::exists(PathFromText(path), noFile) && fs::file_size(PathFromText(path), noFile) > 0;
    const char* aside = nullptr;
    std::int64_t version = 0;
    if (exists && !HasSqliteHeader(path)) {
        aside = "foreign";
    }
    if (exists && aside == nullptr) {
        try {
            sqlite::Database probe(path, sqlite::Database::Mode::ReadOnly, kBusyTimeoutMs);
            const std::int64_t app = Pragma(probe, "application_id");
            const std::int64_t tables = Pragma(probe, "schema_version");
            version = Pragma(probe, "user_version");
            damage_ = Damage(probe);
            if (damage_) {
                aside = "damaged";
            } else if (app != kApplicationId && (app != 0 || tables != 0 || version != 0)) {
                aside = "foreign";
            } else if (version > kSchemaVersion) {
                throw HistoryError("'" + path + "' was written by a newer Trevane (layout " +
                                   FormatInt(version) + ", this one knows up to " +
                                   FormatInt(kSchemaVersion) + "); it is left as it is");
            }
        } catch (const sqlite::SqliteError& e) {
            if (!e.NotADatabase()) {
                throw;
            }
            aside = "damaged";
            damage_ = e.what();
        }
    }
    if (access == Access::Read) {
        if (damage_) {
            throw HistoryError(TextFromPath(PathFromText(path).filename()) +
                               " is damaged: " + *damage_);
        }
        if (aside != nullptr) {
            throw HistoryError(
                "'" + path + "' is " +
                (std::string_view(aside) == "foreign" ? "not a Trevane history" : "damaged"));
        }
        layout_ = static_cast<int>(version);
        if (exists && version > 0) {
            db_ = std::make_unique<sqlite::Database>(path, sqlite::Database::Mode::ReadOnly,
                                                     kBusyTimeoutMs);
        }
        return;
    }
    if (aside != nullptr) {
        const std::string kept = SetAside(path, aside);
        notice_ = "'" + path + "' was " +
                  (std::string_view(aside) == "foreign" ? "not a Trevane history" : "damaged") +
                  "; kept as '" + kept + "', a new history begun";
    }
    db_ = std::make_unique<sqlite::Database>(path, sqlite::Database::Mode::Create, kBusyTimeoutMs);
    db_->Execute("PRAGMA journal_mode=WAL");
    db_->Execute("PRAGMA synchronous=NORMAL");
    db_->Execute("PRAGMA foreign_keys=ON");
    Migrate(static_cast<int>(Pragma(*db_, "user_version")));
}

std::string History::RunColumn(const char* column) const {
    // A file read as an older build left it has no such column: every run time unknown.
    return layout_ >= kRunTimesLayout ? column : "NULL";
}

std::string History::TestColumns() const {
    return "id, started_utc, address, port, identity, outcome, " + RunColumn("started_ms") + ", " +
           RunColumn("ended_ms");
}

void History::Migrate(int fromVersion) {
    if (fromVersion >= kSchemaVersion) {
        return;
    }
    sqlite::Transaction transaction(*db_);
    // Read again under the write lock: another program may have migrated meanwhile.
    for (int version = static_cast<int>(Pragma(*db_, "user_version")); version < kSchemaVersion;
         ++version) {
        db_->Execute(kMigrations[version]);
    }
    GiveIdentities();
    db_->Execute("PRAGMA application_id=" + std::to_string(kApplicationId));
    db_->Execute("PRAGMA user_version=" + std::to_string(kSchemaVersion));
    transaction.Commit();
}

// Tests stored by builds before identities were kept get theirs when the file is migrated.
void History::GiveIdentities() {
    std::vector<std::int64_t> ids;
    sqlite::Statement query = db_->Prepare("SELECT id FROM tests WHERE uuid IS NULL");
    while (query.Step()) {
        ids.push_back(query.Int(0));
    }
    sqlite::Statement update = db_->Prepare("UPDATE tests SET uuid = ? WHERE id = ?");
    for (const std::int64_t id : ids) {
        update.Bind(1, NewUuid()).Bind(2, id).Step();
        update.Reset();
    }
}

std::int64_t History::Add(const TestRecord& record, const TestFiles& files) {
    return Put(RowOfRecord(record, files));
}

std::optional<std::int64_t> History::IdOf(const std::string& uuid) {
    sqlite::Statement query = db_->Prepare("SELECT id FROM tests WHERE uuid = ?");
    query.Bind(1, uuid);
    return query.Step() ? std::optional<std::int64_t>(query.Int(0)) : std::nullopt;
}

std::int64_t History::Put(const TestRow& row) {
    sqlite::Transaction transaction(*db_);
    if (const std::optional<std::int64_t> id = IdOf(row.uuid)) {
        return *id;
    }
    sqlite::Statement insert = db_->Prepare(
           "INSERT INTO tests (test_number, started_utc, started_local, address, port, "
           "identity, outcome, log_file, report_file, samples_file, uuid, started_ms, ended_ms) "
           "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    insert.Bind(1, std::int64_t{row.testNumber})
        .Bind(2, row.startedUtc)
        .Bind(3, row.startedLocal)
        .Bind(4, row.address)
        .Bind(5, std::int64_t{row.port})
        .Bind(6, row.identity)
        .Bind(7, row.outcome)
        .Bind(8, row.logFile)
        .Bind(9, row.reportFile)
        .Bind(10, row.samplesFile)
        .Bind(11, row.uuid);
    BindOptional(insert, 12, row.startedMs);
    BindOptional(insert, 13, row.endedMs).Step();
    const std::int64_t testId = db_->LastInsertId();

    sqlite::Statement check = db_->Prepare(
        "INSERT INTO check_values (test_id, seq, kind, label, reply) VALUES (?, ?, ?, ?, ?)");
    std::int64_t seq = 0;
    for (const CheckRow& c : row.checks) {
        check.Bind(1, testId).Bind(2, seq++).Bind(3, c.kind).Bind(4, c.label).Bind(5, c.reply);
        check.Step();
        check.Reset();
    }
    sqlite::Statement move = db_->Prepare(
        "INSERT INTO moves (test_id, move_index, axis, target, verdict, reason, abort_reading, "
        "max_torque, max_error, final_error, final_position) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    sqlite::Statement sample = db_->Prepare(
        "INSERT INTO samples (move_id, cycle, time_ms, torque, error) VALUES (?, ?, ?, ?, ?)");
    for (const MoveRow& m : row.moves) {
        move.Bind(1, testId)
            .Bind(2, std::int64_t{m.moveIndex})
            .Bind(3, m.axis)
            .Bind(4, std::int64_t{m.target})
            .Bind(5, m.verdict)
            .Bind(6, m.reason)
            .Bind(7, m.abortReading)
            .Bind(8, m.maxTorque)
            .Bind(9, m.maxError);
        m.finalError ? move.Bind(10, *m.finalError) : move.BindNull(10);
        m.finalPosition ? move.Bind(11, *m.finalPosition) : move.BindNull(11);
        move.Step();
        move.Reset();
        const std::int64_t moveId = db_->LastInsertId();
        for (std::size_t cycle = 0; cycle < m.samples.size(); ++cycle) {
            const SampleRow& s = m.samples[cycle];
            sample.Bind(1, moveId)
                .Bind(2, static_cast<std::int64_t>(cycle))
                .Bind(3, s.timeMs)
                .Bind(4, s.torque)
                .Bind(5, s.error)
                .Step();
            sample.Reset();
        }
    }
    transaction.Commit();
    return testId;
}

std::vector<std::string> History::Waiting() {
    std::vector<std::string> uuids;
    sqlite::Statement query = db_->Prepare(
        "SELECT uuid FROM tests WHERE uuid NOT IN (SELECT uuid FROM sent) ORDER BY id");
    while (query.Step()) {
        uuids.push_back(query.Text(0));
    }
    return uuids;
}

std::optional<TestRow> History::Row(const std::string& uuid) {
    sqlite::Statement test = db_->Prepare(
        "SELECT id, test_number, started_utc, started_local, address, port, identity, outcome, "
        "log_file, report_file, samples_file, started_ms, ended_ms FROM tests WHERE uuid = ?");
    test.Bind(1, uuid);
    if (!test.Step()) {
        return std::nullopt;
    }
    const std::int64_t id = test.Int(0);
    TestRow row;
    row.uuid = uuid;
    row.testNumber = static_cast<int>(test.Int(1));
    row.startedUtc = test.Text(2);
    row.startedLocal = test.Text(3);
    row.address = test.Text(4);
    row.port = static_cast<int>(test.Int(5));
    row.identity = test.Text(6);
    row.outcome = test.Text(7);
    row.logFile = test.Text(8);
    row.reportFile = test.IsNull(9) ? "" : test.Text(9);
    row.samplesFile = test.IsNull(10) ? "" : test.Text(10);
    if (!test.IsNull(11) && !test.IsNull(12)) {
        row.startedMs = test.Int(11);
        row.endedMs = test.Int(12);
    }
    sqlite::Statement checks = db_->Prepare(
        "SELECT kind, label, reply FROM check_values WHERE test_id = ? ORDER BY seq");
    checks.Bind(1, id);
    while (checks.Step()) {
        row.checks.push_back({checks.Text(0), checks.Text(1), checks.Text(2)});
    }
    sqlite::Statement moves = db_->Prepare(
        "SELECT id, move_index, axis, target, verdict, reason, abort_reading, max_torque, "
        "max_error, final_error, final_position FROM moves WHERE test_id = ? ORDER BY id");
    moves.Bind(1, id);
    sqlite::Statement samples = db_->Prepare(
        "SELECT time_ms, torque, error FROM samples WHERE move_id = ? ORDER BY cycle");
    while (moves.Step()) {
        MoveRow move;
        move.moveIndex = static_cast<int>(moves.Int(1));
        move.axis = moves.Text(2);
        move.target = static_cast<int>(moves.Int(3));
        move.verdict = moves.Text(4);
        move.reason = moves.Text(5);
        move.abortReading = moves.IsNull(6) ? "" : moves.Text(6);
        move.maxTorque = moves.Real(7);
        move.maxError = moves.Real(8);
        if (!moves.IsNull(9)) {
            move.finalError = moves.Text(9);
        }
        if (!moves.IsNull(10)) {
            move.finalPosition = moves.Text(10);
        }
        samples.Bind(1, moves.Int(0));
        while (samples.Step()) {
            move.samples.push_back({samples.Real(0), samples.Real(1), samples.Real(2)});
        }
        samples.Reset();
        row.moves.push_back(std::move(move));
    }
    return row;
}

void History::MarkSent(const std::string& uuid) {
    db_->Prepare("INSERT OR IGNORE INTO sent (uuid) VALUES (?)").Bind(1, uuid).Step();
}

std::vector<StoredMove> History::MovesOf(std::int64_t testId) {
    std::vector<StoredMove> moves;
    sqlite::Statement query = db_->Prepare(
        "SELECT move_index, axis, target, verdict, reason, max_torque, max_error "
        "FROM moves WHERE test_id = ? ORDER BY move_index");
    query.Bind(1, testId);
    while (query.Step()) {
        StoredMove move;
        move.moveIndex = static_cast<int>(query.Int(0));
        const std::string axis = query.Text(1);
        move.axis = axis.empty() ? '?' : axis[0];
        move.target = static_cast<int>(query.Int(2));
        move.verdict = query.Text(3);
        move.reason = query.Text(4);
        move.maxTorque = query.Real(5);
        move.maxError = query.Real(6);
        moves.push_back(std::move(move));
    }
    return moves;
}

std::vector<StoredTest> History::LastTests(const TestQuery& query) {
    std::vector<StoredTest> tests;
    if (!db_) {
        return tests;
    }
    // instr, not LIKE: the text is matched as it is, '%' and '_' included.
    sqlite::Statement select = db_->Prepare(
        std::string("SELECT ") + TestColumns() +
        " FROM tests WHERE (? = '' OR instr(address || ':' || port || ' ' || identity, ?) > 0)"
        " AND started_utc >= ? ORDER BY id DESC LIMIT ?");
    select.Bind(1, query.controller)
        .Bind(2, query.controller)
        .Bind(3, query.since)
        .Bind(4, std::int64_t{query.limit > 0 ? query.limit : -1});
    while (select.Step()) {
        tests.push_back(ReadTestRow(select));
    }
    std::reverse(tests.begin(), tests.end());
    for (StoredTest& test : tests) {
        test.moves = MovesOf(test.id);
    }
    return tests;
}

std::optional<StoredTest> History::Test(std::int64_t id) {
    sqlite::Statement query =
        db_->Prepare(std::string("SELECT ") + TestColumns() + " FROM tests WHERE id = ?");
    query.Bind(1, id);
    if (!query.Step()) {
        return std::nullopt;
    }
    StoredTest test = ReadTestRow(query);
    test.moves = MovesOf(test.id);
    return test;
}

std::vector<StoredMove> History::EarlierMoves(const StoredTest& test, int moveIndex, int count) {
    std::vector<StoredMove> moves;
    if (test.address.empty()) {
        return moves;
    }
    sqlite::Statement query = db_->Prepare(
        "SELECT m.max_torque, m.max_error, t.started_utc FROM tests t JOIN moves m "
        "ON m.test_id = t.id WHERE t.address = ? AND t.port = ? AND t.identity = ? AND t.id < ? "
        "AND m.move_index = ? AND m.verdict = ? AND t.outcome <> ? "
        // Earlier versions stored a move whose every reading failed as completed with zeros.
        "AND (m.max_torque <> 0 OR m.max_error <> 0) "
        // Unknown (NULL) where either run has no times: kept.
        "AND NOT coalesce(" + RunColumn("t.started_ms") + " < ? AND ? < " +
        RunColumn("t.ended_ms") + ", 0) "
        "ORDER BY t.id DESC LIMIT ?");
    query.Bind(1, test.address)
        .Bind(2, std::int64_t{test.port})
        .Bind(3, test.identity)
        .Bind(4, test.id)
        .Bind(5, std::int64_t{moveIndex})
        .Bind(6, std::string_view(outcome::kCompleted))
        .Bind(7, std::string_view(outcome::kLinkLost));
    BindOptional(query, 8, test.endedMs);
    BindOptional(query, 9, test.startedMs).Bind(10, std::int64_t{count});
    while (query.Step()) {
        StoredMove move;
        move.moveIndex = moveIndex;
        move.maxTorque = query.Real(0);
        move.maxError = query.Real(1);
        move.testStarted = query.Text(2);
        moves.push_back(move);
    }
    return moves;
}

std::vector<StoredTest> History::RecentTests(const StoredTest& test, int count) {
    std::vector<StoredTest> tests;
    sqlite::Statement query = db_->Prepare(
        std::string("SELECT ") + TestColumns() +
        " FROM tests WHERE address = ? AND port = ? AND identity = ? AND id <= ? "
        "ORDER BY id DESC LIMIT ?");
    query.Bind(1, test.address)
        .Bind(2, std::int64_t{test.port})
        .Bind(3, test.identity)
        .Bind(4, test.id)
        .Bind(5, std::int64_t{count});
    while (query.Step()) {
        tests.push_back(ReadTestRow(query));
    }
    std::reverse(tests.begin(), tests.end());
    for (StoredTest& earlier : tests) {
        earlier.moves = MovesOf(earlier.id);
    }
    return tests;
}

std::vector<TraceSample> History::PreviousTrace(const std::string& connectionText, int moveIndex) {
    std::vector<TraceSample> samples;
    if (!db_) {
        return samples;
    }
    std::string address;
    std::string identity;
    int port = 0;
    SplitConnectionText(connectionText, address, port, identity);
    sqlite::Statement query = db_->Prepare(
        "SELECT s.time_ms, s.torque, s.error FROM samples s WHERE s.move_id = ("
        "SELECT m.id FROM tests t JOIN moves m ON m.test_id = t.id WHERE t.address = ? AND "
        "t.port = ? AND t.identity = ? AND m.move_index = ? AND m.verdict = ? AND "
        "t.outcome <> ? ORDER BY t.id DESC LIMIT 1) ORDER BY s.cycle");
    query.Bind(1, address)
        .Bind(2, std::int64_t{port})
        .Bind(3, identity)
        .Bind(4, std::int64_t{moveIndex})
        .Bind(5, std::string_view(outcome::kCompleted))
        .Bind(6, std::string_view(outcome::kLinkLost));
    while (query.Step()) {
        samples.push_back(
            {query.Real(0), static_cast<float>(query.Real(1)), static_cast<float>(query.Real(2))});
    }
    return samples;
}

}  // namespace trevane::history
