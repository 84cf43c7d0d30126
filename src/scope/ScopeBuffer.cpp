#include "scope/ScopeBuffer.h"

#include <algorithm>

namespace trevane::scope {
namespace {

std::int64_t Nanoseconds(TimePoint time) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

TimePoint FromNanoseconds(std::int64_t ns) {
    return TimePoint(std::chrono::duration_cast<TimePoint::duration>(std::chrono::nanoseconds(ns)));
}

constexpr std::int64_t kJoinLimitNs =
    std::chrono::duration_cast<std::chrono::nanoseconds>(kJoinLimit).count();

}  // namespace

static_assert(ScopeBuffer::kCapacity >= 10 * 60 * 100, "ten minutes at 100 polls a second");

ScopeBuffer::ScopeBuffer(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {}

void ScopeBuffer::AddRecord(TimePoint time, const std::uint8_t* record) {
    const RecordValues values = DecodeRecordValues(record);
    AddValues(time, values);
}

void ScopeBuffer::AddValues(TimePoint time, const RecordValues& values) {
    std::lock_guard lock(mutex_);
    Push(Nanoseconds(time), false, &values);
}

void ScopeBuffer::AddGap(TimePoint time) {
    std::lock_guard lock(mutex_);
    if (size_ > 0 && At(size_ - 1).gap) {
        return;
    }
    Push(Nanoseconds(time), true, nullptr);
}

void ScopeBuffer::Push(std::int64_t timeNs, bool gap, const RecordValues* values) {
    if (size_ > 0 && timeNs < At(size_ - 1).timeNs) {
        start_ = 0;
        size_ = 0;
    }
    if (!entries_) {
        entries_ = std::make_unique_for_overwrite<Entry[]>(capacity_);
    }
    std::size_t slot;
    if (size_ < capacity_) {
        slot = (start_ + size_) % capacity_;
        ++size_;
    } else {
        slot = start_;
        start_ = (start_ + 1) % capacity_;
    }
    Entry& entry = entries_[slot];
    entry.timeNs = timeNs;
    entry.gap = gap;
    if (values != nullptr) {
        entry.values = *values;
    }
    ++version_;
}

void ScopeBuffer::Clear() {
    std::lock_guard lock(mutex_);
    start_ = 0;
    size_ = 0;
    ++version_;
}

std::size_t ScopeBuffer::Size() const {
    std::lock_guard lock(mutex_);
    return size_;
}

std::uint64_t ScopeBuffer::Version() const {
    std::lock_guard lock(mutex_);
    return version_;
}

std::optional<TimePoint> ScopeBuffer::Oldest() const {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < size_; ++i) {
        if (!At(i).gap) {
            return FromNanoseconds(At(i).timeNs);
        }
    }
    return std::nullopt;
}

std::optional<TimePoint> ScopeBuffer::Latest() const {
    std::lock_guard lock(mutex_);
    for (std::size_t i = size_; i > 0; --i) {
        if (!At(i - 1).gap) {
            return FromNanoseconds(At(i - 1).timeNs);
        }
    }
    return std::nullopt;
}

const ScopeBuffer::Entry& ScopeBuffer::At(std::size_t index) const {
    return entries_[(start_ + index) % capacity_];
}

std::size_t ScopeBuffer::FirstAtOrAfter(std::int64_t timeNs) const {
    std::size_t low = 0;
    std::size_t high = size_;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (At(middle).timeNs < timeNs) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

void ScopeBuffer::Read(std::size_t channel, TimePoint from, TimePoint to,
                       std::vector<Point>& out) const {
    if (channel >= kChannelCount) {
        return;
    }
    std::lock_guard lock(mutex_);
    const std::int64_t fromNs = Nanoseconds(from);
    const std::int64_t toNs = Nanoseconds(to);
    std::size_t index = FirstAtOrAfter(fromNs);
    // The entry before the range decides whether the first point is joined.
    bool previousGood = false;
    std::int64_t previousNs = 0;
    if (index > 0) {
        previousGood = !At(index - 1).gap;
        previousNs = At(index - 1).timeNs;
    }
    for (; index < size_; ++index) {
        const Entry& entry = At(index);
        if (entry.timeNs > toNs) {
            break;
        }
        if (!entry.gap) {
            const bool joined = previousGood && entry.timeNs - previousNs <= kJoinLimitNs;
            out.push_back({FromNanoseconds(entry.timeNs), entry.values[channel], joined});
        }
        previousGood = !entry.gap;
        previousNs = entry.timeNs;
    }
}

std::vector<ScopeBuffer::Row> ScopeBuffer::Rows(TimePoint from, TimePoint to) const {
    std::vector<Row> rows;
    std::lock_guard lock(mutex_);
    const std::int64_t toNs = Nanoseconds(to);
    for (std::size_t index = FirstAtOrAfter(Nanoseconds(from)); index < size_; ++index) {
        const Entry& entry = At(index);
        if (entry.timeNs > toNs) {
            break;
        }
        if (!entry.gap) {
            rows.push_back({FromNanoseconds(entry.timeNs), entry.values});
        }
    }
    return rows;
}

ScopeBuffer& StatusScopeBuffer() {
    static ScopeBuffer buffer;
    return buffer;
}

}  // namespace trevane::scope
