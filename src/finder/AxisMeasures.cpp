#include "finder/AxisMeasures.h"

#include <algorithm>
#include <cmath>

#include "common/CLocale.h"
#include "common/Median.h"

namespace trevane::finder {
namespace {

// The cycles of a watch taken as constant speed: after the start has settled and before the
// end of the watch, where a stop may begin.
constexpr std::size_t kSteadyFrom = 20;
constexpr std::size_t kSteadyTo = 180;
// A stretch of raised torque counts from this many cycles in a row.
constexpr std::size_t kRaisedCycles = 5;

// Where the axis was at each cycle: from where it started to where the report found it, at the
// pace of the watch. The moves of the test run at constant speed nearly all of their watch.
double PositionAt(const MoveTrace& move, double start, std::size_t cycle) {
    const double end = ReadNumberAsDouble(move.currentPosition.value_or(""));
    const double last = move.samples.back().timeMs;
    const double share = last > 0 ? move.samples[cycle].timeMs / last : 0;
    return start + (end - start) * share;
}

// The cycles [from, to) of the longest run of torque at least kRiseVolts above `level`.
struct CycleRun {
    std::size_t from = 0;
    std::size_t to = 0;
};

std::optional<CycleRun> RaisedCycles(const MoveTrace& move, double level) {
    CycleRun best;
    std::size_t run = 0;
    for (std::size_t i = kSteadyFrom / 2; i < move.samples.size(); ++i) {
        run = std::fabs(move.samples[i].torque) >= level + kRiseVolts ? run + 1 : 0;
        if (run > best.to - best.from) {
            best = {i + 1 - run, i + 1};
        }
    }
    if (best.to - best.from < kRaisedCycles) {
        return std::nullopt;
    }
    return best;
}

MoveMeasures Measure(const MoveTrace& move, double start) {
    MoveMeasures out;
    out.target = move.target;
    const std::size_t steadyTo = std::min(kSteadyTo, move.samples.size());
    // Raised against the median of the magnitudes, which a stretch of up to half the travel
    // leaves where it is; the constant-speed level is then taken beside the stretch.
    std::vector<double> magnitudes;
    for (std::size_t i = kSteadyFrom; i < steadyTo; ++i) {
        magnitudes.push_back(std::fabs(move.samples[i].torque));
    }
    const std::optional<CycleRun> raised = RaisedCycles(move, Median(magnitudes));
    if (raised) {
        const double a = PositionAt(move, start, raised->from);
        const double b = PositionAt(move, start, raised->to - 1);
        out.raised = TravelRange{std::min(a, b), std::max(a, b)};
        out.raisedWatch = WatchStretch{move.moveIndex, move.samples[raised->from].timeMs,
                                       move.samples[raised->to - 1].timeMs};
    }
    std::vector<double> torques;
    std::vector<double> errors;
    for (std::size_t i = kSteadyFrom; i < steadyTo; ++i) {
        if (!raised || i < raised->from || i >= raised->to) {
            torques.push_back(move.samples[i].torque);
            errors.push_back(move.samples[i].error);
        }
    }
    out.steadyTorque = Median(torques);
    out.steadyError = Median(errors);
    std::vector<double> steps;
    for (std::size_t i = 1; i < errors.size(); ++i) {
        steps.push_back(std::fabs(errors[i] - errors[i - 1]));
    }
    out.errorStep = Median(steps);
    out.restTorque = move.samples.front().torque;
    out.startTorque = (std::fabs(move.samples[1].torque) + std::fabs(move.samples[2].torque)) / 2;
    return out;
}

bool Usable(const MoveTrace* move) {
    return move != nullptr && !move->aborted && move->Reported() && move->Measured() &&
           move->samples.size() >= kSteadyTo;
}

}  // namespace

double AxisMeasures::NoiseCounts() const {
    return std::max(out.errorStep, back.errorStep);
}

std::optional<AxisMeasures> MeasureAxis(const TestRecord& record, char axis) {
    const MoveTrace* out = nullptr;
    const MoveTrace* back = nullptr;
    for (const MoveTrace& move : record.moves) {
        if (move.axis == axis) {
            (move.target == 0 ? back : out) = &move;
        }
    }
    if (!Usable(out) || !Usable(back)) {
        return std::nullopt;
    }
    AxisMeasures measures;
    measures.axis = axis;
    measures.out = Measure(*out, 0);
    measures.back = Measure(*back, ReadNumberAsDouble(out->currentPosition.value_or("")));
    return measures;
}

}  // namespace trevane::finder
