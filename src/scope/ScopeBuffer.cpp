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
    Push(Nanoseconds(time), &values);
}

void ScopeBuffer::AddGap(TimePoint time) {
    std::lock_guard lock(mutex_);
    if (size_ > 0 && gaps_[Slot(size_ - 1)]) {
        return;
    }
    Push(Nanoseconds(time), nullptr);
}

void ScopeBuffer::Push(std::int64_t timeNs, const RecordValues* values) {
    if (size_ > 0 && timeNs < times_[Slot(size_ - 1)]) {
        start_ = 0;
        size_ = 0;
    }
    if (!times_) {
        times_ = std::make_unique_for_overwrite<std::int64_t[]>(capacity_);
        gaps_ = std::make_unique_for_overwrite<bool[]>(capacity_);
        values_ = std::make_unique_for_overwrite<std::int32_t[]>(capacity_ * kChannelCount);
    }
    std::size_t slot;
    if (size_ < capacity_) {
        slot = Slot(size_);
        ++size_;
    } else {
        slot = start_;
        start_ = Slot(1);
    }
    times_[slot] = timeNs;
    gaps_[slot] = values == nullptr;
    if (values != nullptr) {
        for (std::size_t channel = 0; channel < kChannelCount; ++channel) {
            values_[channel * capacity_ + slot] = (*values)[channel];
        }
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
        if (!gaps_[Slot(i)]) {
            return FromNanoseconds(times_[Slot(i)]);
        }
    }
    return std::nullopt;
}

std::optional<TimePoint> ScopeBuffer::Latest() const {
    std::lock_guard lock(mutex_);
    for (std::size_t i = size_; i > 0; --i) {
        if (!gaps_[Slot(i - 1)]) {
            return FromNanoseconds(times_[Slot(i - 1)]);
        }
    }
    return std::nullopt;
}

std::size_t ScopeBuffer::Slot(std::size_t index) const {
    const std::size_t slot = start_ + index;
    return slot < capacity_ ? slot : slot - capacity_;
}

std::size_t ScopeBuffer::FirstAtOrAfter(std::int64_t timeNs) const {
    std::size_t low = 0;
    std::size_t high = size_;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (times_[Slot(middle)] < timeNs) {
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
    if (size_ == 0) {
        return;
    }
    const std::int64_t toNs = Nanoseconds(to);
    std::size_t index = FirstAtOrAfter(Nanoseconds(from));
    // The entry before the range decides whether the first point is joined.
    bool previousGood = index > 0 && !gaps_[Slot(index - 1)];
    std::int64_t previousNs = index > 0 ? times_[Slot(index - 1)] : 0;
    const std::int32_t* values = values_.get() + channel * capacity_;
    for (; index < size_; ++index) {
        const std::size_t slot = Slot(index);
        const std::int64_t timeNs = times_[slot];
        if (timeNs > toNs) {
            break;
        }
        const bool gap = gaps_[slot];
        if (!gap) {
            const bool joined = previousGood && timeNs - previousNs <= kJoinLimitNs;
            out.push_back({FromNanoseconds(timeNs), values[slot], joined});
        }
        previousGood = !gap;
        previousNs = timeNs;
    }
}

std::vector<ScopeBuffer::Row> ScopeBuffer::Rows(TimePoint from, TimePoint to) const {
    std::vector<Row> rows;
    std::lock_guard lock(mutex_);
    const std::int64_t toNs = Nanoseconds(to);
    for (std::size_t index = FirstAtOrAfter(Nanoseconds(from)); index < size_; ++index) {
        const std::size_t slot = Slot(index);
        if (times_[slot] > toNs) {
            break;
        }
        if (!gaps_[slot]) {
            Row& row = rows.emplace_back();
            row.time = FromNanoseconds(times_[slot]);
            for (std::size_t channel = 0; channel < kChannelCount; ++channel) {
                row.values[channel] = values_[channel * capacity_ + slot];
            }
        }
    }
    return rows;
}

}  // namespace trevane::scope
