#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "common/RecordLayout.h"
#include "scope/ScopeBuffer.h"

namespace trevane {

// The data-record request of every poll.
inline constexpr const char* kRecordQuery = "QR IXYZW";

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

class ControllerLink;

// One controller's status table: each poll (every 10 ms while connected) asks the record
// session for a data record, decodes it for the operator and feeds the scope's buffer, once
// something has asked for that buffer.
class StatusMonitor {
  public:
    explicit StatusMonitor(ControllerLink& link);
    StatusMonitor(const StatusMonitor&) = delete;
    StatusMonitor& operator=(const StatusMonitor&) = delete;

    // One poll: a record from the record session, decoded into the 52 values the operator is
    // shown. A failed request or a record shorter than 152 bytes abandons the poll silently.
    // Returns true when the values were shown (for the window's link-health display).
    bool Poll();
    // The last record decoded (zeros before the first).
    std::array<std::uint8_t, record::kMinimumSize> Record() const;
    // The scope's buffer, made on the first call: from then on every poll feeds it, so a
    // controller nobody watches that way (one of a fleet) costs no buffer.
    scope::ScopeBuffer& Scope();
    // The buffer when it has been made, else null.
    scope::ScopeBuffer* ScopeIfMade() const { return scope_.load(); }

  private:
    void AddGap();

    ControllerLink& link_;
    mutable std::mutex recordMutex_;
    std::array<std::uint8_t, record::kMinimumSize> record_{};
    std::mutex scopeMutex_;
    std::unique_ptr<scope::ScopeBuffer> scopeBuffer_;  // under scopeMutex_
    std::atomic<scope::ScopeBuffer*> scope_{nullptr};
};

// The thirteen cell texts of one axis (0..3) of a 152-byte record, as the table shows them.
std::array<std::string, 13> DecodeAxisColumn(const std::uint8_t* record, int axis);

}  // namespace trevane
