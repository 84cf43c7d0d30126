#include "report/TestWarnings.h"

#include <cmath>
#include <string_view>

#include "common/CLocale.h"

namespace trevane {
namespace {

// A switch reading below this is on, as the test itself reads it.
constexpr double kSwitchOnBelow = 1.0;

std::string SwitchName(const TestWarning& warning) {
    return std::string(1, warning.axis) + (warning.forwardSwitch ? " forward" : " reverse") +
           " limit switch";
}

std::string CnSetText(const TestWarning& warning) {
    return warning.cnSet ? "; the test set CN to " + FormatInt(*warning.cnSet) : std::string();
}

// The checks' reading of a switch, when it was a number.
std::optional<double> SwitchAtRest(const TestRecord& record, char axis, bool forward) {
    const std::string label =
        std::string(1, axis) + (forward ? " Forward Limit: " : " Reverse Limit: ");
    for (const LoggedReading& check : record.checks) {
        if (check.label == label && IsOneNumber(check.reply)) {
            return ReadNumberAsDouble(check.reply);
        }
    }
    return std::nullopt;
}

std::string ReplyAtRest(const TestRecord& record, char axis, bool forward) {
    const std::string label =
        std::string(1, axis) + (forward ? " Forward Limit: " : " Reverse Limit: ");
    for (const LoggedReading& check : record.checks) {
        if (check.label == label) {
            std::string_view reply = check.reply;
            while (!reply.empty() && (reply.back() == '\r' || reply.back() == '\n')) {
                reply.remove_suffix(1);
            }
            return std::string(reply);
        }
    }
    return {};
}

// The first CN swap of the test, if it was for this switch: after a swap CN reads every switch
// the other way, so a later swap only follows from the first.
std::optional<CnSwap> FirstSwapFor(const TestRecord& record, char axis, bool forward) {
    if (record.cnSwaps.empty()) {
        return std::nullopt;
    }
    const CnSwap& first = record.cnSwaps.front();
    if (first.axis == axis && first.forwardSwitch == forward) {
        return first;
    }
    return std::nullopt;
}

std::optional<int> CnSetFor(const TestRecord& record, char axis, bool forward) {
    for (const CnSwap& swap : record.cnSwaps) {
        if (swap.axis == axis && swap.forwardSwitch == forward) {
            return swap.cn;
        }
    }
    return std::nullopt;
}

void AddSwitchWarning(std::vector<TestWarning>& out, const TestRecord& record, char axis,
                      bool forward) {
    TestWarning warning;
    warning.axis = axis;
    warning.forwardSwitch = forward;
    const std::optional<double> atRest = SwitchAtRest(record, axis, forward);
    if (atRest && *atRest < kSwitchOnBelow) {
        warning.kind = TestWarning::Kind::LimitSwitchActive;
        warning.reading = ReplyAtRest(record, axis, forward);
        warning.cnSet = CnSetFor(record, axis, forward);
        out.push_back(warning);
        return;
    }
    const std::optional<CnSwap> swap = FirstSwapFor(record, axis, forward);
    if (!swap) {
        return;
    }
    warning.kind = swap->readingFailed ? TestWarning::Kind::LimitSwitchUnread
                                       : TestWarning::Kind::LimitSwitchTripped;
    warning.cnSet = swap->cn;
    out.push_back(warning);
}

void AddNearLimit(std::vector<TestWarning>& out, const AxisVerdict& axis) {
    if (axis.kind != AxisVerdict::Kind::Passed) {
        return;
    }
    TestWarning torque;
    torque.kind = TestWarning::Kind::NearLimit;
    torque.axis = axis.axis;
    torque.quantity = "torque";
    torque.value = axis.maxTorque;
    torque.limit = kTorqueLimit;
    torque.sharePercent = axis.TorqueSharePercent();
    TestWarning error = torque;
    error.quantity = "error";
    error.value = axis.maxError;
    error.limit = kErrorLimit;
    error.sharePercent = axis.ErrorSharePercent();
    for (const TestWarning& warning : {torque, error}) {
        if (warning.sharePercent > kNearLimitPercent) {
            out.push_back(warning);
        }
    }
}

}  // namespace

const char* TestWarning::KindText() const {
    switch (kind) {
        case TestWarning::Kind::LimitSwitchActive:
            return "limit_switch_active";
        case TestWarning::Kind::LimitSwitchTripped:
            return "limit_switch_tripped";
        case TestWarning::Kind::LimitSwitchUnread:
            return "limit_switch_unread";
        case TestWarning::Kind::NearLimit:
            break;
    }
    return quantity == "torque" ? "torque_near_limit" : "error_near_limit";
}

std::string TestWarning::Text() const {
    switch (kind) {
        case Kind::LimitSwitchActive:
            return SwitchName(*this) + " active at rest: stuck, or wired normally closed" +
                   CnSetText(*this);
        case Kind::LimitSwitchTripped:
            return SwitchName(*this) + " active before the move to " +
                   (forwardSwitch ? "0" : "-20000") +
                   ", inactive at rest: a switch or wire that trips on its own" + CnSetText(*this);
        case Kind::LimitSwitchUnread:
            return SwitchName(*this) + " could not be read before the move to " +
                   (forwardSwitch ? "0" : "-20000") + ", which the test takes for active" +
                   CnSetText(*this);
        case Kind::NearLimit:
            break;
    }
    const bool isTorque = quantity == "torque";
    return std::string(1, axis) + " " + quantity + " at " +
           FormatInt(std::lround(sharePercent)) + " % of its limit (" +
           (isTorque ? FormatShortest(static_cast<float>(value)) + " of 3.1 V"
                     : FormatInt(std::lround(value)) + " of 700 counts") +
           "): little is left before a move is aborted";
}

std::vector<TestWarning> WarningsOf(const TestRecord& record,
                                    const std::vector<AxisVerdict>& axes) {
    std::vector<TestWarning> warnings;
    for (const char axis : {'X', 'Y', 'Z', 'W'}) {
        AddSwitchWarning(warnings, record, axis, true);
        AddSwitchWarning(warnings, record, axis, false);
        for (const AxisVerdict& verdict : axes) {
            if (verdict.axis == axis) {
                AddNearLimit(warnings, verdict);
            }
        }
    }
    return warnings;
}

}  // namespace trevane
