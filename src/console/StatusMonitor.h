#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/RecordLayout.h"

namespace trevane {

// The data-record request of every poll.
inline constexpr const char* kRecordQuery = "QR IXYZW";

extern std::array<std::uint8_t, record::kMinimumSize> g_record;
extern std::array<std::array<bool, 16>, 4> g_axisStatusFlags;
extern std::array<std::array<bool, 8>, 4> g_axisSwitchFlags;
// The record, the flags and the scope they feed, as at start. For tests.
void ResetConsoleState();

// The status table's thirteen row labels, top to bottom, and its five column headings.
extern const std::array<const char*, 13> kStatusRowLabels;
extern const std::array<const char*, 5> kStatusColumnHeadings;
// One value's name wherever values are listed by name (CSV columns): "X refpos".
std::string StatusFieldName(std::size_t axis, std::size_t row);
// The same value's name where scripts read it (JSON, CSV), its unit named: "refpos_counts".
// Two rows also have a name in volts, as the status table's tooltip computes them.
struct RecordField {
    const char* name;
    const char* voltsName;  // nullptr: no volts
};
extern const std::array<RecordField, 13> kRecordFields;
// "X_refpos_counts": a CSV column of `record --watch --csv` and of the Scope's export.
std::string RecordFieldName(std::size_t axis, std::size_t row);

// The progress timer's tick (IDT_PROGRESS): shows g_testProgress on the progress bar.
void OnProgressTick();

// The window's timer handler: IDT_STATUS polls, IDT_PROGRESS shows the test progress.
void OnTimer(int id);

// One poll: a record from g_recordController, decoded into the 52 cells. A failed request or a
// record shorter than 152 bytes abandons the poll silently. Returns true when the cells were
// written (for the window's link-health display).
bool UpdateStatusTable();

void DecodeAxisFlags();

// The thirteen cell texts of one axis (0..3) of a 152-byte record, as the table shows them.
std::array<std::string, 13> DecodeAxisColumn(const std::uint8_t* record, int axis);

}  // namespace trevane
