#pragma once

#include <chrono>
#include <string>

#include "autotest/TestRecord.h"

namespace trevane::history::testing {

inline constexpr const char* kMachine = "127.0.0.1:5023 Simulated controller rev 1.0";

// A whole test of X, Y and Z whose moves all reach `torque` and `error`, Y's at `yError`.
inline TestRecord MakeRecord(float yError, const std::string& identity = kMachine,
                             bool yCompleted = true) {
    TestRecord record;
    record.testNumber = 1;
    record.startTime = std::chrono::system_clock::time_point(std::chrono::seconds(1354197909));
    record.identity = identity;
    record.checks = {{"Motor Type X", "1.0000"}, {"KP X", "6.0000"}};
    record.outcome = TestOutcome::Completed;
    for (int index = 0; index < kMovesPerTest; ++index) {
        MoveTrace move;
        move.moveIndex = index;
        move.axis = "XYZ"[index / 2];
        move.target = index % 2 == 0 ? -20000 : 0;
        move.maxTorque = 1.0f;
        move.moveMaxError = move.axis == 'Y' ? yError : 100.0f;
        move.currentPosition = "0";
        if (move.axis == 'Y' && !yCompleted) {
            move.aborted = true;
            move.abortReason = AbortReason::PositionError;
        }
        for (int cycle = 0; cycle < kCyclesPerMove; ++cycle) {
            move.samples.push_back({cycle * 10.0, 0.5f, static_cast<float>(cycle % 7)});
        }
        record.moves.push_back(move);
    }
    return record;
}

// `record` run from `from` after MakeRecord's start for `length`.
inline TestRecord Ran(TestRecord record, std::chrono::milliseconds from,
                      std::chrono::milliseconds length) {
    record.startTime += from;
    record.endTime = record.startTime + length;
    return record;
}

}  // namespace trevane::history::testing
