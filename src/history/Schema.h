#pragma once

#include <iterator>
#include <string>

// The history's tables, version by version, for the SQLite file and the PostgreSQL database
// alike; ForPostgres() says the few words PostgreSQL spells otherwise.
namespace trevane::history {

inline constexpr const char* kSchemaV1 = R"sql(
CREATE TABLE tests (
    id INTEGER PRIMARY KEY,
    test_number INTEGER NOT NULL,
    started_utc TEXT NOT NULL,
    started_local TEXT NOT NULL,
    address TEXT NOT NULL,
    port INTEGER NOT NULL,
    identity TEXT NOT NULL,
    outcome TEXT NOT NULL,
    log_file TEXT NOT NULL,
    report_file TEXT,
    samples_file TEXT
);
CREATE INDEX tests_by_controller ON tests (address, identity, id);
CREATE TABLE check_values (
    test_id INTEGER NOT NULL REFERENCES tests (id),
    seq INTEGER NOT NULL,
    kind TEXT NOT NULL,
    label TEXT NOT NULL,
    reply TEXT NOT NULL,
    PRIMARY KEY (test_id, seq)
) WITHOUT ROWID;
CREATE TABLE moves (
    id INTEGER PRIMARY KEY,
    test_id INTEGER NOT NULL REFERENCES tests (id),
    move_index INTEGER NOT NULL,
    axis TEXT NOT NULL,
    target INTEGER NOT NULL,
    verdict TEXT NOT NULL,
    reason TEXT NOT NULL,
    abort_reading TEXT,
    max_torque REAL NOT NULL,
    max_error REAL NOT NULL,
    final_error TEXT,
    final_position TEXT
);
CREATE INDEX moves_by_test ON moves (test_id, move_index);
CREATE TABLE samples (
    move_id INTEGER NOT NULL REFERENCES moves (id),
    cycle INTEGER NOT NULL,
    time_ms REAL NOT NULL,
    torque REAL NOT NULL,
    error REAL NOT NULL,
    PRIMARY KEY (move_id, cycle)
) WITHOUT ROWID;
)sql";

// Every test gets an identity of its own, so that a test sent twice is stored once; the local
// file notes which tests the server has taken. One controller is its address, port and identity;
// the file orders its tests as they were stored, the server as they ran (a test kept locally for
// days arrives late), each with an index of its own.
inline constexpr const char* kSchemaV2 = R"sql(
ALTER TABLE tests ADD COLUMN uuid TEXT;
CREATE UNIQUE INDEX tests_by_uuid ON tests (uuid);
DROP INDEX tests_by_controller;
CREATE INDEX tests_by_controller ON tests (address, port, identity, id);
CREATE INDEX tests_by_controller_time ON tests (address, port, identity, started_utc, id);
CREATE INDEX tests_by_time ON tests (started_utc, id);
CREATE TABLE sent (
    uuid TEXT PRIMARY KEY
) WITHOUT ROWID;
)sql";

// When each test ran, start to end, in milliseconds since 1970 (UTC): a test never serves as the
// baseline of one it overlapped. Tests stored before have neither (NULL).
inline constexpr const char* kSchemaV3 = R"sql(
ALTER TABLE tests ADD COLUMN started_ms INTEGER;
ALTER TABLE tests ADD COLUMN ended_ms INTEGER;
)sql";

// PRAGMA user_version (SQLite) and trevane_schema.version (PostgreSQL) of the layout this build
// writes; older ones are migrated up to it.
inline constexpr int kSchemaVersion = 3;

// Each entry takes the layout from version i to i + 1.
inline constexpr const char* kMigrations[] = {kSchemaV1, kSchemaV2, kSchemaV3};
static_assert(std::size(kMigrations) == kSchemaVersion);

// The same statements in PostgreSQL's words.
std::string ForPostgres(const std::string& sql);

}  // namespace trevane::history
