#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "scope/RecordValues.h"

namespace trevane::scope {

using TimePoint = std::chrono::steady_clock::time_point;

// Ten missed polls of 10 ms: beyond this two records are not joined by a line, the same age at
// which the status table greys its values.
inline constexpr std::chrono::milliseconds kJoinLimit{100};
inline constexpr std::size_t kMemoryBound = 16 * 1024 * 1024;

// One value of one record as a trace draws it.
struct Point {
    TimePoint time;
    std::int32_t value;
    bool joined;  // a line leads to it from the point before
};

// All 52 values of the last records polled, oldest first, in a fixed ring that never grows:
// nearly thirteen minutes at the status table's 100 polls a second. A failed poll is kept as a gap
// so that a stale link is never drawn as a flat line. Safe to use from several threads.
class ScopeBuffer {
  public:
    // A time, a gap flag and 52 values for every entry, kept value by value so that a trace
    // reads one contiguous run of memory.
    static constexpr std::size_t kEntryBytes =
        sizeof(std::int64_t) + sizeof(bool) + kChannelCount * sizeof(std::int32_t);
    static constexpr std::size_t kCapacity = (kMemoryBound - 4096) / kEntryBytes;

    explicit ScopeBuffer(std::size_t capacity = kCapacity);

    // `record` holds at least record::kMinimumSize bytes. A time earlier than the last entry's
    // starts the buffer afresh: it comes from another clock.
    void AddRecord(TimePoint time, const std::uint8_t* record);
    void AddValues(TimePoint time, const RecordValues& values);
    // A failed poll. Consecutive failures take one entry.
    void AddGap(TimePoint time);
    void Clear();

    std::size_t Size() const;
    std::size_t Capacity() const { return capacity_; }
    // Everything the buffer holds or will hold once full.
    std::size_t MemoryBytes() const { return sizeof(*this) + capacity_ * kEntryBytes; }
    std::optional<TimePoint> Oldest() const;
    std::optional<TimePoint> Latest() const;
    // Counts every entry ever added; a reader redraws only when it changed.
    std::uint64_t Version() const;

    // The points of one channel with `from` <= time <= `to`, oldest first, appended to `out`.
    void Read(std::size_t channel, TimePoint from, TimePoint to, std::vector<Point>& out) const;
    // The records (gaps left out) with `from` <= time <= `to`, oldest first.
    struct Row {
        TimePoint time;
        RecordValues values;
    };
    std::vector<Row> Rows(TimePoint from, TimePoint to) const;

  private:
    void Push(std::int64_t timeNs, const RecordValues* values);
    std::size_t Slot(std::size_t index) const;  // index 0: the oldest entry
    std::size_t FirstAtOrAfter(std::int64_t timeNs) const;

    mutable std::mutex mutex_;
    std::size_t capacity_;
    // Made on first use; pages not yet written cost nothing.
    std::unique_ptr<std::int64_t[]> times_;
    std::unique_ptr<bool[]> gaps_;
    std::unique_ptr<std::int32_t[]> values_;  // channel by channel, `capacity_` each
    std::size_t start_ = 0;
    std::size_t size_ = 0;
    std::uint64_t version_ = 0;
};

}  // namespace trevane::scope
