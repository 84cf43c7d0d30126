#include "autotest/TestRunner.h"

#include <stop_token>
#include <system_error>
#include <utility>

#include "autotest/AxisMotionTest.h"
#include "autotest/ConfigurationChecks.h"
#include "autotest/TestContext.h"
#include "autotest/TestLog.h"
#include "autotest/TestRecorder.h"
#include "common/StopControl.h"
#include "common/StopWait.h"
#include "link/ControllerLink.h"
#include "machine/Procedures.h"

namespace trevane {

using namespace std::chrono_literals;

// What the window's thread and one test thread share about that thread.
struct TestRunner::Run {
    std::mutex gateMutex;
    std::condition_variable_any gate;
    bool gateOpen = false;
    bool finished = false;       // under endMutex_
    int testNumber = 0;          // the n-th "Starting Test" of the log
    bool abortedByUser = false;  // under stateMutex_
    TestEndHooks hooks;          // as they were when the test started
    std::uint64_t verdictTicket = 0;
};

namespace {

// The command session is gone: the test ends here, with one entry of ours after what it logged,
// and one bounded try to stop the axes on a new session.
constexpr auto kStopAttemptBound = 2s;
constexpr const char* kLinkLostEntry = "Test Aborted: the link to the controller was lost";

// The handler opens the gate once it has set the running flag; the thread may clear it only
// after.
bool WaitAtGate(TestRunner::Run& run, std::stop_token stop) {
    std::unique_lock lock(run.gateMutex);
    return WaitOrStopped(run.gate, lock, stop, [&run] { return run.gateOpen; });
}

}  // namespace

TestRunner::TestRunner(ControllerLink& link, TestLog& log, TestRecorder& recorder)
    : link_(link), log_(log), recorder_(recorder) {}

TestRunner::~TestRunner() {
    StopAndJoin();
}

void TestRunner::SetEndHooks(TestEndHooks hooks) {
    std::lock_guard lock(threadsMutex_);
    hooks_ = std::move(hooks);
}

bool TestRunner::IsFinished(const Run& run) const {
    std::lock_guard lock(endMutex_);
    return run.finished;
}

void TestRunner::OpenGate() {
    std::shared_ptr<Run> run;
    {
        std::lock_guard lock(threadsMutex_);
        run = currentRun_;
    }
    if (!run) {
        return;
    }
    {
        std::lock_guard lock(run->gateMutex);
        run->gateOpen = true;
    }
    run->gate.notify_all();
}

// The report goes out here, on the test thread after its last log entry. After an abort that is
// behind "Test Aborted by User", which is fine: the report is a file of its own.
std::optional<TestRecord> TestRunner::EndRecord(const Run& run) {
    bool abortedByUser = false;
    {
        std::lock_guard lock(stateMutex_);
        abortedByUser = run.abortedByUser;
    }
    const std::optional<TestRecord> record = recorder_.FinishOwnRecord(
        abortedByUser ? TestOutcome::AbortedByUser : TestOutcome::Stopped);
    if (record && run.hooks.ended) {
        run.hooks.ended(*record);
    }
    return record;
}

void TestRunner::ThreadMain(const std::shared_ptr<Run>& run, std::stop_token stop) {
    bool started = false;
    std::optional<TestRecord> record;
    {
        TestContext test{link_, log_, recorder_, *this};
        {
            ScopedStopToken scope(stop);
            started = WaitAtGate(*run, stop);
            if (started) {
                recorder_.BeginTest(run->testNumber);
                RunTest(test);
            }
        }
        if (started && test.machineMayMove) {
            // The test was stopped between its connection check and the end of its closing
            // sequence: its last command has gone out, so nothing can start the axes again.
            // Sent outside the stop token's scope, as the stop has already been requested; a
            // failure shows as any other command's. The motors stay as they are.
            test.machineMayMove = false;
            link_.SendCommand("AB1");
        }
    }
    if (started) {
        {
            ScopedStopToken scope(stop);
            record = EndRecord(*run);
        }
        if (record && run->hooks.judged) {
            run->hooks.judged(*record, run->verdictTicket);
        }
    }
    {
        std::lock_guard lock(endMutex_);
        if (record) {
            lastRecord_ = std::move(record);
        }
        run->finished = true;
        --liveThreads_;
    }
    endChanged_.notify_all();
}

// Threads of earlier tests have ended or are unwinding from a stop; the ones that have ended are
// joined here (at once), the others at the next start or at shutdown. Needs threadsMutex_.
void TestRunner::RetireCurrentThreadLocked() {
    if (thread_.joinable()) {
        // A thread that cleared the flag may still be telling the operator; that must not land
        // on the next test's button.
        thread_.request_stop();
        retired_.push_back({std::move(thread_), std::move(currentRun_)});
    }
    currentRun_.reset();
    std::erase_if(retired_, [this](Retired& retired) {
        if (!retired.run || !IsFinished(*retired.run)) {
            return false;
        }
        retired.thread.join();
        return true;
    });
}

// Returns false when the thread could not be created.
bool TestRunner::StartThread() {
    log_.Write("Starting Test", "\n");
    lastTestCompleted_ = false;
    auto run = std::make_shared<Run>();
    std::lock_guard lock(threadsMutex_);
    run->hooks = hooks_;
    run->verdictTicket = run->hooks.started ? run->hooks.started() : 0;
    run->testNumber = log_.CountTestStart();
    RetireCurrentThreadLocked();
    {
        std::lock_guard end(endMutex_);
        ++liveThreads_;
    }
    try {
        thread_ = std::jthread([this, run](std::stop_token stop) { ThreadMain(run, stop); });
    } catch (const std::system_error&) {
        std::lock_guard end(endMutex_);
        --liveThreads_;
        return false;
    }
    currentRun_ = std::move(run);
    return true;
}

void TestRunner::ClearRunningFlag(TestContext& test, bool completed) {
    std::lock_guard lock(stateMutex_);
    ThrowIfStopRequested();
    lastTestCompleted_ = completed;
    link_.Test().running = false;
    test.machineMayMove = false;
}

void TestRunner::EndAfterLinkLoss(TestContext& test) {
    log_.Write(kLinkLostEntry, "\n");
    const StopAttempt stop = link_.StopOnFreshSession(kStopAttemptBound, true);
    recorder_.EndTestLinkLost(stop.reached, stop.motorsRead, stop.motorsOn);
    ClearRunningFlag(test, false);
    link_.TheOperator()->TestRunningChanged(false);
}

void TestRunner::RunClosingSequence(TestContext& test) {
    ExitMotion(link_);
    log_.Write("Exit Motion", "\n");
    Wait(2s);
    DisableMachine(link_);
    log_.Write("Disable Machine", "\n");
    ReportProgress(100);
    Wait(1s);
    ReportProgress(0);
    recorder_.EndTest(TestOutcome::Completed);
    ClearRunningFlag(test, true);
    link_.TheOperator()->TestRunningChanged(false);
}

void TestRunner::OnRunAutoTest() {
    std::shared_ptr<Operator> panel = link_.TheOperator();
    if (!link_.Test().running) {
        panel->TestRunningChanged(true);
        if (!StartThread()) {
            // Without a thread there is nothing to abort: stay Idle.
            panel->TestRunningChanged(false);
            return;
        }
        link_.Test().running = true;
        OpenGate();
    } else {
        Abort();
        panel->TestRunningChanged(false);
        link_.Test().running = false;
    }
}

void TestRunner::Abort() {
    int testNumber = 0;
    {
        std::lock_guard lock(threadsMutex_);
        std::lock_guard state(stateMutex_);
        if (currentRun_) {
            currentRun_->abortedByUser = true;
            testNumber = currentRun_->testNumber;
        }
        thread_.request_stop();
    }
    // The stop is requested first: from here on the test thread can neither log, send nor
    // record.
    if (testNumber > 0) {
        recorder_.MarkAbortedByUser(testNumber);
    }
    log_.Write("Test Aborted by User", "\n");
}

// The test thread's routine: connection check, both phases, the closing sequence.
void TestRunner::RunTest(TestContext& test) {
    try {
        if (!link_.Connected()) {
            recorder_.EndTest(TestOutcome::NoConnection);
            link_.TheOperator()->TestRunningChanged(false);
            ClearRunningFlag(test, false);
            return;
        }
        test.machineMayMove = true;
        try {
            LinkLossEndsRun linkLossEndsTest;
            recorder_.SetStage("the checks");
            RunConfigurationChecks(test);
            RunAxisMotionTest(test);
            RunClosingSequence(test);
        } catch (const LinkLost&) {
            EndAfterLinkLoss(test);
        }
    } catch (const TestAborted&) {
        // The abort has already logged its line and told the operator; nothing more to do.
    }
}

void TestRunner::ReportProgress(std::int32_t percent) {
    std::lock_guard lock(stateMutex_);
    ThrowIfStopRequested();
    link_.Test().progress = percent;
}

void TestRunner::StopAndJoin() {
    std::vector<std::jthread> threads;
    {
        std::lock_guard lock(threadsMutex_);
        std::lock_guard state(stateMutex_);
        if (thread_.joinable()) {
            thread_.request_stop();
            threads.push_back(std::move(thread_));
        }
        for (Retired& retired : retired_) {
            retired.thread.request_stop();
            threads.push_back(std::move(retired.thread));
        }
        retired_.clear();
        currentRun_.reset();
        link_.Test().running = false;
    }
    for (std::jthread& thread : threads) {
        thread.join();
    }
    link_.JoinStopAttempts();
}

bool TestRunner::AnyThreadAlive() const {
    std::lock_guard lock(endMutex_);
    return liveThreads_ > 0;
}

bool TestRunner::WaitForEnd(std::chrono::milliseconds timeout) {
    std::unique_lock lock(endMutex_);
    return endChanged_.wait_for(lock, timeout, [this] { return liveThreads_ == 0; });
}

std::optional<TestRecord> TestRunner::LastRecord() const {
    std::lock_guard lock(endMutex_);
    return lastRecord_;
}

}  // namespace trevane
