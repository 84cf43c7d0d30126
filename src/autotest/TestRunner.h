#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "link/TestState.h"

namespace trevane {

// The most recently started test thread. Touched only by the runner's own functions.
extern std::jthread g_testThread;

// The Run Auto Test / Abort Test button's handler.
void OnRunAutoTest();
// Logs "Starting Test" and starts the test thread (kept as g_testThread). The thread holds back
// until OnRunAutoTest has set g_testRunning, so the flag is never set after the thread cleared it.
void StartTest();
// Logs "Test Aborted by User" and stops the test thread cooperatively, without waiting for it.
// A thread stopped while the machine may move sends "AB1" after its last command, on its way out.
void AbortTest();
// The test thread's routine: connection check, both phases, the closing sequence.
int TestThreadProc();

// For the test thread: sets g_testProgress, or unwinds with TestAborted when the thread has been
// stopped, so the bar keeps the value it had at the abort.
void ReportProgress(std::int32_t percent);

// For shutdown and tests: asks every test thread still running to stop and waits for them.
// Bounded by two controller exchanges, since every wait of the test gives way to a stop: the one
// under way and the "AB1" that stops the axes. Call it before the sessions are closed.
void StopAndJoinTestThreads();

// True while any test thread (a running one, or an aborted one still unwinding) is alive.
bool AnyTestThreadAlive();

// The automatic test's program-wide values as at start: every test thread stopped and joined,
// the saved and current "CN", the abort flags. For tests.
void ResetAutotestState();

// For callers without a window (trevane-cli, tests): waits until no test thread is alive.
// Returns false when `timeout` passed first.
bool WaitForTestEnd(std::chrono::milliseconds timeout);

// True when the most recently started test ran its closing sequence to the end.
bool LastTestCompleted();

}  // namespace trevane
