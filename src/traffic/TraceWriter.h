#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/QueuedOutput.h"
#include "traffic/TrafficRecorder.h"

// A trace file: every exchange a recorder sees, one FormatTraceLine a line, record polls one by
// one (not sampled). The CLI's --trace and the Traffic window's recording both write it.
// No exchange ever waits for the file: the lines leave through a bounded queue written by a
// thread of the trace's own, and what does not fit is counted as lost.
namespace trevane {

class TraceWriter {
  public:
    // About 25 s of the busiest traffic (the record session's 100 polls a second and the
    // command session's) for a file that stalls, and room for a few program uploads; beyond
    // that a stalled reader costs lines, not memory or the command path.
    static constexpr QueueBound kQueueBound{4096, 8u << 20};
    // How long Start waits for the header to be written before it records on regardless (a pipe
    // whose reader is slow), and how long Stop lets the queue drain before it counts the rest
    // as lost: both short enough for the window's thread, long enough for a healthy disk.
    static constexpr std::chrono::milliseconds kStartBound{1000};
    static constexpr std::chrono::milliseconds kStopBound{1000};

    explicit TraceWriter(TrafficRecorder& recorder);
    ~TraceWriter();  // stops writing
    TraceWriter(const TraceWriter&) = delete;
    TraceWriter& operator=(const TraceWriter&) = delete;

    // Starts `path` empty (after a recording under way has stopped) and takes the recorder's
    // sink. Returns "'PATH': why" when the file cannot be written.
    std::optional<std::string> Start(const std::string& path);
    // The same onto an output that is already queued (the CLI's standard output), so that the
    // trace and the rest of that output keep their order; `name` is what messages call it.
    // The output stays open after Stop.
    std::optional<std::string> Start(const std::string& name, std::shared_ptr<QueuedOutput> onto);
    // Gives the sink back; returns what went wrong meanwhile ("'PATH': first failure (N exchange
    // line(s) not written)"), or nothing when every line is in the file. Bounded by kStopBound.
    std::optional<std::string> Stop();

    bool Recording() const { return state_ != nullptr; }
    std::string Path() const;
    std::uint64_t LinesWritten() const;
    std::uint64_t LinesLost() const;

  private:
    struct State;
    void Record(std::shared_ptr<State> state);

    TrafficRecorder& recorder_;
    std::shared_ptr<State> state_;
};

}  // namespace trevane
