#include "report/AxisVerdict.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "autotest/Outcomes.h"
#include "common/CLocale.h"

namespace trevane {

std::string AxisVerdict::FailedReadingsText() const {
    std::string text;
    const std::string of = " of " + FormatInt(readings);
    if (failedTorqueReadings > 0) {
        text = FormatInt(failedTorqueReadings) + of + " torque";
    }
    if (failedErrorReadings > 0) {
        text += (text.empty() ? "" : " and ") + FormatInt(failedErrorReadings) + of + " error";
    }
    if (!text.empty()) {
        text += " readings failed";
    }
    if (outOfStepReplies > 0) {
        text += (text.empty() ? "" : ", ") + FormatInt(outOfStepReplies) +
                (outOfStepReplies == 1 ? " reply" : " replies") + " out of step";
    }
    return text;
}

double AxisVerdict::TorqueSharePercent() const {
    return static_cast<double>(maxTorque) / kTorqueLimit * 100.0;
}

double AxisVerdict::ErrorSharePercent() const {
    return static_cast<double>(maxError) / static_cast<double>(kErrorLimit) * 100.0;
}

std::string AxisVerdict::NearLimitText() const {
    if (kind != Kind::Passed) {
        return {};
    }
    std::string text;
    for (const auto& [quantity, share] :
         {std::pair{"torque", TorqueSharePercent()}, std::pair{"error", ErrorSharePercent()}}) {
        if (share > kNearLimitPercent) {
            text += (text.empty() ? "" : ", ") + std::string(quantity) + " at " +
                    FormatInt(std::lround(share)) + " % of its limit";
        }
    }
    return text;
}

std::string AxisVerdict::Text() const {
    switch (kind) {
        case Kind::Passed:
            return outcome::kPassed;
        case Kind::Unverified:
            return std::string(outcome::kUnverified) + ": " + FailedReadingsText();
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
        verdict.readings += kCyclesPerMove;
        verdict.failedTorqueReadings += move.failedTorqueReadings;
        verdict.failedErrorReadings += move.failedErrorReadings;
        verdict.outOfStepReplies += move.outOfStepReplies;
        if (move.aborted && verdict.kind != AxisVerdict::Kind::Aborted) {
            verdict.kind = AxisVerdict::Kind::Aborted;
            verdict.reason = move.abortReason;
            verdict.reading = move.abortReading;
            verdict.target = move.target;
        }
    }
    if (verdict.outOfStepReplies > 0) {
        // Which reply answered which request is unknown: an abort may have read another
        // request's reply, a pass may have read a stale one.
        verdict.kind = AxisVerdict::Kind::Unverified;
        return verdict;
    }
    if (verdict.kind == AxisVerdict::Kind::Aborted) {
        return verdict;
    }
    if (last == nullptr) {
        verdict.kind = AxisVerdict::Kind::NotTested;
    } else if (moves == 2 && last->Reported()) {
        // A move is passed only when it was measured: every reading of its watch arrived.
        const bool measured = verdict.failedTorqueReadings == 0 && verdict.failedErrorReadings == 0;
        verdict.kind = measured ? AxisVerdict::Kind::Passed : AxisVerdict::Kind::Unverified;
    } else {
        verdict.kind = AxisVerdict::Kind::Unfinished;
        // A reported first move leaves the move back unfinished.
        verdict.target = last->Reported() ? 0 : last->target;
    }
    return verdict;
}

}  // namespace trevane
