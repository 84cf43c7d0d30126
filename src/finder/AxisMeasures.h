#pragma once

#include <optional>
#include <vector>

#include "autotest/TestRecord.h"

// What an axis's two moves of an automatic test show of its mechanics, read from the readings
// the test took anyway: the torque and the error of every cycle.
namespace trevane::finder {

// A stretch of travel, in counts, low end first.
struct TravelRange {
    double from = 0;
    double to = 0;
};

// Where in a move's watch something was seen, in ms since the watch began.
struct WatchStretch {
    int moveIndex = 0;
    double fromMs = 0;
    double toMs = 0;
};

struct MoveMeasures {
    int target = 0;
    double steadyTorque = 0;   // signed median torque at constant speed, volts
    double steadyError = 0;    // signed median position error at constant speed, counts
    // Median change of the error from one reading to the next at constant speed, counts: noise
    // moves it, a slow settling does not.
    double errorStep = 0;
    double restTorque = 0;     // torque before the move began, volts
    double startTorque = 0;    // mean absolute torque of its first 20 ms of motion, volts
    // Where the torque stood at least kRiseVolts above its constant-speed level, on the travel
    // and in the watch.
    std::optional<TravelRange> raised;
    std::optional<WatchStretch> raisedWatch;
};

struct AxisMeasures {
    char axis = 'X';
    MoveMeasures out;   // to -20000
    MoveMeasures back;  // to 0
    // Half the torque between the two directions: what opposes motion either way.
    double FrictionVolts() const { return (back.steadyTorque - out.steadyTorque) / 2; }
    // The rest: a torque in one direction whichever way the axis moves.
    double ImbalanceVolts() const { return (back.steadyTorque + out.steadyTorque) / 2; }
    double HoldingVolts() const { return (out.restTorque + back.restTorque) / 2; }
    double FollowingErrorCounts() const { return (back.steadyError - out.steadyError) / 2; }
    double NoiseCounts() const;
    double StartTorqueVolts() const { return (out.startTorque + back.startTorque) / 2; }
};

// A torque this far above the constant-speed level, over a stretch, is a stretch of its own.
inline constexpr double kRiseVolts = 0.3;

// Both of the axis's moves, when the test watched and reported both to their end without an
// abort; nothing otherwise (an aborted or unmeasured move is no evidence of the mechanics).
std::optional<AxisMeasures> MeasureAxis(const TestRecord& record, char axis);

}  // namespace trevane::finder
