#include "history/History.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "autotest/Outcomes.h"
#include "common/CLocale.h"
#include "common/Clock.h"
#include "common/PathText.h"
#include "history/Schema.h"

namespace trevane::history {
namespace {

namespace fs = std::filesystem;

std::string StampUtc(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss clock{floor<seconds>(time - day)};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(clock.hours().count()),
                  int(clock.minutes().count()), int(clock.seconds().count()));
    return text;
}

std::string StampLocal(std::chrono::system_clock::time_point time) {
    return FormatTimeC("%Y-%m-%dT%H:%M:%S", ToLocalTime(time));
}

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
    for (int n = 2; fs::exists(aside); ++n) {
        aside = path + "." + why + "-" + AsideSuffix() + "-" + FormatInt(n);
    }
    std::error_code failed;
    fs::rename(path, aside, failed);
    if (failed) {
        throw HistoryError("cannot rename '" + path + "' aside to '" + aside +
                           "': " + failed.message());
    }
    for (const char* journal : {"-wal", "-shm", "-journal"}) {
        std::error_code ignored;
        if (fs::exists(path + journal, ignored)) {
            fs::rename(path + journal, aside + journal, ignored);
        }
    }
    return aside;
}

std::string MoveVerdict(const MoveTrace& move) {
    if (move.aborted) {
        return outcome::kAborted;
    }
    if (!move.Reported()) {
        return outcome::kUnfinished;
    }
    // Only a move whose every reading arrived may serve as a baseline.
    return move.Measured() ? outcome::kCompleted : outcome::kUnverified;
}

std::string OutcomeOf(const TestRecord& record) {
    if (record.outcome == TestOutcome::Completed) {
        bool unverified = false;
        for (const MoveTrace& move : record.moves) {
            if (move.aborted) {
                return "move aborted";
            }
            unverified = unverified || !move.Measured();
        }
        if (unverified) {
            return outcome::kUnverified;
        }
    }
    return TestOutcomeText(record.outcome);
}

StoredTest ReadTestRow(const sqlite::Statement& row) {
    StoredTest test;
    test.id = row.Int(0);
    test.startedUtc = row.Text(1);
    test.address = row.Text(2);
    test.port = static_cast<int>(row.Int(3));
    test.identity = row.Text(4);
    test.outcome = row.Text(5);
    return test;
}

constexpr const char* kTestColumns = "id, started_utc, address, port, identity, outcome";

}  // namespace

void SplitConnectionText(const std::string& text, std::string& address, int& port,
                         std::string& identity) {
    const std::size_t blank = text.find(' ');
    const std::string endpoint = text.substr(0, blank);
    identity = blank == std::string::npos ? std::string() : text.substr(blank + 1);
    const std::size_t colon = endpoint.rfind(':');
    address = endpoint.substr(0, colon);
    port = 0;
    if (colon != std::string::npos) {
        port = static_cast<int>(ReadNumber(endpoint.substr(colon + 1)));
    }
}

History::History(const std::string& path, Access access) {
    try {
        OpenOrSetAside(path, access);
    } catch (const sqlite::SqliteError& e) {
        throw HistoryError(std::string("'") + path + "': " + e.what());
    }
}

void History::OpenOrSetAside(const std::string& path, Access access) {
    std::error_code noFile;
    if (fs::is_directory(path, noFile)) {
        throw HistoryError("'" + path + "' is a folder, not a history file");
    }
    const bool exists = fs::exists(path, noFile) && fs::file_size(path, noFile) > 0;
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
    db_->Execute("PRAGMA application_id=" + std::to_string(kApplicationId));
    db_->Execute("PRAGMA user_version=" + std::to_string(kSchemaVersion));
    transaction.Commit();
}

std::int64_t History::Add(const TestRecord& record, const TestFiles& files) {
    std::string address;
    std::string identity;
    int port = 0;
    SplitConnectionText(record.identity.value_or(""), address, port, identity);
    sqlite::Transaction transaction(*db_);
    db_->Prepare(
           "INSERT INTO tests (test_number, started_utc, started_local, address, port, "
           "identity, outcome, log_file, report_file, samples_file) "
           "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
        .Bind(1, std::int64_t{record.testNumber})
        .Bind(2, StampUtc(record.startTime))
        .Bind(3, StampLocal(record.startTime))
        .Bind(4, address)
        .Bind(5, std::int64_t{port})
        .Bind(6, identity)
        .Bind(7, OutcomeOf(record))
        .Bind(8, files.log)
        .Bind(9, files.report)
        .Bind(10, files.samples)
        .Step();
    const std::int64_t testId = db_->LastInsertId();

    sqlite::Statement check = db_->Prepare(
        "INSERT INTO check_values (test_id, seq, kind, label, reply) VALUES (?, ?, ?, ?, ?)");
    std::int64_t seq = 0;
    auto addCheck = [&](const char* kind, const std::string& label, const std::string& reply) {
        check.Bind(1, testId).Bind(2, seq++).Bind(3, kind).Bind(4, label).Bind(5, reply).Step();
        check.Reset();
    };
    for (const LoggedReading& reading : record.checks) {
        addCheck("check", reading.label, reading.reply);
    }
    for (const LoggedReading& reading : record.motionOutputs) {
        addCheck("output", reading.label, reading.reply);
    }
    if (record.cnSaved) {
        addCheck("cn", "saved", FormatFixed(*record.cnSaved));
    }
    if (record.cnRestored) {
        addCheck("cn", "restored", FormatInt(*record.cnRestored));
    }

    sqlite::Statement move = db_->Prepare(
        "INSERT INTO moves (test_id, move_index, axis, target, verdict, reason, abort_reading, "
        "max_torque, max_error, final_error, final_position) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    sqlite::Statement sample = db_->Prepare(
        "INSERT INTO samples (move_id, cycle, time_ms, torque, error) VALUES (?, ?, ?, ?, ?)");
    for (const MoveTrace& trace : record.moves) {
        move.Bind(1, testId)
            .Bind(2, std::int64_t{trace.moveIndex})
            .Bind(3, std::string_view(&trace.axis, 1))
            .Bind(4, std::int64_t{trace.target})
            .Bind(5, MoveVerdict(trace))
            .Bind(6, AbortReasonText(trace.abortReason))
            .Bind(7, trace.abortReading)
            .Bind(8, double{trace.maxTorque})
            .Bind(9, double{trace.moveMaxError});
        trace.currentError ? move.Bind(10, *trace.currentError) : move.BindNull(10);
        trace.currentPosition ? move.Bind(11, *trace.currentPosition) : move.BindNull(11);
        move.Step();
        move.Reset();
        const std::int64_t moveId = db_->LastInsertId();
        for (std::size_t cycle = 0; cycle < trace.samples.size(); ++cycle) {
            const TraceSample& s = trace.samples[cycle];
            sample.Bind(1, moveId)
                .Bind(2, static_cast<std::int64_t>(cycle))
                .Bind(3, s.timeMs)
                .Bind(4, double{s.torque})
                .Bind(5, double{s.error})
                .Step();
            sample.Reset();
        }
    }
    transaction.Commit();
    return testId;
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

std::vector<StoredTest> History::LastTests(int limit) {
    std::vector<StoredTest> tests;
    if (!db_) {
        return tests;
    }
    sqlite::Statement query = db_->Prepare(std::string("SELECT ") + kTestColumns +
                                           " FROM tests ORDER BY id DESC LIMIT ?");
    query.Bind(1, std::int64_t{limit > 0 ? limit : -1});
    while (query.Step()) {
        tests.push_back(ReadTestRow(query));
    }
    std::reverse(tests.begin(), tests.end());
    for (StoredTest& test : tests) {
        test.moves = MovesOf(test.id);
    }
    return tests;
}

std::optional<StoredTest> History::Test(std::int64_t id) {
    sqlite::Statement query =
        db_->Prepare(std::string("SELECT ") + kTestColumns + " FROM tests WHERE id = ?");
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
    sqlite::Statement query = db_->Prepare(
        "SELECT m.max_torque, m.max_error, t.started_utc FROM tests t JOIN moves m "
        "ON m.test_id = t.id WHERE t.address = ? AND t.identity = ? AND t.id < ? "
        "AND m.move_index = ? AND m.verdict = ? AND t.outcome <> ? "
        // Earlier versions stored a move whose every reading failed as completed with zeros.
        "AND (m.max_torque <> 0 OR m.max_error <> 0) ORDER BY t.id DESC LIMIT ?");
    query.Bind(1, test.address)
        .Bind(2, test.identity)
        .Bind(3, test.id)
        .Bind(4, std::int64_t{moveIndex})
        .Bind(5, std::string_view(outcome::kCompleted))
        .Bind(6, std::string_view(outcome::kLinkLost))
        .Bind(7, std::int64_t{count});
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
        std::string("SELECT ") + kTestColumns +
        " FROM tests WHERE address = ? AND identity = ? AND id <= ? ORDER BY id DESC LIMIT ?");
    query.Bind(1, test.address)
        .Bind(2, test.identity)
        .Bind(3, test.id)
        .Bind(4, std::int64_t{count});
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
        "t.identity = ? AND m.move_index = ? AND m.verdict = ? AND t.outcome <> ? "
        "ORDER BY t.id DESC LIMIT 1) ORDER BY s.cycle");
    query.Bind(1, address)
        .Bind(2, identity)
        .Bind(3, std::int64_t{moveIndex})
        .Bind(4, std::string_view(outcome::kCompleted))
        .Bind(5, std::string_view(outcome::kLinkLost));
    while (query.Step()) {
        samples.push_back(
            {query.Real(0), static_cast<float>(query.Real(1)), static_cast<float>(query.Real(2))});
    }
    return samples;
}

}  // namespace trevane::history
