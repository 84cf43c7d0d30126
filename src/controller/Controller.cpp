#include "controller/Controller.h"

#include <algorithm>
#include <atomic>
#include <chrono>

namespace trevane {

bool TestResult::AnyMoveAborted() const {
    return record && std::any_of(record->moves.begin(), record->moves.end(),
                                 [](const MoveTrace& move) { return move.aborted; });
}

Controller::Controller()
    : log_(link_),
      conclusion_(link_, log_, history_),
      runner_(link_, log_, recorder_),
      monitor_(link_) {
    runner_.SetEndHooks(conclusion_.Hooks());
}

Controller::~Controller() {
    runner_.StopAndJoin();
    link_.Close();
}

TestResult Controller::LastResult() const {
    TestResult result;
    result.record = runner_.LastRecord();
    result.completed = runner_.LastTestCompleted();
    result.logPath = log_.FilePath();
    result.lostLogEntries = log_.LostEntries();
    result.logFailure = log_.LastWriteFailure();
    result.report = conclusion_.LastReport();
    result.verdict = conclusion_.LastVerdict();
    if (std::optional<history::StoreResult> stored = history_.Last();
        stored && result.record && stored->testNumber == result.record->testNumber) {
        result.stored = std::move(stored);
    }
    return result;
}

TestResult Controller::RunAutomaticTest(std::stop_token stop) {
    using namespace std::chrono_literals;
    std::atomic<bool> stopped{false};
    const std::uint64_t reopeningsBefore = link_.Reopenings();
    runner_.OnRunAutoTest();
    {
        // Abort Test, pressed for the caller; only while that test still runs.
        std::stop_callback abort(stop, [this, &stopped] {
            if (link_.Test().running.exchange(false)) {
                stopped = true;
                runner_.Abort();
                link_.TheOperator()->TestRunningChanged(false);
            }
        });
        while (!runner_.WaitForEnd(100ms)) {
        }
    }
    runner_.StopAndJoin();
    TestResult result = LastResult();
    result.stoppedByOperator = stopped;
    result.sessionReopenings = link_.Reopenings() - reopeningsBefore;
    return result;
}

}  // namespace trevane
