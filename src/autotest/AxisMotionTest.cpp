#include "autotest/AxisMotionTest.h"

#include <chrono>
#include <cmath>
#include <optional>
#include <string>

#include "autotest/ConfigurationChecks.h"
#include "autotest/TestLog.h"
#include "autotest/TestRecorder.h"
#include "autotest/TestRunner.h"
#include "common/CLocale.h"
#include "common/Clock.h"
#include "common/Platform.h"
#include "common/StopControl.h"
#include "autotest/TestContext.h"
#include "link/ControllerLink.h"
#include "machine/Procedures.h"

namespace trevane {

const std::array<const char*, 4> g_axisNames = {"X", "Y", "Z", "W"};

namespace {

using namespace std::chrono_literals;

constexpr int kMovedAxes = 3;  // X, Y and Z; W never moves
constexpr auto kCycleWait = 10ms;
// kTorqueLimit and kErrorLimit live with the traces, which draw them.
constexpr float kSwitchOnBelow = 1.0f;
constexpr std::int32_t kProgressPerAxis = 10;

void LogAxis(TestContext& test, const std::string& axis, const char* text, const std::string& suffix) {
    test.log.Write(axis + text, suffix);
}

// Each cycle waits a full 10 ms after its last exchange ended. A wait is never shortened to
// make up for an earlier oversleep: the controller gets at least 10 ms between cycles, and the
// cadence is held by precise timers instead.
class CycleWait {
  public:
    CycleWait() : clock_(SystemClockShared()) {}

    Clock::TimePoint Now() const { return clock_->Now(); }

    void operator()() {
        ThrowIfStopRequested();
        const Clock::TimePoint deadline = clock_->Now() + Clock::Duration(kCycleWait);
        if (!clock_->SleepUntil(deadline, CurrentStopToken())) {
            throw TestAborted{};
        }
    }

  private:
    std::shared_ptr<Clock> clock_;
    PreciseTimersScope preciseTimers_;
};

void AbortMove(TestContext& test, const std::string& axis, AbortReason reason, const char* entry,
               const std::string& reply) {
    test.link.SendCommand("AB1");
    test.link.SendCommand("MO" + axis);
    LogAxis(test, axis, entry, reply);
    test.moveAborted = true;
    test.anyMoveAborted = true;
    test.recorder.MarkMoveAbort(reason, reply);
}

// A switch reading below 1 counts as on (a failed query reads as 0): flip CN. Each flip goes by
// the CN the test set last, so flips alternate across switches and axes. A reply that came out
// of step is no reading at all: nothing is flipped on it.
void CheckLimitSwitch(TestContext& test, const std::string& axis, bool forward) {
    const std::uint64_t outOfStepBefore = test.link.OutOfStepReplies();
    const std::optional<std::string> reading =
        test.link.TrySendReading((forward ? "MG _LF" : "MG _LR") + axis);
    if (!reading && test.link.OutOfStepReplies() != outOfStepBefore) {
        return;
    }
    if (!(ReadNumber(reading.value_or(std::string())) < kSwitchOnBelow)) {
        return;
    }
    if (test.cnCurrent > 0.0f) {
        test.link.SendCommand("CN-1");
        test.cnCurrent = -1.0f;
        LogAxis(test, axis,
                forward ? " Forward Limit was on, swapping CN to -1"
                        : " Reverse Limit was on, swapping CN to -1",
                "\n");
        test.recorder.AddCnSwap(axis[0], forward, -1, !reading);
    } else {
        test.link.SendCommand("CN1");
        test.cnCurrent = 1.0f;
        LogAxis(test, axis,
                forward ? " Forward Limit was on, swapping CN to 1"
                        : " Reverse Limit was on, swapping CN to 1",
                "\n");
        test.recorder.AddCnSwap(axis[0], forward, 1, !reading);
    }
}

void ReportMove(TestContext& test, const std::string& axis, float maxTorque, float maxError) {
    LogAxis(test, axis, " Axis move finished.  Max torque: ", FormatFixed(maxTorque) + "\n");
    LogAxis(test, axis, " Axis move finished.  Max error: ", FormatFixed(maxError) + "\n");
    const std::string currentError = test.link.SendCommand("TE" + axis);
    LogAxis(test, axis, " Axis move finished.  Current Error: ", currentError);
    test.recorder.SetCurrentError(currentError);
    const std::string currentPosition = test.link.SendCommand("TP" + axis);
    LogAxis(test, axis, " Axis move finished.  Current Position: ", currentPosition);
    test.recorder.SetCurrentPosition(currentPosition);
}

struct Move {
    const char* command;  // appended to "PA" + axis
    const char* entry;
    int target;
};
constexpr Move kMoveOut{"=-20000", " Axis is being moved to -20000", -20000};
constexpr Move kMoveBack{"=0", " Axis is being moved to 0", 0};

// Replies out of step since `since`, for the move watched last.
void CountOutOfStep(TestContext& test, std::uint64_t since) {
    test.recorder.CountOutOfStepReplies(static_cast<int>(test.link.OutOfStepReplies() - since));
}

// One watched move; true when it was not aborted (and has been reported). `outOfStepBefore`
// comes from before the move's switch check, whose reading the move relies on.
bool RunMove(TestContext& test, int axisIndex, const Move& move, float& maxError, std::uint64_t outOfStepBefore) {
    const std::string axis = g_axisNames[axisIndex];
    test.link.SendCommand("PT" + axis + "=1");
    test.link.SendCommand("PA" + axis + move.command);
    LogAxis(test, axis, move.entry, "\n");
    test.recorder.BeginMove(2 * axisIndex + (move.target == 0 ? 1 : 0), axis[0], move.target);
    const float maxTorque = WatchMove(test, axis, maxError);
    if (test.moveAborted) {
        CountOutOfStep(test, outOfStepBefore);
        return false;
    }
    ReportMove(test, axis, maxTorque, maxError);
    // A reply taken for the last reading shows itself out of step on the report's exchanges.
    CountOutOfStep(test, outOfStepBefore);
    Wait(1s);
    return true;
}

void RestoreCn(TestContext& test) {
    test.recorder.SetStage("the closing sequence");
    if (!test.cnSavedTrusted) {
        // Restoring a CN the machine never had would rewire its switches.
        return;
    }
    if (test.cnSaved > 0.0f) {
        test.link.SendCommand("CN1");
        test.cnCurrent = 1.0f;
        test.log.Write("Restoring CN to 1", "\n");
        test.recorder.SetCnRestored(1);
    } else {
        test.link.SendCommand("CN-1");
        test.cnCurrent = -1.0f;
        test.log.Write("Restoring CN to -1", "\n");
        test.recorder.SetCnRestored(-1);
    }
}

void LogOutputs(TestContext& test) {
    for (char bit = '1'; bit <= '4'; ++bit) {
        const std::string reply = test.link.SendCommand(std::string("MG @OUT[") + bit + "]");
        const std::string label = std::string("BIT") + bit + ": ";
        test.log.Write(label, reply);
        test.recorder.AddMotionOutput(label, reply);
    }
}

}  // namespace

// The watch never ends early: every cycle runs, and a reading still above its limit aborts (and
// logs) again, as the operator's log of the reference shows it.
float WatchMove(TestContext& test, const std::string& axis, float& maxError) {
    float maxTorque = 0.0f;
    CycleWait waitForNextCycle;
    TestRecorder& recorder = test.recorder;
    const Clock::TimePoint watchStart = waitForNextCycle.Now();
    for (int cycle = 0; cycle < kCyclesPerMove; ++cycle) {
        const Clock::TimePoint cycleStart = waitForNextCycle.Now();
        const std::optional<std::string> torqueRead = test.link.TrySendReading("TT" + axis);
        const std::string torqueReply = torqueRead.value_or(std::string());
        const float torqueReading = ReadNumber(torqueReply);
        const float torque = std::fabs(torqueReading);
        if (torque > maxTorque) {
            maxTorque = torque;
        }
        if (static_cast<double>(torque) > kTorqueLimit) {
            AbortMove(test, axis, AbortReason::Torque,
                      " Axis move aborted due to torque above threshhold.  Torque: ", torqueReply);
        }
        const std::optional<std::string> errorRead = test.link.TrySendReading("TE" + axis);
        const std::string errorReply = errorRead.value_or(std::string());
        const float errorReading = ReadNumber(errorReply);
        const float error = std::fabs(errorReading);
        if (error > maxError) {
            maxError = error;
        }
        if (error > kErrorLimit) {
            AbortMove(
                test, axis, AbortReason::PositionError,
                " Axis move aborted due to position error above threshhold.  Position error: ",
                errorReply);
        }
        recorder.CountFailedReadings(!torqueRead, !errorRead);
        recorder.AddSample(
            std::chrono::duration<double, std::milli>(cycleStart - watchStart).count(),
            torqueReading, errorReading, maxTorque, maxError);
        waitForNextCycle();
    }
    recorder.EndMoveWatch();
    return maxTorque;
}

void RunAxisMotionTest(TestContext& test) {
    test.recorder.SetStage("the preparation for the moves");
    EnableMachine(test.link);
    test.log.Write("Enable Machine", "\n");
    Wait(4s);
    PrepareMotion(test.link);
    test.log.Write("Preparing For Motion", "\n");
    Wait(1s);
    LogOutputs(test);
    test.link.SendCommand("DP0,0,0,0");
    test.log.Write("SetZero (DP0,0,0,0)", "\n");
    Wait(500ms);

    test.anyMoveAborted = false;
    // Kept across moves and axes: each report shows the largest error since the first move.
    float maxError = 0.0f;
    for (int index = 0; index < kMovedAxes; ++index) {
        const std::string axis = g_axisNames[index];
        test.moveAborted = false;
        test.recorder.SetStage(axis + "'s move to -20000");
        std::uint64_t outOfStepBefore = test.link.OutOfStepReplies();
        CheckLimitSwitch(test, axis, false);
        if (!RunMove(test, index, kMoveOut, maxError, outOfStepBefore)) {
            continue;
        }
        test.recorder.SetStage(axis + "'s move to 0");
        outOfStepBefore = test.link.OutOfStepReplies();
        CheckLimitSwitch(test, axis, true);
        if (!RunMove(test, index, kMoveBack, maxError, outOfStepBefore)) {
            continue;
        }
        test.runner.ReportProgress(test.link.Test().progress + kProgressPerAxis);
    }
    RestoreCn(test);
}

}  // namespace trevane
