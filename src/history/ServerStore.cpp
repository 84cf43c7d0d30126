#include "history/ServerStore.h"

#if TREVANE_HAVE_LIBPQ

#include <algorithm>

#include "autotest/Outcomes.h"
#include "common/CLocale.h"
#include "history/Postgres.h"
#include "history/Schema.h"

namespace trevane::history {
namespace {

using pg::NumberText;
using pg::Param;

// Taken by whoever migrates, so that the first technicians to arrive do not race.
constexpr const char* kMigrationLock = "SELECT pg_advisory_xact_lock(1414682184)";  // "TRVH"
// Rows of samples in one INSERT: few round trips, far under the protocol's 65535 parameters.
constexpr std::size_t kSamplesPerInsert = 1000;

constexpr const char* kTestColumns =
    "id, started_utc, address, port, identity, outcome, started_ms, ended_ms";

Param OptionalNumber(const std::optional<std::int64_t>& value) {
    return value ? Param(NumberText(static_cast<long long>(*value))) : Param();
}

StoredTest ReadTest(const pg::Result& rows, int row) {
    StoredTest test;
    test.id = rows.Int(row, 0);
    test.startedUtc = rows.Text(row, 1);
    test.address = rows.Text(row, 2);
    test.port = static_cast<int>(rows.Int(row, 3));
    test.identity = rows.Text(row, 4);
    test.outcome = rows.Text(row, 5);
    if (!rows.IsNull(row, 6) && !rows.IsNull(row, 7)) {
        test.startedMs = rows.Int(row, 6);
        test.endedMs = rows.Int(row, 7);
    }
    return test;
}

// "VALUES ($1, $2), ($3, $4)" for `rows` rows of `columns`.
std::string Placeholders(std::size_t rows, std::size_t columns) {
    std::string text;
    int n = 1;
    for (std::size_t r = 0; r < rows; ++r) {
        text += r == 0 ? "(" : ", (";
        for (std::size_t c = 0; c < columns; ++c) {
            text += (c == 0 ? "$" : ", $") + std::to_string(n++);
        }
        text += ")";
    }
    return text;
}

class ServerStore : public HistoryStore {
  public:
    explicit ServerStore(const ServerAddress& server) : db_(server.conninfo, server.shown) {
        Migrate();
    }

    std::int64_t Put(const TestRow& row) override {
        db_.Execute("BEGIN");
        try {
            const std::int64_t id = PutInTransaction(row);
            db_.Execute("COMMIT");
            return id;
        } catch (...) {
            try {
                db_.Execute("ROLLBACK");
            } catch (...) {
                // The connection is gone; the server rolls back by itself.
            }
            throw;
        }
    }

    std::optional<std::int64_t> IdOf(const std::string& uuid) override {
        const pg::Result rows = db_.Query("SELECT id FROM tests WHERE uuid = $1", {uuid});
        return rows.Rows() > 0 ? std::optional<std::int64_t>(rows.Int(0, 0)) : std::nullopt;
    }

    std::vector<StoredTest> LastTests(const TestQuery& query) override {
        const pg::Result rows = db_.Query(
            std::string("SELECT ") + kTestColumns +
                " FROM tests WHERE ($1 = '' OR strpos(address || ':' || port::text || ' ' || "
                "identity, $1) > 0) AND started_utc >= $2 "
                "ORDER BY started_utc DESC, id DESC LIMIT $3::bigint",
            {query.controller, query.since,
             query.limit > 0 ? Param(NumberText(static_cast<long long>(query.limit))) : Param()});
        std::vector<StoredTest> tests = ReadTests(rows);
        std::reverse(tests.begin(), tests.end());
        return tests;
    }

    std::optional<StoredTest> Test(std::int64_t id) override {
        const pg::Result rows =
            db_.Query(std::string("SELECT ") + kTestColumns + " FROM tests WHERE id = $1",
                      {NumberText(static_cast<long long>(id))});
        if (rows.Rows() == 0) {
            return std::nullopt;
        }
        return ReadTests(rows).front();
    }

    std::vector<StoredMove> EarlierMoves(const StoredTest& test, int moveIndex,
                                         int count) override {
        if (test.address.empty()) {
            return {};
        }
        // Ordered by when the tests ran: a test kept locally for days arrives late. The
        // overlap is unknown (NULL) where either run has no times: kept.
        const pg::Result rows = db_.Query(
            "SELECT m.max_torque, m.max_error, t.started_utc FROM tests t JOIN moves m "
            "ON m.test_id = t.id WHERE t.address = $1 AND t.port = $2 AND t.identity = $3 "
            "AND (t.started_utc, t.id) < ($4, $5) AND m.move_index = $6 AND m.verdict = $7 "
            "AND t.outcome <> $8 AND (m.max_torque <> 0 OR m.max_error <> 0) "
            "AND NOT coalesce(t.started_ms < $10::bigint AND $11::bigint < t.ended_ms, FALSE) "
            "ORDER BY t.started_utc DESC, t.id DESC LIMIT $9",
            {test.address, NumberText(static_cast<long long>(test.port)), test.identity,
             test.startedUtc, NumberText(static_cast<long long>(test.id)),
             NumberText(static_cast<long long>(moveIndex)), std::string(outcome::kCompleted),
             std::string(outcome::kLinkLost), NumberText(static_cast<long long>(count)),
             OptionalNumber(test.endedMs), OptionalNumber(test.startedMs)});
        std::vector<StoredMove> moves;
        for (int r = 0; r < rows.Rows(); ++r) {
            StoredMove move;
            move.moveIndex = moveIndex;
            move.maxTorque = rows.Real(r, 0);
            move.maxError = rows.Real(r, 1);
            move.testStarted = rows.Text(r, 2);
            moves.push_back(move);
        }
        return moves;
    }

    std::vector<StoredTest> RecentTests(const StoredTest& test, int count) override {
        const pg::Result rows = db_.Query(
            std::string("SELECT ") + kTestColumns +
                " FROM tests WHERE address = $1 AND port = $2 AND identity = $3 AND "
                "(started_utc, id) <= ($4, $5) ORDER BY started_utc DESC, id DESC LIMIT $6",
            {test.address, NumberText(static_cast<long long>(test.port)), test.identity,
             test.startedUtc, NumberText(static_cast<long long>(test.id)),
             NumberText(static_cast<long long>(count))});
        std::vector<StoredTest> tests = ReadTests(rows);
        std::reverse(tests.begin(), tests.end());
        return tests;
    }

    std::vector<TraceSample> PreviousTrace(const std::string& connectionText,
                                           int moveIndex) override {
        std::string address;
        std::string identity;
        int port = 0;
        SplitConnectionText(connectionText, address, port, identity);
        const pg::Result rows = db_.Query(
            "SELECT s.time_ms, s.torque, s.error FROM samples s WHERE s.move_id = ("
            "SELECT m.id FROM tests t JOIN moves m ON m.test_id = t.id WHERE t.address = $1 "
            "AND t.port = $2 AND t.identity = $3 AND m.move_index = $4 AND m.verdict = $5 AND "
            "t.outcome <> $6 ORDER BY t.started_utc DESC, t.id DESC LIMIT 1) ORDER BY s.cycle",
            {address, NumberText(static_cast<long long>(port)), identity,
             NumberText(static_cast<long long>(moveIndex)), std::string(outcome::kCompleted),
             std::string(outcome::kLinkLost)});
        std::vector<TraceSample> samples;
        for (int r = 0; r < rows.Rows(); ++r) {
            samples.push_back({rows.Real(r, 0), static_cast<float>(rows.Real(r, 1)),
                               static_cast<float>(rows.Real(r, 2))});
        }
        return samples;
    }

  private:
    void Migrate() {
        db_.Execute("BEGIN");
        try {
            db_.Execute(kMigrationLock);
            // Looked for, not created "if not exists": an account without CREATE may use tables
            // their owner made.
            if (db_.Query("SELECT to_regclass('trevane_schema') IS NULL").Text(0, 0) == "t") {
                db_.Execute("CREATE TABLE trevane_schema (version INTEGER NOT NULL)");
            }
            const pg::Result rows = db_.Query("SELECT max(version) FROM trevane_schema");
            const int version = rows.IsNull(0, 0) ? 0 : static_cast<int>(rows.Int(0, 0));
            if (version > kSchemaVersion) {
                throw HistoryError("the history server holds a newer Trevane's layout (" +
                                   FormatInt(version) + ", this one knows up to " +
                                   FormatInt(kSchemaVersion) + "); it is left as it is");
            }
            for (int step = version; step < kSchemaVersion; ++step) {
                db_.Execute(ForPostgres(kMigrations[step]));
            }
            if (version < kSchemaVersion) {
                db_.Execute("DELETE FROM trevane_schema");
                db_.Execute("INSERT INTO trevane_schema VALUES (" + FormatInt(kSchemaVersion) +
                            ")");
            }
            db_.Execute("COMMIT");
        } catch (...) {
            try {
                db_.Execute("ROLLBACK");
            } catch (...) {
                // Gone with the connection.
            }
            throw;
        }
    }

    std::int64_t PutInTransaction(const TestRow& row) {
        const pg::Result inserted = db_.Query(
            "INSERT INTO tests (test_number, started_utc, started_local, address, port, "
            "identity, outcome, log_file, report_file, samples_file, uuid, started_ms, ended_ms) "
            "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13) "
            "ON CONFLICT (uuid) DO NOTHING RETURNING id",
            {NumberText(static_cast<long long>(row.testNumber)), row.startedUtc, row.startedLocal,
             row.address, NumberText(static_cast<long long>(row.port)), row.identity, row.outcome,
             row.logFile, row.reportFile, row.samplesFile, row.uuid, OptionalNumber(row.startedMs),
             OptionalNumber(row.endedMs)});
        if (inserted.Rows() == 0) {
            // Sent before: stored once.
            return IdOf(row.uuid).value_or(0);
        }
        const std::string testId = inserted.Text(0, 0);
        PutChecks(testId, row.checks);
        for (const MoveRow& move : row.moves) {
            PutMove(testId, move);
        }
        return inserted.Int(0, 0);
    }

    void PutChecks(const std::string& testId, const std::vector<CheckRow>& checks) {
        if (checks.empty()) {
            return;
        }
        std::vector<Param> params;
        for (std::size_t seq = 0; seq < checks.size(); ++seq) {
            params.insert(params.end(), {testId, NumberText(static_cast<long long>(seq)),
                                         checks[seq].kind, checks[seq].label, checks[seq].reply});
        }
        db_.Query("INSERT INTO check_values (test_id, seq, kind, label, reply) VALUES " +
                      Placeholders(checks.size(), 5),
                  params);
    }

    void PutMove(const std::string& testId, const MoveRow& move) {
        const pg::Result inserted = db_.Query(
            "INSERT INTO moves (test_id, move_index, axis, target, verdict, reason, "
            "abort_reading, max_torque, max_error, final_error, final_position) VALUES "
            "($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11) RETURNING id",
            {testId, NumberText(static_cast<long long>(move.moveIndex)), move.axis,
             NumberText(static_cast<long long>(move.target)), move.verdict, move.reason,
             move.abortReading, NumberText(move.maxTorque), NumberText(move.maxError),
             move.finalError, move.finalPosition});
        const std::string moveId = inserted.Text(0, 0);
        for (std::size_t from = 0; from < move.samples.size(); from += kSamplesPerInsert) {
            const std::size_t to = std::min(move.samples.size(), from + kSamplesPerInsert);
            std::vector<Param> params;
            for (std::size_t cycle = from; cycle < to; ++cycle) {
                const SampleRow& s = move.samples[cycle];
                params.insert(params.end(),
                              {moveId, NumberText(static_cast<long long>(cycle)),
                               NumberText(s.timeMs), NumberText(s.torque), NumberText(s.error)});
            }
            db_.Query("INSERT INTO samples (move_id, cycle, time_ms, torque, error) VALUES " +
                          Placeholders(to - from, 5),
                      params);
        }
    }

    std::vector<StoredTest> ReadTests(const pg::Result& rows) {
        std::vector<StoredTest> tests;
        for (int r = 0; r < rows.Rows(); ++r) {
            tests.push_back(ReadTest(rows, r));
        }
        AddMoves(tests);
        return tests;
    }

    // One query for the moves of every test listed.
    void AddMoves(std::vector<StoredTest>& tests) {
        if (tests.empty()) {
            return;
        }
        std::string ids = "{";
        for (const StoredTest& test : tests) {
            ids += (ids.size() > 1 ? "," : "") + NumberText(static_cast<long long>(test.id));
        }
        ids += "}";
        const pg::Result rows = db_.Query(
            "SELECT test_id, move_index, axis, target, verdict, reason, max_torque, max_error "
            "FROM moves WHERE test_id = ANY($1::bigint[]) ORDER BY test_id, move_index",
            {ids});
        for (int r = 0; r < rows.Rows(); ++r) {
            const std::int64_t testId = rows.Int(r, 0);
            const auto test = std::find_if(tests.begin(), tests.end(),
                                           [&](const StoredTest& t) { return t.id == testId; });
            StoredMove move;
            move.moveIndex = static_cast<int>(rows.Int(r, 1));
            const std::string axis = rows.Text(r, 2);
            move.axis = axis.empty() ? '?' : axis[0];
            move.target = static_cast<int>(rows.Int(r, 3));
            move.verdict = rows.Text(r, 4);
            move.reason = rows.Text(r, 5);
            move.maxTorque = rows.Real(r, 6);
            move.maxError = rows.Real(r, 7);
            test->moves.push_back(std::move(move));
        }
    }

    pg::Connection db_;
};

}  // namespace

bool ServerStoreAvailable() {
    return true;
}

std::unique_ptr<HistoryStore> OpenServerStore(const ServerAddress& server) {
    return std::make_unique<ServerStore>(server);
}

}  // namespace trevane::history

#else

namespace trevane::history {

bool ServerStoreAvailable() {
    return false;
}

std::unique_ptr<HistoryStore> OpenServerStore(const ServerAddress&) {
    throw HistoryError(
        "this build has no PostgreSQL client: a history server cannot be used here (the "
        "history stays in trevane-history.sqlite)");
}

}  // namespace trevane::history

#endif
