#include "autotest/TestRecorder.h"

#include <algorithm>
#include <cmath>

#include "common/Clock.h"
#include "common/StopControl.h"

namespace trevane {

struct TestRecorder::Slot {
    TestRecord record;
    bool finished = false;  // handed back by FinishOwnRecord: no more writes
};

namespace {

// The record the calling thread writes. A test thread owns one record at a time; an aborted
// thread that is still unwinding keeps its own record even after the next test has begun.
struct Ownership {
    const TestRecorder* recorder = nullptr;
    std::shared_ptr<TestRecorder::Slot> slot;
};
// Held through a plain pointer, as with emulated thread-local storage (mingw-w64) a thread_local
// with a destructor is destroyed after its storage has been freed. The test thread hands its
// record back (FinishOwnRecord) before it ends, which frees it.
thread_local Ownership* t_own = nullptr;

Ownership* OwnershipOf(const TestRecorder* recorder) {
    return t_own != nullptr && t_own->recorder == recorder ? t_own : nullptr;
}

void ReleaseOwnership() {
    delete t_own;
    t_own = nullptr;
}

TestRecord WithoutSamples(const TestRecord& record) {
    TestRecord summary;
    summary.testNumber = record.testNumber;
    summary.startTime = record.startTime;
    summary.endTime = record.endTime;
    summary.identity = record.identity;
    summary.checks = record.checks;
    summary.motionOutputs = record.motionOutputs;
    summary.cnSaved = record.cnSaved;
    summary.cnSwaps = record.cnSwaps;
    summary.cnRestored = record.cnRestored;
    summary.outcome = record.outcome;
    summary.moves.reserve(record.moves.size());
    for (const MoveTrace& move : record.moves) {
        MoveTrace copy;
        static_cast<MoveSummary&>(copy) = move;
        summary.moves.push_back(std::move(copy));
    }
    return summary;
}

}  // namespace

TestRecorder::~TestRecorder() {
    // A recorder made later at the same address must not take this one's record for its own.
    if (OwnershipOf(this) != nullptr) {
        ReleaseOwnership();
    }
}

TestRecord TestRecorder::Snapshot() const {
    std::lock_guard lock(mutex_);
    return current_ ? current_->record : TestRecord{};
}

TestRecord TestRecorder::Summary() const {
    std::lock_guard lock(mutex_);
    return current_ ? WithoutSamples(current_->record) : TestRecord{};
}

std::optional<MoveTrace> TestRecorder::CurrentMoveSnapshot() const {
    std::lock_guard lock(mutex_);
    if (!current_ || current_->record.moves.empty()) {
        return std::nullopt;
    }
    return current_->record.moves.back();
}

std::vector<TraceSample> TestRecorder::SamplesSince(int moveIndex, std::size_t fromSample) const {
    std::lock_guard lock(mutex_);
    if (!current_) {
        return {};
    }
    const MoveTrace* move = current_->record.FindMove(moveIndex);
    if (move == nullptr || fromSample >= move->samples.size()) {
        return {};
    }
    return {move->samples.begin() + static_cast<std::ptrdiff_t>(fromSample), move->samples.end()};
}

void TestRecorder::BeginTest(int testNumber) {
    auto slot = std::make_shared<Slot>();
    slot->record.testNumber = testNumber;
    slot->record.startTime = SystemClock().WallNow();
    slot->record.moves.reserve(kMovesPerTest);
    std::lock_guard lock(mutex_);
    current_ = slot;
    ReleaseOwnership();
    t_own = new Ownership{this, std::move(slot)};
    ChangedLocked();
}

void TestRecorder::EndTest(TestOutcome outcome) {
    std::lock_guard lock(mutex_);
    if (Slot* slot = WritableLocked()) {
        slot->record.outcome = outcome;
        ChangedLocked();
    }
}

void TestRecorder::EndTestLinkLost(bool stopReached, bool motorsRead,
                                   const std::string& motorsOn) {
    std::lock_guard lock(mutex_);
    if (Slot* slot = WritableLocked()) {
        slot->record.outcome = TestOutcome::LinkLost;
        slot->record.stopReached = stopReached;
        slot->record.motorsRead = motorsRead;
        slot->record.motorsOn = motorsOn;
        ChangedLocked();
    }
}

void TestRecorder::SetStage(const std::string& stage) {
    std::lock_guard lock(mutex_);
    if (Slot* slot = WritableLocked()) {
        slot->record.stage = stage;
        ChangedLocked();
    }
}

void TestRecorder::CountFailedReadings(bool torqueFailed, bool errorFailed) {
    if (!torqueFailed && !errorFailed) {
        return;
    }
    std::lock_guard lock(mutex_);
    if (MoveTrace* move = WritableMoveLocked()) {
        move->failedTorqueReadings += torqueFailed ? 1 : 0;
        move->failedErrorReadings += errorFailed ? 1 : 0;
        ChangedLocked();
    }
}

void TestRecorder::CountOutOfStepReplies(int count) {
    if (count <= 0) {
        return;
    }
    std::lock_guard lock(mutex_);
    if (MoveTrace* move = WritableMoveLocked()) {
        move->outOfStepReplies += count;
        ChangedLocked();
    } else if (Slot* slot = WritableLocked()) {
        slot->record.outOfStepReplies += count;
        ChangedLocked();
    }
}

void TestRecorder::MarkAbortedByUser(int testNumber) {
    std::lock_guard lock(mutex_);
    if (current_ && !current_->finished && current_->record.testNumber == testNumber) {
        current_->record.outcome = TestOutcome::AbortedByUser;
        ChangedLocked();
    }
}

std::optional<TestRecord> TestRecorder::FinishOwnRecord(TestOutcome ifStillRunning) {
    std::lock_guard lock(mutex_);
    Ownership* own = OwnershipOf(this);
    if (own == nullptr || !own->slot) {
        return std::nullopt;
    }
    const std::shared_ptr<Slot> slot = std::move(own->slot);
    ReleaseOwnership();
    slot->finished = true;
    slot->record.endTime = SystemClock().WallNow();
    if (slot->record.outcome == TestOutcome::Running) {
        slot->record.outcome = ifStillRunning;
        ChangedLocked();
    }
    return slot->record;
}

void TestRecorder::SetIdentity(const std::string& text) {
    std::lock_guard lock(mutex_);
    if (Slot* slot = WritableLocked()) {
        slot->record.identity = text;
        ChangedLocked();
    }
}

void TestRecorder::AddCheck(const std::string& label, const std::string& reply) {
    std::lock_guard lock(mutex_);
    if (Slot* slot = WritableLocked()) {
        slot->record.checks.push_back({label, reply});
        ChangedLocked();
    }
}

void TestRecorder::SetCnSaved(float cn) {
    std::lock_guard lock(mutex_);
    if (Slot* slot = WritableLocked()) {
        slot->record.cnSaved = cn;
        ChangedLocked();
    }
}

void TestRecorder::AddMotionOutput(const std::string& label, const std::string& reply) {
    std::lock_guard lock(mutex_);
    if (Slot* slot = WritableLocked()) {
        slot->record.motionOutputs.push_back({label, reply});
        ChangedLocked();
    }
}

void TestRecorder::AddCnSwap(char axis, bool forwardSwitch, int cn, bool readingFailed) {
    std::lock_guard lock(mutex_);
    if (Slot* slot = WritableLocked()) {
        slot->record.cnSwaps.push_back({axis, forwardSwitch, cn, readingFailed});
        ChangedLocked();
    }
}

void TestRecorder::SetCnRestored(int cn) {
    std::lock_guard lock(mutex_);
    if (Slot* slot = WritableLocked()) {
        slot->record.cnRestored = cn;
        ChangedLocked();
    }
}

void TestRecorder::BeginMove(int moveIndex, char axis, int target) {
    std::lock_guard lock(mutex_);
    if (Slot* slot = WritableLocked()) {
        MoveTrace& move = slot->record.moves.emplace_back();
        move.testNumber = slot->record.testNumber;
        move.moveIndex = moveIndex;
        move.axis = axis;
        move.target = target;
        // Reserved up front, so no cycle of the watch waits for a reallocation.
        move.samples.reserve(kCyclesPerMove);
        ChangedLocked();
    }
}

void TestRecorder::AddSample(double timeMs, float torque, float error, float maxTorque,
                             float maxError) {
    if (!samplesEnabled_.load(std::memory_order_relaxed)) {
        return;
    }
    std::lock_guard lock(mutex_);
    if (MoveTrace* move = WritableMoveLocked()) {
        move->samples.push_back({timeMs, torque, error});
        move->sampleCount = move->samples.size();
        move->maxTorque = maxTorque;
        move->maxError = maxError;
        // NaN never raises a maximum, as in the watch.
        if (std::fabs(error) > move->moveMaxError) {
            move->moveMaxError = std::fabs(error);
        }
        ChangedLocked();
    }
}

void TestRecorder::MarkMoveAbort(AbortReason reason, const std::string& reading) {
    std::lock_guard lock(mutex_);
    if (MoveTrace* move = WritableMoveLocked()) {
        if (!move->aborted) {
            move->aborted = true;
            move->abortReason = reason;
            move->abortReading = reading;
            // The abort comes in the middle of its cycle, before that cycle's sample.
            move->abortCycle = static_cast<int>(move->sampleCount);
        }
        ++move->abortCount;
        ChangedLocked();
    }
}

void TestRecorder::EndMoveWatch() {
    std::lock_guard lock(mutex_);
    if (MoveTrace* move = WritableMoveLocked()) {
        move->watchEnded = true;
        ChangedLocked();
    }
}

void TestRecorder::SetCurrentError(const std::string& reply) {
    std::lock_guard lock(mutex_);
    if (MoveTrace* move = WritableMoveLocked()) {
        move->currentError = reply;
        ChangedLocked();
    }
}

void TestRecorder::SetCurrentPosition(const std::string& reply) {
    std::lock_guard lock(mutex_);
    if (MoveTrace* move = WritableMoveLocked()) {
        move->currentPosition = reply;
        ChangedLocked();
    }
}

TestRecorder::Slot* TestRecorder::WritableLocked() {
    // The stop is looked at under the lock: whoever marks the abort after requesting the stop
    // takes this lock too, so no write of the stopped test can land behind the mark.
    const Ownership* own = OwnershipOf(this);
    if (own == nullptr || !own->slot || own->slot->finished || CurrentThreadStopRequested()) {
        return nullptr;
    }
    return own->slot.get();
}

MoveTrace* TestRecorder::WritableMoveLocked() {
    Slot* slot = WritableLocked();
    if (slot == nullptr || slot->record.moves.empty()) {
        return nullptr;
    }
    return &slot->record.moves.back();
}

void TestRecorder::ChangedLocked() {
    version_.fetch_add(1, std::memory_order_acq_rel);
}

}  // namespace trevane
