#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "autotest/TestRecord.h"

// The recorder of the test that runs, and of the last one.
//
// Writers: the test thread only, from the test's own code; everything it records after a stop
// request (an abort) is dropped, so the record ends where the log ends.
// Readers: any thread. A window polling at 10-30 Hz compares Version() with the last one it drew,
// and on a change takes Summary() for the texts and SamplesSince() for the new points of the move
// it plots; Snapshot() copies everything (about 20 KB of samples for a whole test).
namespace trevane {

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
    // `motorsRead`: the motors were read after the stop, `motorsOn` naming those switched on.
    void EndTestLinkLost(bool stopReached, bool motorsRead = false,
                         const std::string& motorsOn = {});
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
    void AddCnSwap(char axis, bool forwardSwitch, int cn, bool readingFailed);
    void SetCnRestored(int cn);
    void SetStage(const std::string& stage);

    void BeginMove(int moveIndex, char axis, int target);
    // One cycle: the signed readings and the watch's maxima after this cycle's readings.
    void AddSample(double timeMs, float torque, float error, float maxTorque, float maxError);
    void MarkMoveAbort(AbortReason reason, const std::string& reading);
    // One cycle's readings that failed (kept even while samples are not).
    void CountFailedReadings(bool torqueFailed, bool errorFailed);
    // Replies that came out of step: the move watched last has them, or the test before any.
    void CountOutOfStepReplies(int count);
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

}  // namespace trevane
