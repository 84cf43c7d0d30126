#include "sim/PhysicalFaults.h"

#include <algorithm>
#include <cmath>

#include "sim/ServoModel.h"

namespace trevane::sim {
namespace {

using servo::kFrictionFullSpeed;
using servo::kFrictionVolts;
using servo::kLoopBandwidth;
using servo::kVoltsPerAcceleration;
using servo::kVoltsPerSpeed;

// A tight spot adds twice the axis's usual dry friction.
constexpr double kBindVolts = 2 * kFrictionVolts;

double Sign(double value) {
    return value > 0 ? 1.0 : (value < 0 ? -1.0 : 0.0);
}

// `value` held to [low, high]; a value that is not a number takes `low`.
double Within(double value, double low, double high) {
    return std::max(low, std::min(value, high));
}

// splitmix64's finaliser: every bit of the input moves about half of the output's.
std::uint64_t Mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

}  // namespace

bool PhysicalFaults::Any() const {
    return frictionFactor != 1.0 || gravityVolts != 0 || !binds.empty() || backlash != 0 ||
           noise != 0 || gain != 1.0;
}

bool PhysicalFaults::Take(const Fault& fault) {
    switch (fault.kind) {
        case Fault::Kind::Friction:
            frictionFactor = Within(fault.factor, kMinFrictionFactor, kMaxFrictionFactor);
            return true;
        case Fault::Kind::Gravity:
            gravityVolts = Within(fault.volts, -kMaxGravityVolts, kMaxGravityVolts);
            return true;
        case Fault::Kind::Bind:
            binds.push_back(
                BindRange{static_cast<double>(fault.from), static_cast<double>(fault.to)});
            return true;
        case Fault::Kind::Backlash:
            backlash = std::clamp(fault.value, 0, kMaxFaultCounts);
            return true;
        case Fault::Kind::Noise:
            noise = std::clamp(fault.value, 0, kMaxFaultCounts);
            return true;
        case Fault::Kind::Gain:
            gain = Within(fault.factor, kMinGain, kMaxGain);
            return true;
        default:
            return false;
    }
}

double PhysicalFaults::Stiffness() const {
    return gain * kLoopBandwidth * kLoopBandwidth;
}

// The drive's own lag takes phase from a stiffer loop: its damping ratio falls as 1 / gain, so
// a raised gain rings and a lowered one creeps.
double PhysicalFaults::Damping() const {
    return 2 * kLoopBandwidth / std::sqrt(gain);
}

double PhysicalFaults::StaticLag() const {
    return gravityVolts / (kVoltsPerAcceleration * Stiffness());
}

double PhysicalFaults::ExtraDryVolts(double position) const {
    double volts = (frictionFactor - 1) * kFrictionVolts;
    for (const BindRange& range : binds) {
        volts += position >= range.from && position <= range.to ? kBindVolts : 0;
    }
    return volts;
}

double PhysicalFaults::ExtraViscousVolts() const {
    return (frictionFactor - 1) * kVoltsPerSpeed;
}

double PhysicalFaults::ExtraFrictionVolts(double position, double velocity) const {
    return ExtraDryVolts(position) * std::clamp(velocity / kFrictionFullSpeed, -1.0, 1.0) +
           ExtraViscousVolts() * velocity;
}

// Solved for the velocity at the end of the step: near standstill dry friction is far too stiff
// for a step that uses the velocity at its start. Friction only slows, so the solution keeps the
// sign of `unopposed`.
double PhysicalFaults::OpposedVelocity(double position, double unopposed, double dt) const {
    const double dry = ExtraDryVolts(position);
    const double viscous = ExtraViscousVolts();
    const double perVolt = dt / kVoltsPerAcceleration;  // counts/s lost per volt in one step
    const double slow = unopposed / (1 + perVolt * (dry / kFrictionFullSpeed + viscous));
    if (std::abs(slow) <= kFrictionFullSpeed) {
        return slow;
    }
    return (unopposed - Sign(unopposed) * perVolt * dry) / (1 + perVolt * viscous);
}

double PhysicalFaults::EncoderNoise(long long ms) const {
    if (noise == 0) {
        return 0;
    }
    const std::uint64_t draw = Mix(Mix(noiseSeed) + static_cast<std::uint64_t>(ms));
    const auto span = static_cast<std::uint64_t>(2 * noise + 1);
    return static_cast<double>(static_cast<long long>(draw % span) - noise);
}

}  // namespace trevane::sim
