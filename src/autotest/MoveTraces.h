#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// What one automatic test saw, kept for the test report and for a live plot: the values the
// checks read, and per move the torque and error reading of every polling cycle.
//
// Writers: the test thread only, from the test's own code; everything it records after a stop
// request (an abort) is dropped, so the record ends where the log ends.
// Readers: any thread. A window polling at 10-30 Hz compares Version() with the last one it drew,
// and on a change takes Summary() for the texts and SamplesSince() for the new points of the move
// it plots; Snapshot() copies everything (about 20 KB of samples for a whole test).
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

    float maxTorque = 0;     // largest absolute torque of the move, as the move report shows it
    float maxError = 0;      // as the move report shows it: the largest since the test's first move
    float moveMaxError = 0;  // largest absolute error of this move alone

    // The replies of the move report ("Current Error", "Current Position"), once logged.
    std::optional<std::string> currentError;
    std::optional<std::string> currentPosition;

    bool Reported() const { return currentPosition.has_value(); }
    // Every torque and error reading of the watch arrived.
    bool Measured() const { return failedTorqueReadings == 0 && failedErrorReadings == 0; }
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

// "running", "completed", "aborted by user", "no connection", "stopped", "link lost".
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
};

struct TestRecord {
    int testNumber = 0;  // n for the log's n-th "Starting Test"; 0: no test yet
    std::chrono::system_clock::time_point startTime;
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

    // The move with this index, or null when it was not watched.
    const MoveTrace* FindMove(int moveIndex) const;
};

class TestRecorder {
  public:
    TestRecorder() = default;
    ~TestRecorder();
    TestRecorder(const TestRecorder&) = delete;
    TestRecorder& operator=(const TestRecorder&) = delete;

    // --- Readers (any thread) -------------------------------------------------------------

    // Bumped on every change of the current record (a new test included).
    std::uint64_t Version() const { return version_.load(std::memory_order_acquire); }
    // The current (or last) test, with every sample.
    TestRecord Snapshot() const;
    // The same without samples (each move keeps its sampleCount).
    TestRecord Summary() const;
    // The move being watched, or the last one watched, with its samples.
    std::optional<MoveTrace> CurrentMoveSnapshot() const;
    // Samples [fromSample, end) of a move of the current test; empty when there are none (yet).
    std::vector<TraceSample> SamplesSince(int moveIndex, std::size_t fromSample) const;

    // Samples are kept only while enabled (the default); a benchmark turns it off for its
    // baseline. Everything else is recorded either way.
    void SetSamplesEnabled(bool enabled) { samplesEnabled_.store(enabled); }

    // --- The test runner -------------------------------------------------------------------

    // Starts a new current record that the calling thread owns and writes.
    void BeginTest(int testNumber);
    // Sets the outcome of the calling thread's record (dropped after a stop, like any write).
    void EndTest(TestOutcome outcome);
    // The link was lost during the current stage; `stopReached` tells whether the stop got out.
    void EndTestLinkLost(bool stopReached);
    // From the thread that asked the test to stop, after the stop request.
    void MarkAbortedByUser(int testNumber);
    // The calling thread's record, handed back and no longer written. A record still Running
    // takes `ifStillRunning`. Nothing when the thread owns no record.
    std::optional<TestRecord> FinishOwnRecord(TestOutcome ifStillRunning);

    // --- The test itself (the owning thread; dropped after a stop) ------------------------

    void SetIdentity(const std::string& text);
    void AddCheck(const std::string& label, const std::string& reply);
    void SetCnSaved(float cn);
    void AddMotionOutput(const std::string& label, const std::string& reply);
    void AddCnSwap(char axis, bool forwardSwitch, int cn);
    void SetCnRestored(int cn);
    void SetStage(const std::string& stage);

    void BeginMove(int moveIndex, char axis, int target);
    // One cycle: the signed readings and the watch's maxima after this cycle's readings.
    void AddSample(double timeMs, float torque, float error, float maxTorque, float maxError);
    void MarkMoveAbort(AbortReason reason, const std::string& reading);
    // One cycle's readings that failed (kept even while samples are not).
    void CountFailedReadings(bool torqueFailed, bool errorFailed);
    void EndMoveWatch();
    void SetCurrentError(const std::string& reply);
    void SetCurrentPosition(const std::string& reply);

    struct Slot;

  private:
    // The calling thread's record when it may still write to it, under mutex_.
    Slot* WritableLocked();
    MoveTrace* WritableMoveLocked();
    void ChangedLocked();

    mutable std::mutex mutex_;
    std::shared_ptr<Slot> current_;
    std::atomic<std::uint64_t> version_{0};
    std::atomic<bool> samplesEnabled_{true};
};

// The program-wide recorder that the test writes to.
TestRecorder& Recorder();

}  // namespace trevane
