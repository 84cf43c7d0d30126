#pragma once

#include <string>

#include "autotest/TestRecord.h"

namespace trevane {

// Above this share of a limit an axis that passed is named: it has little left before a move is
// aborted.
inline constexpr double kNearLimitPercent = 80.0;

// How one of X, Y and Z fared, as the report and a window show it.
struct AxisVerdict {
    enum class Kind {
        Passed,      // both moves completed, reported, and every reading of them arrived
        Unverified,  // both moves completed, but readings failed: nothing shows it passed
        Aborted,     // a move was aborted: `reason`, `reading` and `target` tell which
        Unfinished,  // the test ended while the axis was being tested
        NotTested,   // the test ended before the axis's first move
    };
    Kind kind = Kind::NotTested;
    char axis = 'X';
    AbortReason reason = AbortReason::None;
    std::string reading;  // the reply that aborted the move, as received
    int target = 0;       // the aborted or unfinished move's target
    float maxTorque = 0;  // largest absolute torque of the axis's moves
    float maxError = 0;   // largest absolute error of the axis's own moves
    int readings = 0;     // torque readings asked for in its watches, and as many error readings
    int failedTorqueReadings = 0;
    int failedErrorReadings = 0;
    int outOfStepReplies = 0;  // replies of its moves that came out of step

    // The largest readings as a percentage of the limits that abort a move.
    double TorqueSharePercent() const;
    double ErrorSharePercent() const;
    // "torque at 97 % of its limit", both when both are near; "" for an axis that did not pass
    // or stayed at or below kNearLimitPercent of both.
    std::string NearLimitText() const;

    // "400 of 400 torque readings failed", "1 reply out of step"; "" when none failed.
    std::string FailedReadingsText() const;

    // "passed", "unverified: 400 of 400 torque readings failed", "aborted: torque above 3.1,
    // reading 3.2, in the move to -20000", "not finished: the test ended during the move to 0",
    // "not tested". The reading is not escaped.
    std::string Text() const;
};

AxisVerdict VerdictOf(const TestRecord& record, char axis);

}  // namespace trevane
