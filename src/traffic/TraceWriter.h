#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "traffic/TrafficRecorder.h"

// A trace file: every exchange a recorder sees, one FormatTraceLine a line, record polls one by
// one (not sampled). The CLI's --trace and the Traffic window's recording both write it.
namespace trevane {

class TraceWriter {
  public:
    explicit TraceWriter(TrafficRecorder& recorder = Traffic());
    ~TraceWriter();  // stops writing
    TraceWriter(const TraceWriter&) = delete;
    TraceWriter& operator=(const TraceWriter&) = delete;

    // Starts `path` empty (after a recording under way has stopped) and takes the recorder's
    // sink. Returns "'PATH': why" when the file cannot be written.
    std::optional<std::string> Start(const std::string& path);
    // Gives the sink back; returns what went wrong meanwhile ("'PATH': first failure (N exchange
    // line(s) not written)"), or nothing when every line is in the file.
    std::optional<std::string> Stop();

    bool Recording() const { return state_ != nullptr; }
    std::string Path() const;
    std::uint64_t LinesWritten() const;
    std::uint64_t LinesLost() const;

  private:
    struct State;
    TrafficRecorder& recorder_;
    std::shared_ptr<State> state_;
};

}  // namespace trevane
