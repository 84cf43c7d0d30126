#pragma once

#include <cstdint>
#include <vector>

#include "sim/Simulator.h"

namespace trevane::sim {

// The ranges the fault text takes, to which a fault made in code is held as well.
inline constexpr double kMinFrictionFactor = 1.0;
inline constexpr double kMaxFrictionFactor = 10.0;
inline constexpr double kMaxGravityVolts = 9.9982;  // the largest torque "TL" allows
inline constexpr int kMaxFaultCounts = 1000;        // of lost motion, of encoder noise
inline constexpr double kMinGain = 0.1;
inline constexpr double kMaxGain = 10.0;

// A stretch of travel, in counts, where an axis binds.
struct BindRange {
    double from;
    double to;
};

// What is physically wrong with one axis: its mechanics, its encoder or its tuning. The default
// is a sound axis, which the machine models exactly as it always has.
struct PhysicalFaults {
    double frictionFactor = 1.0;  // dry and viscous friction, times the axis's usual
    double gravityVolts = 0;      // the torque that holds an unbalanced load
    std::vector<BindRange> binds;
    double backlash = 0;          // counts of lost motion
    int noise = 0;                // amplitude of the encoder's noise, counts
    double gain = 1.0;            // the position loop's gain, times its tuning
    std::uint64_t noiseSeed = 0;  // one per axis, so axes do not share their noise

    bool Any() const;
    // Takes in `fault` when it is one of these kinds; false when it is not.
    bool Take(const Fault& fault);

    // The loop makes acceleration = Stiffness() * error - Damping() * velocity, in counts/s^2.
    double Stiffness() const;
    double Damping() const;
    // The lost motion at work: an unbalanced load keeps it closed on one side.
    double Play() const { return gravityVolts != 0 ? 0 : backlash; }
    // How far the motor rests behind its reference while it holds the unbalanced load.
    double StaticLag() const;
    // Friction beyond the axis's usual, in volts, against `velocity` at `position`: dry friction
    // that reaches its full value at the usual full-friction speed, and viscous friction.
    double ExtraDryVolts(double position) const;
    double ExtraViscousVolts() const;  // per count/s
    double ExtraFrictionVolts(double position, double velocity) const;
    // The velocity after a step of `dt` that reaches `unopposed` without the extra friction.
    double OpposedVelocity(double position, double unopposed, double dt) const;
    // The encoder's error, in whole counts, at model time `ms`.
    double EncoderNoise(long long ms) const;
};

}  // namespace trevane::sim
