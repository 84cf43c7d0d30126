#pragma once

#include <atomic>
#include <cstdint>

namespace trevane {

extern std::atomic<bool> g_testRunning;
extern std::atomic<std::int32_t> g_testProgress;

// The Run Auto Test / Abort Test button's handler.
void OnRunAutoTest();
// Logs "Starting Test" and starts the test thread (kept as g_testThread).
void StartTest();
// Logs "Test Aborted by User" and stops the test thread cooperatively, without waiting for it.
void AbortTest();
// The test thread's routine: connection check, both phases, the closing sequence.
int TestThreadProc();

// The progress timer's tick (IDT_PROGRESS): shows g_testProgress on the progress bar.
void OnProgressTick();

// For shutdown and tests: asks every test thread still running to stop and waits for them.
// Bounded by one controller exchange, since every wait of the test gives way to a stop.
void StopAndJoinTestThreads();

// True while any test thread (a running one, or an aborted one still unwinding) is alive.
bool AnyTestThreadAlive();

}  // namespace trevane
