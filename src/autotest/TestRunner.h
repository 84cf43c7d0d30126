#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "autotest/TestEnd.h"
#include "autotest/TestRecord.h"

namespace trevane {

class ControllerLink;
class TestLog;
class TestRecorder;
struct TestContext;

// One controller's automatic test: the Run Auto Test / Abort Test button, the test thread and
// the threads of earlier tests still unwinding from a stop.
class TestRunner {
  public:
    TestRunner(ControllerLink& link, TestLog& log, TestRecorder& recorder);
    // Stops and joins every test thread.
    ~TestRunner();
    TestRunner(const TestRunner&) = delete;
    TestRunner& operator=(const TestRunner&) = delete;

    // Install before the first test starts.
    void SetEndHooks(TestEndHooks hooks);

    // The Run Auto Test / Abort Test button's handler.
    void OnRunAutoTest();
    // Logs "Test Aborted by User" and stops the test thread cooperatively, without waiting for
    // it. A thread stopped while the machine may move sends "AB1" after its last command, on its
    // way out.
    void Abort();

    // For the test: sets the progress, or unwinds with TestAborted when the thread has been
    // stopped, so the bar keeps the value it had at the abort.
    void ReportProgress(std::int32_t percent);

    // For shutdown and tests: asks every test thread still running to stop and waits for them.
    // Bounded by two controller exchanges, since every wait of the test gives way to a stop: the
    // one under way and the "AB1" that stops the axes. Call it before the sessions are closed.
    void StopAndJoin();
    // True while any test thread (a running one, or an aborted one still unwinding) is alive.
    bool AnyThreadAlive() const;
    // For callers without a window: waits until no test thread is alive. False when `timeout`
    // passed first.
    bool WaitForEnd(std::chrono::milliseconds timeout);
    // True when the most recently started test ran its closing sequence to the end.
    bool LastTestCompleted() const { return lastTestCompleted_.load(); }
    // The record of the test that ended last, as its hooks were given it.
    std::optional<TestRecord> LastRecord() const;

    struct Run;

  private:
    bool StartThread();
    void ThreadMain(const std::shared_ptr<Run>& run, std::stop_token stop);
    void RunTest(TestContext& test);
    void RetireCurrentThreadLocked();
    void OpenGate();
    bool IsFinished(const Run& run) const;
    std::optional<TestRecord> EndRecord(const Run& run);
    void ClearRunningFlag(TestContext& test, bool completed);
    void EndAfterLinkLoss(TestContext& test);
    void RunClosingSequence(TestContext& test);

    ControllerLink& link_;
    TestLog& log_;
    TestRecorder& recorder_;

    // Guards the `finished` flags and the count of live test threads, so a waiter cannot miss
    // an end.
    mutable std::mutex endMutex_;
    std::condition_variable endChanged_;
    int liveThreads_ = 0;
    std::optional<TestRecord> lastRecord_;  // under endMutex_

    // A stop request and the test thread's writes of shared state (flag, progress) exclude each
    // other, so nothing the thread writes lands after the abort that stopped it.
    std::mutex stateMutex_;

    // The current thread, its run and the threads of earlier tests. The test threads never
    // take it.
    std::mutex threadsMutex_;
    TestEndHooks hooks_;  // under threadsMutex_
    struct Retired {
        std::jthread thread;
        std::shared_ptr<Run> run;
    };
    std::vector<Retired> retired_;
    std::shared_ptr<Run> currentRun_;
    std::jthread thread_;  // last: a thread still running is stopped and joined first

    std::atomic<bool> lastTestCompleted_{false};
};

}  // namespace trevane
