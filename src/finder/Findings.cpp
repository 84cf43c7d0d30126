#include "finder/Findings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/CLocale.h"
#include "common/Median.h"

namespace trevane::finder {
namespace {

// How far an axis must stand from the others before it is named.
constexpr double kFrictionRatio = 1.4;
constexpr double kFrictionRiseVolts = 0.3;
constexpr double kImbalanceVolts = 0.3;
constexpr double kGainLowRatio = 1.5;
constexpr double kGainHighRatio = 0.6;
constexpr double kSameTorqueRatio = 1.25;
constexpr double kNoiseStepCounts = 3.0;
// The other axes serve as a reference only while they agree with each other this closely.
constexpr double kReferenceAgreement = 1.2;
constexpr double kBacklashStartShare = 0.3;
// Extra following error a friction brings of itself, per unit of torque ratio above 1.
constexpr double kErrorPerTorque = 0.3;

std::string Volts(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    std::string shown = text;
    std::replace(shown.begin(), shown.end(), ',', '.');
    return shown == "-0.0" ? "0.0" : shown;
}

// "-12,000": grouped, to the nearest 500 counts the estimate carries.
std::string Counts(double value) {
    const long long rounded = std::llround(value / 500.0) * 500;
    std::string digits = FormatInt(std::llabs(rounded));
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<std::size_t>(at), ",");
    }
    return (rounded < 0 ? "-" : "") + digits;
}

// The other measured axes, as the reference an axis is held against.
struct Reference {
    std::string axes;  // "X and Z"
    double friction = 0;
    double followingError = 0;
    double startShare = 0;
    bool Known() const { return !axes.empty(); }
};

Reference ReferenceFor(const std::vector<AxisMeasures>& all, char axis) {
    Reference reference;
    std::vector<double> friction;
    std::vector<double> error;
    for (const AxisMeasures& other : all) {
        if (other.axis == axis) {
            continue;
        }
        reference.axes += (reference.axes.empty() ? "" : " and ") + std::string(1, other.axis);
        friction.push_back(other.FrictionVolts());
        error.push_back(other.FollowingErrorCounts());
    }
    if (friction.empty()) {
        return {};
    }
    // Two others that disagree: one of them is off, and neither can say which.
    const auto agree = [](const std::vector<double>& values) {
        const auto [low, high] = std::minmax_element(values.begin(), values.end());
        return *low > 0 && *high / *low <= kReferenceAgreement;
    };
    if (!agree(friction) || !agree(error)) {
        return {};
    }
    reference.friction = Median(friction);
    reference.followingError = Median(error);
    return reference;
}

std::optional<TravelRange> BindRange(const AxisMeasures& m) {
    if (!m.out.raised || !m.back.raised) {
        return std::nullopt;
    }
    const TravelRange& a = *m.out.raised;
    const TravelRange& b = *m.back.raised;
    const double overlap = std::min(a.to, b.to) - std::max(a.from, b.from);
    const double shorter = std::min(a.to - a.from, b.to - b.from);
    if (overlap <= 0 || overlap < shorter / 2) {
        return std::nullopt;
    }
    // The two directions' estimates run ahead and behind by as much: their mean is the place.
    return TravelRange{(a.from + b.from) / 2, (a.to + b.to) / 2};
}

void AddTorqueCauses(std::vector<Finding>& out, const AxisMeasures& m, const Reference& ref) {
    const char axis = m.axis;
    const double friction = m.FrictionVolts();
    const double torqueRatio = ref.friction > 0 ? friction / ref.friction : 1;
    const double errorRatio =
        ref.followingError > 0 ? m.FollowingErrorCounts() / ref.followingError : 1;
    const std::string against = " on " + ref.axes;
    const bool rubs = torqueRatio >= kFrictionRatio && friction - ref.friction >= kFrictionRiseVolts;
    if (rubs) {
        out.push_back({axis, Cause::Friction,
                       "torque at constant speed " + Volts(friction) + " V both ways, " +
                           Volts(ref.friction) + " V" + against,
                       std::nullopt,
                       "lubrication, the guides and the screw's preload over the whole travel"});
    }
    const double expectedError = 1 + kErrorPerTorque * std::max(0.0, torqueRatio - 1);
    const std::string errorEvidence = "following error " +
                                      FormatInt(std::llround(m.FollowingErrorCounts())) +
                                      " counts at constant speed, " +
                                      FormatInt(std::llround(ref.followingError)) + against;
    if (errorRatio >= kGainLowRatio * expectedError &&
        (rubs || torqueRatio <= kSameTorqueRatio)) {
        out.push_back({axis, Cause::GainTooLow,
                       errorEvidence + (rubs ? ", more than its friction explains"
                                             : ", with their torque (" + Volts(friction) + " V)"),
                       std::nullopt,
                       "KP and KI of the axis and its drive's gain: changed, or a drive replaced"});
    }
    if (errorRatio <= kGainHighRatio && torqueRatio <= kSameTorqueRatio &&
        torqueRatio >= 1 / kSameTorqueRatio) {
        out.push_back({axis, Cause::GainTooHigh,
                       errorEvidence + ", with their torque (" + Volts(friction) + " V)",
                       std::nullopt, "KP and KD of the axis: a loop this stiff rings after stops"});
    }
}

void AddOwnCauses(std::vector<Finding>& out, const AxisMeasures& m) {
    const char axis = m.axis;
    const double imbalance = m.ImbalanceVolts();
    const double holding = m.HoldingVolts();
    // Only an axis whose torque follows its direction of motion says what is held at rest: one
    // that reads the same torque whatever it does tells nothing of a weight.
    if (m.FrictionVolts() >= kFrictionRiseVolts && std::fabs(imbalance) >= kImbalanceVolts &&
        std::fabs(holding) >= kImbalanceVolts && (imbalance > 0) == (holding > 0)) {
        out.push_back({axis, Cause::Imbalance,
                       "holding torque " + Volts(holding) + " V at rest; " +
                           Volts(m.out.steadyTorque) + " V moving to -20000, " +
                           Volts(m.back.steadyTorque) + " V moving back",
                       std::nullopt,
                       "the counterbalance (weight, spring or gas strut) and the brake"});
    }
    if (const std::optional<TravelRange> range = BindRange(m)) {
        out.push_back({axis, Cause::Bind,
                       "torque at least " + Volts(kRiseVolts) +
                           " V above its constant-speed level there, in both directions",
                       range,
                       "lubrication and the screw over that range; chips or damage on the "
                       "guides there",
                       {*m.out.raisedWatch, *m.back.raisedWatch}});
    }
    const double friction = m.FrictionVolts();
    if (friction > kFrictionRiseVolts && m.StartTorqueVolts() < kBacklashStartShare * friction) {
        out.push_back({axis, Cause::Backlash,
                       "torque " + Volts(m.StartTorqueVolts()) +
                           " V in the first 20 ms of each move, " + Volts(friction) +
                           " V at speed: the motor turns before it takes up the load",
                       std::nullopt, "the coupling, the screw's nut and its preload, the gearbox"});
    }
    if (m.NoiseCounts() >= kNoiseStepCounts) {
        out.push_back({axis, Cause::EncoderNoise,
                       "error readings 10 ms apart differ by " +
                           FormatInt(std::llround(m.NoiseCounts())) +
                           " counts at constant speed (median)",
                       std::nullopt,
                       "the encoder's cable, its shield and ground; dirt on the scale or disc"});
    }
}

}  // namespace

const char* CauseWord(Cause cause) {
    switch (cause) {
        case Cause::Friction:
            return "friction";
        case Cause::Imbalance:
            return "imbalance";
        case Cause::Bind:
            return "bind";
        case Cause::Backlash:
            return "backlash";
        case Cause::EncoderNoise:
            return "encoder_noise";
        case Cause::GainTooLow:
            return "gain_too_low";
        case Cause::GainTooHigh:
            return "gain_too_high";
        case Cause::LimitSwitch:
            return "limit_switch";
        case Cause::Unclear:
            break;
    }
    return "unclear";
}

std::string Finding::Headline() const {
    static constexpr const char* kNames[] = {
        "friction",        "out of balance",   "binding",          "backlash",
        "encoder noise",   "gain too low",     "gain too high",    "a limit switch",
    };
    std::string text = std::string(1, axis) + ": ";
    if (cause == Cause::Unclear) {
        text += "something is off, the cause is unclear";
    } else {
        text += std::string("likely ") + kNames[static_cast<int>(cause)];
    }
    if (where) {
        text += " between " + Counts(where->from) + " and " + Counts(where->to) + " counts";
    }
    return text;
}

std::string Finding::Text() const {
    return Headline() + " (" + evidence + "); check " + check;
}

std::vector<Finding> FindCauses(const TestRecord& record) {
    std::vector<AxisMeasures> measured;
    for (const char axis : {'X', 'Y', 'Z'}) {
        if (std::optional<AxisMeasures> m = MeasureAxis(record, axis)) {
            measured.push_back(*m);
        }
    }
    std::vector<Finding> findings;
    for (const AxisMeasures& m : measured) {
        std::vector<Finding> axis;
        if (const Reference ref = ReferenceFor(measured, m.axis); ref.Known()) {
            AddTorqueCauses(axis, m, ref);
        }
        AddOwnCauses(axis, m);
        // An imbalance shifts each direction's torque; it does not make friction.
        findings.insert(findings.end(), axis.begin(), axis.end());
    }
    return findings;
}

}  // namespace trevane::finder
