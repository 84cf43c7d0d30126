#include "report/AxisVerdict.h"

#include <algorithm>

#include "common/CLocale.h"

namespace trevane {

std::string AxisVerdict::Text() const {
    switch (kind) {
        case Kind::Passed:
            return "passed";
        case Kind::Aborted:
            return std::string("aborted: ") + AbortReasonText(reason) + " above " +
                   (reason == AbortReason::Torque ? "3.1" : "700") + ", reading " + reading +
                   ", in the move to " + FormatInt(target);
        case Kind::Unfinished:
            return "not finished: the test ended before the move to " + FormatInt(target) +
                   " was completed";
        case Kind::NotTested:
            break;
    }
    return "not tested";
}

AxisVerdict VerdictOf(const TestRecord& record, char axis) {
    AxisVerdict verdict;
    verdict.axis = axis;
    const MoveTrace* last = nullptr;
    int moves = 0;
    for (const MoveTrace& move : record.moves) {
        if (move.axis != axis) {
            continue;
        }
        ++moves;
        last = &move;
        verdict.maxTorque = std::max(verdict.maxTorque, move.maxTorque);
        verdict.maxError = std::max(verdict.maxError, move.moveMaxError);
        if (move.aborted && verdict.kind != AxisVerdict::Kind::Aborted) {
            verdict.kind = AxisVerdict::Kind::Aborted;
            verdict.reason = move.abortReason;
            verdict.reading = move.abortReading;
            verdict.target = move.target;
        }
    }
    if (verdict.kind == AxisVerdict::Kind::Aborted) {
        return verdict;
    }
    if (last == nullptr) {
        verdict.kind = AxisVerdict::Kind::NotTested;
    } else if (moves == 2 && last->Reported()) {
        verdict.kind = AxisVerdict::Kind::Passed;
    } else {
        verdict.kind = AxisVerdict::Kind::Unfinished;
        // A reported first move leaves the move back unfinished.
        verdict.target = last->Reported() ? 0 : last->target;
    }
    return verdict;
}

}  // namespace trevane
