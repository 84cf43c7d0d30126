#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What one automatic test saw, kept for the test report and for a live plot: the values the
// checks read, and per move the torque and error reading of every polling cycle.
namespace trevane {

inline constexpr int kMovesPerTest = 6;     // X, Y and Z, each to -20000 and back to 0
inline constexpr int kCyclesPerMove = 200;  // polling cycles of every move watch
// A move is aborted when the absolute torque reading (a float, compared in double precision) is
// above 3.1 V, or the absolute position error reading is above 700 counts.
inline constexpr double kTorqueLimit = 3.1;
inline constexpr float kErrorLimit = 700.0f;

enum class AbortReason { None, Torque, PositionError };

// "torque", "position error" (empty for None).
const char* AbortReasonText(AbortReason reason);

// One polling cycle of a move watch.
struct TraceSample {
    double timeMs = 0;  // since the move's watch began, when the cycle began (system clock)
    float torque = 0;   // the "TT" reply read as a number, sign included
    float error = 0;    // the "TE" reply read as a number, sign included

    bool operator==(const TraceSample&) const = default;
};

// Everything known about one move but its samples.
struct MoveSummary {
    int testNumber = 0;
    int moveIndex = 0;  // 0..5: X to -20000, X to 0, Y to -20000, Y to 0, Z to -20000, Z to 0
    char axis = 'X';
    int target = 0;  // -20000 or 0

    std::size_t sampleCount = 0;  // cycles recorded so far
    bool watchEnded = false;      // all 200 cycles ran

    bool aborted = false;
    AbortReason abortReason = AbortReason::None;  // of the first abort of the move
    std::string abortReading;                     // that reply's text as received
    int abortCycle = -1;                          // that abort's cycle, 0..199
    int abortCount = 0;                           // abort entries logged during the move
    int failedTorqueReadings = 0;                 // "TT" exchanges of the watch that failed
    int failedErrorReadings = 0;                  // "TE" exchanges of the watch that failed
    int outOfStepReplies = 0;  // from the move's switch check to its report: replies not trusted

    float maxTorque = 0;     // largest absolute torque of the move, as the move report shows it
    float maxError = 0;      // as the move report shows it: the largest since the test's first move
    float moveMaxError = 0;  // largest absolute error of this move alone

    // The replies of the move report ("Current Error", "Current Position"), once logged.
    std::optional<std::string> currentError;
    std::optional<std::string> currentPosition;

    bool Reported() const { return currentPosition.has_value(); }
    // Every torque and error reading of the watch arrived.
    bool Measured() const {
        return failedTorqueReadings == 0 && failedErrorReadings == 0 && outOfStepReplies == 0;
    }
};

struct MoveTrace : MoveSummary {
    std::vector<TraceSample> samples;  // one per cycle, in order (left empty by Summary())
};

enum class TestOutcome {
    Running,
    Completed,      // the closing sequence ran to its end (a move may still have been aborted)
    AbortedByUser,  // "Test Aborted by User"
    NoConnection,   // ended at once: not connected
    Stopped,        // stopped without an abort entry (the application closed)
    LinkLost,       // the command session went away and the test ended there
};

// "running", "completed", "aborted by user", "no connection", "stopped", "link_lost": the words the
// history stores; TestOutcomeWord gives the vocabulary of the front ends for them.
const char* TestOutcomeText(TestOutcome outcome);

// A logged label and the controller's reply behind it, as received.
struct LoggedReading {
    std::string label;
    std::string reply;
};

// A flip of the limit-switch configuration before a move.
struct CnSwap {
    char axis = 'X';
    bool forwardSwitch = false;  // the forward switch (before the move to 0) or the reverse one
    int cn = 0;                  // the CN set: 1 or -1
    bool readingFailed = false;  // the switch's query failed, which reads as on
};

struct TestRecord {
    int testNumber = 0;  // n for the log's n-th "Starting Test"; 0: no test yet
    std::chrono::system_clock::time_point startTime;
    // When the record was handed back; none while the test runs.
    std::optional<std::chrono::system_clock::time_point> endTime;
    std::optional<std::string> identity;       // the connection text ("" when the query failed)
    std::vector<LoggedReading> checks;         // the 19 checks, in the order logged
    std::vector<LoggedReading> motionOutputs;  // BIT1..BIT4, read again before the moves
    std::optional<float> cnSaved;              // "MG _CN" read as a number
    std::vector<CnSwap> cnSwaps;
    std::optional<int> cnRestored;  // 1 or -1, once the restore was logged
    std::vector<MoveTrace> moves;   // in the order watched; an aborted axis skips its second
    TestOutcome outcome = TestOutcome::Running;
    std::string stage;         // what the test was doing: "the checks", "Y's move to -20000"
    bool stopReached = false;  // after a lost link: "AB1" reached the controller on a new session
    bool motorsRead = false;   // and the motors of X, Y and Z were read after it
    std::string motorsOn;      // the axes among them whose motor read switched on
    int outOfStepReplies = 0;  // before the first move: replies of the checks not trusted

    // The move with this index, or null when it was not watched.
    const MoveTrace* FindMove(int moveIndex) const;
};

}  // namespace trevane
