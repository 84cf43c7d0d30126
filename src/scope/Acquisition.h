#pragma once

#include <chrono>
#include <cstddef>
#include <optional>

#include "scope/ScopeBuffer.h"

namespace trevane::scope {

enum class Edge { Rising, Falling };

// A crossing of `level` (in the channel's raw value) between two joined records.
struct Trigger {
    std::size_t channel = 0;
    double level = 0;
    Edge edge = Edge::Rising;
};

// The time of the first record after `after` that completes a crossing, if there is one.
std::optional<TimePoint> FindEdge(const ScopeBuffer& buffer, const Trigger& trigger,
                                  TimePoint after, TimePoint until);

// What the scope shows: the records from `start` to `end`, drawn against their time from
// `origin` (the trigger, or the newest record while running free).
struct Frame {
    TimePoint start;
    TimePoint end;
    TimePoint origin;
    bool triggered = false;
};

// Run, single and stop, with or without a trigger, over a buffer that only grows at its end.
// Run without a trigger follows the newest records; with one it holds each captured frame until
// the next trigger fires. Single captures one frame and stops. A quarter of the span lies before
// the trigger.
class Acquisition {
  public:
    enum class Mode { Run, Single, Stop };
    enum class State { Following, Armed, Capturing, Stopped };
    using Duration = std::chrono::steady_clock::duration;

    explicit Acquisition(Duration span = std::chrono::seconds(10)) : span_(span) {}

    // Each of these arms afresh from `now` (the newest record's time).
    void SetSpan(Duration span, TimePoint now);
    void SetTrigger(std::optional<Trigger> trigger, TimePoint now);
    void Run(TimePoint now);
    void Single(TimePoint now);
    void Stop();

    // Looks at the records up to `latest` (the newest record's time) and returns the frame to
    // show. A free-running frame ends at `now`, so that a link gone silent shows as a trace that
    // ends rather than as a picture that stands still.
    Frame Update(const ScopeBuffer& buffer, TimePoint latest, TimePoint now);
    Frame Update(const ScopeBuffer& buffer, TimePoint latest) {
        return Update(buffer, latest, latest);
    }

    Mode GetMode() const { return mode_; }
    State GetState() const { return state_; }
    Duration Span() const { return span_; }
    Duration PreTrigger() const { return span_ / 4; }
    const std::optional<Trigger>& GetTrigger() const { return trigger_; }
    // How many times the trigger fired since the last arming by the operator.
    int Fired() const { return fired_; }

  private:
    void Arm(TimePoint now);
    Frame FollowingFrame(TimePoint latest) const;

    Duration span_;
    std::optional<Trigger> trigger_;
    Mode mode_ = Mode::Run;
    State state_ = State::Following;
    TimePoint searchFrom_{};
    std::optional<Frame> shown_;
    int fired_ = 0;
};

}  // namespace trevane::scope
