#pragma once

#include <optional>
#include <string>
#include <vector>

#include "autotest/TestRecord.h"
#include "report/AxisVerdict.h"

namespace trevane {

// What a test found that is not a failure but wants a look: something it corrected on its own,
// or an axis with little left before a limit.
struct TestWarning {
    enum class Kind {
        LimitSwitchActive,   // a limit switch read active at rest, in the checks
        LimitSwitchTripped,  // inactive at rest, active before the axis's move
        LimitSwitchUnread,   // its query before the move failed, which the test takes for on
        NearLimit,           // an axis passed above kNearLimitPercent of a limit
    };
    Kind kind = Kind::NearLimit;
    char axis = 'X';
    bool forwardSwitch = false;  // limit switches: the forward one, or the reverse one
    std::string reading;         // LimitSwitchActive: the reply at rest, as received
    std::optional<int> cnSet;    // limit switches: the CN the test set for it
    std::string quantity;        // NearLimit: "torque" or "error"
    double value = 0;            // NearLimit: the axis's largest reading, volts or counts
    double limit = 0;            // NearLimit: the limit, in the unit of `value`
    double sharePercent = 0;     // NearLimit: value / limit, in percent

    // "limit_switch_active", "limit_switch_tripped", "limit_switch_unread", "torque_near_limit",
    // "error_near_limit".
    const char* KindText() const;

    // One sentence without its full stop, naming what to look at: "Y forward limit switch active
    // at rest: stuck, or wired normally closed; the test set CN to 1".
    std::string Text() const;
};

// The warnings of a test, axis by axis (X to W), from its record and its axes' verdicts.
std::vector<TestWarning> WarningsOf(const TestRecord& record, const std::vector<AxisVerdict>& axes);

}  // namespace trevane
