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
// about twelve minutes at the status table's 100 polls a second. A failed poll is kept as a gap
// so that a stale link is never drawn as a flat line. Safe to use from several threads.
class ScopeBuffer {
  public:
    struct Entry {
        std::int64_t timeNs;
        bool gap;
        RecordValues values;
    };
    static constexpr std::size_t kCapacity = kMemoryBound / sizeof(Entry) - 1;

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
    std::size_t MemoryBytes() const { return sizeof(*this) + capacity_ * sizeof(Entry); }
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
    void Push(std::int64_t timeNs, bool gap, const RecordValues* values);
    const Entry& At(std::size_t index) const;  // 0: oldest
    std::size_t FirstAtOrAfter(std::int64_t timeNs) const;

    mutable std::mutex mutex_;
    std::size_t capacity_;
    std::unique_ptr<Entry[]> entries_;  // made on first use; untouched pages cost nothing
    std::size_t start_ = 0;
    std::size_t size_ = 0;
    std::uint64_t version_ = 0;
};

// The buffer that the status monitor feeds with every record it polls.
ScopeBuffer& StatusScopeBuffer();

}  // namespace trevane::scope
