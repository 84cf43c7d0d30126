#pragma once

#include <iterator>

#include "history/History.h"

// The history file's tables, version by version.
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

// Each entry takes the layout from version i to i + 1.
inline constexpr const char* kMigrations[] = {kSchemaV1};
static_assert(std::size(kMigrations) == kSchemaVersion);

}  // namespace trevane::history
