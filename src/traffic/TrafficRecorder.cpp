#include "traffic/TrafficRecorder.h"

#include <utility>

#include "common/CLocale.h"

namespace trevane {

std::string FormatTrafficLine(const TrafficEntry& entry) {
    using namespace std::chrono;
    const auto millis = duration_cast<milliseconds>(entry.time.time_since_epoch()).count() % 1000;
    const std::string ms = FormatInt(millis < 0 ? millis + 1000 : millis);
    std::string line =
        FormatTimeC("%x %X", ToLocalTime(entry.time)) + "." + std::string(3 - ms.size(), '0') + ms;
    for (const std::string* field : {&entry.request, &entry.reply, &entry.acknowledgement}) {
        if (field == &entry.request) {
            line += '\t';
            line += entry.session;
        }
        line += '\t';
        line += *field;
    }
    line += '\t';
    line += FormatInt(entry.microseconds);
    line += '\t';
    // The reason is controller or system text: escaped so that it cannot break the line.
    line += EscapeBytes(entry.reason);
    return line;
}

std::string FormatTraceLine(const TrafficEntry& entry) {
    return FormatTrafficLine(entry) + '\t' + EscapeBytes(entry.bytes);
}

bool TrafficRecorder::KeepLocked(const TrafficEntry& entry) {
    if (!entry.IsRecordPoll()) {
        return true;
    }
    ++recordPolls_;
    if (entry.Failed() || !lastKeptPoll_ || entry.time - *lastKeptPoll_ >= kRecordSampling ||
        entry.time < *lastKeptPoll_) {
        if (!entry.Failed()) {
            lastKeptPoll_ = entry.time;
        }
        return true;
    }
    return false;
}

void TrafficRecorder::Add(TrafficEntry entry) {
    std::shared_ptr<Sink> sink;
    std::optional<TrafficEntry> forSink;
    {
        std::lock_guard lock(mutex_);
        entry.sequence = ++sequence_;
        sink = sink_;
        if (sink) {
            forSink = entry;
        }
        // Only a trace keeps a reply's bytes; the list keeps its summary.
        entry.bytes.clear();
        if (entry.Failed()) {
            lastFailure_ = entry;
        }
        if (KeepLocked(entry)) {
            if (entries_.size() == kCapacity) {
                entries_.pop_front();
            }
            // Moved, not copied: the recorder sits in every exchange's path.
            entries_.push_back(std::move(entry));
        }
    }
    if (sink) {
        std::lock_guard calls(sinkMutex_);
        // Looked up again: once SetSink has returned, the sink it replaced is never called.
        {
            std::lock_guard lock(mutex_);
            sink = sink_;
        }
        if (sink) {
            (*sink)(*forSink);
        }
    }
}

std::vector<TrafficEntry> TrafficRecorder::Snapshot() const {
    std::lock_guard lock(mutex_);
    return {entries_.begin(), entries_.end()};
}

std::vector<TrafficEntry> TrafficRecorder::Since(std::uint64_t sequence) const {
    std::lock_guard lock(mutex_);
    // Sequences rise along the list, so the newer part is found from the back.
    auto first = entries_.end();
    while (first != entries_.begin() && std::prev(first)->sequence > sequence) {
        --first;
    }
    return {first, entries_.end()};
}

std::uint64_t TrafficRecorder::LastSequence() const {
    std::lock_guard lock(mutex_);
    return sequence_;
}

std::uint64_t TrafficRecorder::RecordPolls() const {
    std::lock_guard lock(mutex_);
    return recordPolls_;
}

std::optional<TrafficEntry> TrafficRecorder::LastFailure() const {
    std::lock_guard lock(mutex_);
    return lastFailure_;
}

std::string TrafficRecorder::LastError() const {
    std::lock_guard lock(mutex_);
    return lastFailure_ ? lastFailure_->reason : std::string();
}

void TrafficRecorder::Clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
    recordPolls_ = 0;
    lastKeptPoll_.reset();
    lastFailure_.reset();
}

void TrafficRecorder::SetSink(Sink sink) {
    // Waits for a call of the old sink under way.
    std::lock_guard calls(sinkMutex_);
    std::lock_guard lock(mutex_);
    sink_ = sink ? std::make_shared<Sink>(std::move(sink)) : nullptr;
}

void TrafficRecorder::WatchExchanges(ExchangeWatcher watcher) {
    std::lock_guard lock(mutex_);
    watcher_ = std::move(watcher);
}

TrafficRecorder::ExchangeWatcher TrafficRecorder::Watcher() const {
    std::lock_guard lock(mutex_);
    return watcher_;
}

}  // namespace trevane
