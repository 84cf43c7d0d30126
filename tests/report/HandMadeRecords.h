#pragma once

#include "autotest/TestRecord.h"

// Records of automatic tests made by hand, for verdicts and warnings without a controller.
namespace trevane::testing {

// A completed test whose six moves were all watched, reported and read in full, well inside
// the limits.
inline TestRecord CleanCompletedRecord() {
    TestRecord record;
    record.testNumber = 3;
    record.outcome = TestOutcome::Completed;
    for (int index = 0; index < kMovesPerTest; ++index) {
        MoveTrace move;
        move.moveIndex = index;
        move.axis = "XYZ"[index / 2];
        move.target = index % 2 == 0 ? -20000 : 0;
        move.sampleCount = kCyclesPerMove;
        move.watchEnded = true;
        move.maxTorque = 1.5f;
        move.moveMaxError = 120.0f;
        move.currentError = "3";
        move.currentPosition = "0";
        record.moves.push_back(move);
    }
    return record;
}

}  // namespace trevane::testing
