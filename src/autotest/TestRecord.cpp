#include "autotest/TestRecord.h"

#include "autotest/Outcomes.h"

namespace trevane {

const char* AbortReasonText(AbortReason reason) {
    switch (reason) {
        case AbortReason::Torque:
            return "torque";
        case AbortReason::PositionError:
            return "position error";
        case AbortReason::None:
            break;
    }
    return "";
}

const char* TestOutcomeText(TestOutcome outcome) {
    switch (outcome) {
        case TestOutcome::Running:
            return "running";
        case TestOutcome::Completed:
            return "completed";
        case TestOutcome::AbortedByUser:
            return "aborted by user";
        case TestOutcome::NoConnection:
            return "no connection";
        case TestOutcome::Stopped:
            return "stopped";
        case TestOutcome::LinkLost:
            return outcome::kLinkLost;
    }
    return "";
}

const MoveTrace* TestRecord::FindMove(int moveIndex) const {
    for (const MoveTrace& move : moves) {
        if (move.moveIndex == moveIndex) {
            return &move;
        }
    }
    return nullptr;
}

}  // namespace trevane
