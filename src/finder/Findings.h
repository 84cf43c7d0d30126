#pragma once

#include <optional>
#include <string>
#include <vector>

#include "autotest/TestRecord.h"
#include "finder/AxisMeasures.h"

// From a test's readings to the likely cause of what an axis shows, with the evidence in
// numbers and what to check. It names a cause only where the signs carry it.
namespace trevane::finder {

enum class Cause {
    Friction,      // torque opposing motion, both ways, above the other axes'
    Imbalance,     // a torque one way whichever way it moves, held at rest too
    Bind,          // torque raised over one stretch of the travel, both ways at the same place
    Backlash,      // the motor turns before it takes up the load at each reversal
    EncoderNoise,  // readings that scatter from one to the next
    GainTooLow,    // following error above the other axes' with their torque
    GainTooHigh,   // following error far below the other axes' with their torque
    LimitSwitch,   // named by the test's checks
    Unclear,       // something is off, but the signs do not single out a cause
};

// "friction", "imbalance", "bind", "backlash", "encoder_noise", "gain_too_low",
// "gain_too_high", "limit_switch", "unclear": the words of JSON and of the history.
const char* CauseWord(Cause cause);

struct Finding {
    char axis = 'X';
    Cause cause = Cause::Unclear;
    std::string evidence;  // "torque at constant speed 2.0 V both ways, 1.0 V on X and Z"
    std::optional<TravelRange> where;
    std::string check;  // "lubrication and the screw over that range"
    std::vector<WatchStretch> marks;  // where in the moves' watches the evidence is

    // "Y: likely binding between -12,000 and -8,000 counts"
    std::string Headline() const;
    // The headline, the evidence and what to check, as one sentence without its full stop.
    std::string Text() const;
};

// The findings of every axis the test measured, X to Z; none for a healthy machine.
std::vector<Finding> FindCauses(const TestRecord& record);

}  // namespace trevane::finder
