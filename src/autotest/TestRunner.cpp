#include "autotest/TestRunner.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <system_error>
#include <utility>
#include <vector>

#include "autotest/AxisMotionTest.h"
#include "autotest/ConfigurationChecks.h"
#include "autotest/TestEnd.h"
#include "autotest/TestLog.h"
#include "autotest/TestRecorder.h"
#include "common/StopControl.h"
#include "common/StopWait.h"
#include "link/Link.h"
#include "link/WindowOps.h"
#include "machine/Procedures.h"

namespace trevane {

namespace {

using namespace std::chrono_literals;

// The locks come first so that they outlive every thread object below, whatever the order of
// shutdown.

// Guards the `finished` flags and the count of live test threads, so a waiter cannot miss an end.
std::mutex g_endMutex;
std::condition_variable g_endChanged;
int g_liveTestThreads = 0;

// A stop request and the test thread's writes of shared state (flag, progress) exclude each other,
// so nothing the thread writes lands after the abort that stopped it.
std::mutex g_stateMutex;

// g_testThread, its run and the threads of earlier tests. The test threads never take it.
std::mutex g_threadsMutex;

}  // namespace

std::jthread g_testThread;

namespace {

constexpr const char* kRunCaption = "Run Auto Test";
constexpr const char* kAbortCaption = "Abort Test";

// What the window's thread and one test thread share about that thread.
struct TestRun {
    std::mutex gateMutex;
    std::condition_variable_any gate;
    bool gateOpen = false;
    bool finished = false;       // under g_endMutex
    int testNumber = 0;          // the n-th "Starting Test" of the log
    bool abortedByUser = false;  // under g_stateMutex
    TestEndHooks hooks;          // as they were when the test started
    std::uint64_t verdictTicket = 0;
};

// Under g_threadsMutex: the run of g_testThread, and the threads of earlier tests.
std::shared_ptr<TestRun> g_currentRun;
struct RetiredThread {
    std::jthread thread;
    std::shared_ptr<TestRun> run;
};
std::vector<RetiredThread> g_retiredThreads;

std::atomic<bool> g_lastTestCompleted{false};

// On a test thread: set once the connection check has passed, cleared when the closing sequence
// has ended. Still set when the thread unwinds means the axes may be moving.
thread_local bool t_machineMayMove = false;

bool IsFinished(const TestRun& run) {
    std::lock_guard lock(g_endMutex);
    return run.finished;
}

// The handler opens the gate once it has set g_testRunning; the thread may clear it only after.
bool WaitAtGate(TestRun& run, std::stop_token stop) {
    std::unique_lock lock(run.gateMutex);
    return WaitOrStopped(run.gate, lock, stop, [&run] { return run.gateOpen; });
}

void OpenGate() {
    std::shared_ptr<TestRun> run;
    {
        std::lock_guard lock(g_threadsMutex);
        run = g_currentRun;
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
std::optional<TestRecord> EndTestRecord(const TestRun& run) {
    bool abortedByUser = false;
    {
        std::lock_guard lock(g_stateMutex);
        abortedByUser = run.abortedByUser;
    }
    const std::optional<TestRecord> record = Recorder().FinishOwnRecord(
        abortedByUser ? TestOutcome::AbortedByUser : TestOutcome::Stopped);
    if (record && run.hooks.ended) {
        run.hooks.ended(*record);
    }
    return record;
}

void TestThreadMain(const std::shared_ptr<TestRun>& run, std::stop_token stop) {
    bool started = false;
    {
        ScopedStopToken scope(stop);
        started = WaitAtGate(*run, stop);
        if (started) {
            Recorder().BeginTest(run->testNumber);
            TestThreadProc();
        }
    }
    if (started) {
        if (t_machineMayMove) {
            // The test was stopped between its connection check and the end of its closing
            // sequence: its last command has gone out, so nothing can start the axes again.
            // Sent outside the stop token's scope, as the stop has already been requested; a
            // failure shows as any other command's. The motors stay as they are.
            t_machineMayMove = false;
            SendCommand("AB1");
        }
        std::optional<TestRecord> record;
        {
            ScopedStopToken scope(stop);
            record = EndTestRecord(*run);
        }
        if (record && run->hooks.judged) {
            run->hooks.judged(*record, run->verdictTicket);
        }
    }
    {
        std::lock_guard lock(g_endMutex);
        run->finished = true;
        --g_liveTestThreads;
    }
    g_endChanged.notify_all();
}

// Threads of earlier tests have ended or are unwinding from a stop; the ones that have ended are
// joined here (at once), the others at the next start or at shutdown. Needs g_threadsMutex.
void RetireCurrentThreadLocked() {
    if (g_testThread.joinable()) {
        // A thread that cleared the flag may still be asking for its caption; that request must
        // not land on the next test's button.
        g_testThread.request_stop();
        g_retiredThreads.push_back({std::move(g_testThread), std::move(g_currentRun)});
    }
    g_currentRun.reset();
    std::erase_if(g_retiredThreads, [](RetiredThread& retired) {
        if (!retired.run || !IsFinished(*retired.run)) {
            return false;
        }
        retired.thread.join();
        return true;
    });
}

// Returns false when the thread could not be created.
bool StartTestThread() {
    WriteLog("Starting Test", "\n");
    g_lastTestCompleted = false;
    auto run = std::make_shared<TestRun>();
    run->hooks = GetTestEndHooks();
    run->verdictTicket = run->hooks.started ? run->hooks.started() : 0;
    std::lock_guard lock(g_threadsMutex);
    run->testNumber = CountTestStartInLog();
    RetireCurrentThreadLocked();
    {
        std::lock_guard end(g_endMutex);
        ++g_liveTestThreads;
    }
    try {
        g_testThread = std::jthread([run](std::stop_token stop) { TestThreadMain(run, stop); });
    } catch (const std::system_error&) {
        std::lock_guard end(g_endMutex);
        --g_liveTestThreads;
        return false;
    }
    g_currentRun = std::move(run);
    return true;
}

void ClearRunningFlag(bool completed) {
    std::lock_guard lock(g_stateMutex);
    ThrowIfStopRequested();
    g_lastTestCompleted = completed;
    g_testRunning = false;
    t_machineMayMove = false;
}

// The command session is gone: the test ends here, with one entry of ours after what it logged,
// and one bounded try to stop the axes on a new session.
constexpr auto kStopAttemptBound = 2s;
constexpr const char* kLinkLostEntry = "Test Aborted: the link to the controller was lost";

void EndAfterLinkLoss() {
    WriteLog(kLinkLostEntry, "\n");
    const bool stopReached = SendStopOnFreshSession(kStopAttemptBound);
    Recorder().EndTestLinkLost(stopReached);
    ClearRunningFlag(false);
    Window()->SetRunTestCaption(kRunCaption);
}

void RunClosingSequence() {
    ExitMotion();
    WriteLog("Exit Motion", "\n");
    Wait(2s);
    DisableMachine();
    WriteLog("Disable Machine", "\n");
    ReportProgress(100);
    Wait(1s);
    ReportProgress(0);
    Recorder().EndTest(TestOutcome::Completed);
    ClearRunningFlag(true);
    Window()->SetRunTestCaption(kRunCaption);
}

}  // namespace

void OnRunAutoTest() {
    auto window = Window();
    if (!g_testRunning) {
        window->SetRunTestCaption(kAbortCaption);
        if (!StartTestThread()) {
            // Without a thread there is nothing to abort: stay Idle.
            window->SetRunTestCaption(kRunCaption);
            return;
        }
        window->StartTimer(IDT_PROGRESS, kTimerPeriodMs);
        g_testRunning = true;
        OpenGate();
    } else {
        AbortTest();
        window->SetRunTestCaption(kRunCaption);
        g_testRunning = false;
    }
}

void StartTest() {
    StartTestThread();
}

void AbortTest() {
    int testNumber = 0;
    {
        std::lock_guard lock(g_threadsMutex);
        std::lock_guard state(g_stateMutex);
        if (g_currentRun) {
            g_currentRun->abortedByUser = true;
            testNumber = g_currentRun->testNumber;
        }
        g_testThread.request_stop();
    }
    // The stop is requested first: from here on the test thread can neither log, send nor
    // record.
    if (testNumber > 0) {
        Recorder().MarkAbortedByUser(testNumber);
    }
    WriteLog("Test Aborted by User", "\n");
}

int TestThreadProc() {
    try {
        if (!g_connected) {
            Recorder().EndTest(TestOutcome::NoConnection);
            Window()->SetRunTestCaption(kRunCaption);
            ClearRunningFlag(false);
            return 0;
        }
        t_machineMayMove = true;
        try {
            LinkLossEndsRun linkLossEndsTest;
            Recorder().SetStage("the checks");
            RunConfigurationChecks();
            RunAxisMotionTest();
            RunClosingSequence();
        } catch (const LinkLost&) {
            EndAfterLinkLoss();
        }
    } catch (const TestAborted&) {
        // The abort has already logged its line and set the button; nothing more to do.
    }
    return 0;
}

void ReportProgress(std::int32_t percent) {
    std::lock_guard lock(g_stateMutex);
    ThrowIfStopRequested();
    g_testProgress = percent;
}

void ResetAutotestState() {
    StopAndJoinTestThreads();
    g_lastTestCompleted = false;
    g_cnSaved = 0.0f;
    g_cnCurrent = 0.0f;
    g_cnSavedTrusted = true;
    g_moveAborted = false;
    g_anyMoveAborted = false;
}

void StopAndJoinTestThreads() {
    std::vector<std::jthread> threads;
    {
        std::lock_guard lock(g_threadsMutex);
        std::lock_guard state(g_stateMutex);
        if (g_testThread.joinable()) {
            g_testThread.request_stop();
            threads.push_back(std::move(g_testThread));
        }
        for (RetiredThread& retired : g_retiredThreads) {
            retired.thread.request_stop();
            threads.push_back(std::move(retired.thread));
        }
        g_retiredThreads.clear();
        g_currentRun.reset();
        g_testRunning = false;
    }
    for (std::jthread& thread : threads) {
        thread.join();
    }
    JoinStopAttempts();
}

bool AnyTestThreadAlive() {
    std::lock_guard lock(g_endMutex);
    return g_liveTestThreads > 0;
}

bool WaitForTestEnd(std::chrono::milliseconds timeout) {
    std::unique_lock lock(g_endMutex);
    return g_endChanged.wait_for(lock, timeout, [] { return g_liveTestThreads == 0; });
}

bool LastTestCompleted() {
    return g_lastTestCompleted;
}

}  // namespace trevane
