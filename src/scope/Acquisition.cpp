#include "scope/Acquisition.h"

#include <algorithm>
#include <vector>

namespace trevane::scope {
namespace {

bool Crosses(const Trigger& trigger, double before, double after) {
    if (trigger.edge == Edge::Rising) {
        return before < trigger.level && after >= trigger.level;
    }
    return before > trigger.level && after <= trigger.level;
}

}  // namespace

std::optional<TimePoint> FindEdge(const ScopeBuffer& buffer, const Trigger& trigger,
                                  TimePoint after, TimePoint until) {
    std::vector<Point> points;
    // The record before `after` may be the first half of a crossing.
    buffer.Read(trigger.channel, after - kJoinLimit, until, points);
    for (std::size_t i = 1; i < points.size(); ++i) {
        if (points[i].time > after && points[i].joined &&
            Crosses(trigger, points[i - 1].value, points[i].value)) {
            return points[i].time;
        }
    }
    return std::nullopt;
}

void Acquisition::SetSpan(Duration span, TimePoint now) {
    span_ = span;
    if (mode_ != Mode::Stop) {
        Arm(now);
    }
}

void Acquisition::SetTrigger(std::optional<Trigger> trigger, TimePoint now) {
    trigger_ = trigger;
    if (mode_ != Mode::Stop) {
        Arm(now);
    }
}

void Acquisition::Run(TimePoint now) {
    mode_ = Mode::Run;
    Arm(now);
}

void Acquisition::Single(TimePoint now) {
    mode_ = Mode::Single;
    Arm(now);
}

void Acquisition::Stop() {
    mode_ = Mode::Stop;
    state_ = State::Stopped;
}

void Acquisition::Arm(TimePoint now) {
    fired_ = 0;
    searchFrom_ = now;
    // A new arming shows live records until its first capture.
    shown_.reset();
    if (trigger_) {
        state_ = State::Armed;
    } else if (mode_ == Mode::Single) {
        // Without a trigger a single shot is the next whole span.
        shown_ = Frame{now, now + span_, now, false};
        state_ = State::Capturing;
    } else {
        state_ = State::Following;
    }
}

Frame Acquisition::FollowingFrame(TimePoint latest) const {
    return {latest - span_, latest, latest, false};
}

Frame Acquisition::Update(const ScopeBuffer& buffer, TimePoint latest, TimePoint now) {
    const TimePoint followed = std::max(latest, now);
    switch (state_) {
        case State::Stopped:
            if (!shown_) {
                shown_ = FollowingFrame(followed);
            }
            return *shown_;
        case State::Following:
            shown_ = FollowingFrame(followed);
            return *shown_;
        case State::Armed:
            if (const auto edge = FindEdge(buffer, *trigger_, searchFrom_, latest)) {
                ++fired_;
                shown_ = Frame{*edge - PreTrigger(), *edge - PreTrigger() + span_, *edge, true};
                state_ = State::Capturing;
                return Update(buffer, latest, now);
            }
            searchFrom_ = std::max(searchFrom_, latest);
            return shown_ ? *shown_ : FollowingFrame(followed);
        case State::Capturing:
            if (latest >= shown_->end) {
                if (mode_ == Mode::Single) {
                    mode_ = Mode::Stop;
                    state_ = State::Stopped;
                } else {
                    // The next trigger is looked for after this frame, which stays shown.
                    state_ = State::Armed;
                    searchFrom_ = shown_->end;
                }
            }
            return *shown_;
    }
    return FollowingFrame(followed);
}

}  // namespace trevane::scope
