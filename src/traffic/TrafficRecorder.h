#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/TraceFormat.h"
#include "protocol/MotionClient.h"

// Every exchange of both controller sessions, for a traffic window and for trace files.
namespace trevane {

struct TappedExchange;

struct TrafficEntry {
    std::uint64_t sequence = 0;                  // 1, 2, ... in the order the exchanges ended
    std::chrono::system_clock::time_point time;  // when the exchange began
    const char* session = "command";             // "command" or "record"
    std::string request;                         // escaped, terminator included
    std::string reply;                           // escaped; "record, 152 bytes" for a data record
    std::string acknowledgement;    // ":" or "?"; "" when none came (timeout, broken link)
    std::int64_t microseconds = 0;  // round trip
    std::string reason;             // a rejection's "TC1" answer, or what failed; "" for a success
    std::string bytes;              // a data record's or an upload's reply, for trace files only

    bool Failed() const { return acknowledgement != ":"; }
    bool IsRecordPoll() const { return std::string_view(session) == "record"; }
};

// "time\tsession\trequest\treply\tacknowledgement\tmicroseconds\treason", no line end; the time
// as the log stamps it, with milliseconds: "12/07/26 17:35:01.123".
std::string FormatTrafficLine(const TrafficEntry& entry);
// The trace file's line: FormatTrafficLine's fields, then the escaped bytes of a data record or
// an upload ("" for other exchanges), so that a trace can be served again.
std::string FormatTraceLine(const TrafficEntry& entry);
// The first line of a trace file; the "#" lets a reader skip it.
inline constexpr const char* kTraceHeader =
    "#time\tsession\trequest\treply\tacknowledgement\tmicroseconds\treason\tbytes";

// Bounded and thread-safe: exchanges come from the window's thread, the test thread and the
// status monitor at once. Record polls (100 a second) are counted, and kept one a second plus
// every failed one; everything else is kept, the last 10,000 entries.
class TrafficRecorder {
  public:
    static constexpr std::size_t kCapacity = 10000;
    static constexpr std::chrono::seconds kRecordSampling{1};

    // Every exchange, sampled or not, right after it is counted. Called on the exchanging
    // thread, one call at a time; it must not call back into the recorder, and must not wait
    // for anything (a file, a pipe): a stop to the controller may be the exchange it holds up.
    using Sink = std::function<void(const TrafficEntry&)>;

    void Add(TrafficEntry entry);

    std::vector<TrafficEntry> Snapshot() const;
    // The kept entries whose sequence is above `sequence`, oldest first.
    std::vector<TrafficEntry> Since(std::uint64_t sequence) const;
    std::uint64_t LastSequence() const;
    std::uint64_t RecordPolls() const;  // seen, kept or not
    // The most recent failed exchange, kept even when it has left the bounded list.
    std::optional<TrafficEntry> LastFailure() const;
    // "1 Unrecognized command": the reason of the last failure, "" when there was none.
    std::string LastError() const;

    void Clear();

    // Told of every exchange as its caller saw it, on the exchanging thread after the exchange;
    // null removes it.
    using ExchangeWatcher = std::function<void(const TappedExchange&)>;
    void WatchExchanges(ExchangeWatcher watcher);
    ExchangeWatcher Watcher() const;
    // Once it returns, the sink it replaced is not running and is never called again.
    void SetSink(Sink sink);

  private:
    bool KeepLocked(const TrafficEntry& entry);

    mutable std::mutex mutex_;
    std::deque<TrafficEntry> entries_;
    std::uint64_t sequence_ = 0;
    std::uint64_t recordPolls_ = 0;
    std::optional<std::chrono::system_clock::time_point> lastKeptPoll_;
    std::optional<TrafficEntry> lastFailure_;
    std::mutex sinkMutex_;        // taken before mutex_
    std::shared_ptr<Sink> sink_;  // under mutex_; called under sinkMutex_
    ExchangeWatcher watcher_;     // under mutex_
};

}  // namespace trevane
