#pragma once

#include <cstdint>

// What main() sets up and takes down around a verb; the verbs themselves use Verbs.h.
namespace trevane::cli {

// SIGINT, SIGTERM and SIGHUP set the interrupt flag and start the watcher that runs OnInterrupt
// callbacks; a second interrupt asked for later makes one bounded attempt to stop the axes
// ("AB1" on a fresh session) and ends the program at once. SIGPIPE is ignored.
void InstallInterruptHandlers();
// How many interrupts (and broken outputs) have arrived so far.
int InterruptCount();
// 128 + the number of the first signal (SIGPIPE for a broken output), 130 when there was none.
int InterruptExitCode();
// A write to standard output failed: counted as one interrupt by SIGPIPE, so a running verb
// stops as on Ctrl-C and the program exits 141.
void ReportBrokenOutput();
// Stops and joins the thread that runs OnInterrupt callbacks.
void StopInterruptWatcher();

// Points Connect at the TCP client on `port` with the reply timeout `timeoutMs` (uploads ten
// times it), and watches every exchange of its sessions.
void UseTcpSessions(std::uint16_t port, int timeoutMs);

// From now on, every rejected or failed command of the sessions is named on standard error with
// its reason, and each command is told to the WatchCommands watcher.
void WatchTheSessions();

// Whether an exchange ran out of time since ForgetTimeouts.
bool SawTimeout();
void ForgetTimeouts();
// From HoldCommandReports on, those lines are kept; ReleaseCommandReports prints them, or drops
// them when the caller reports the failure in a line of its own.
void HoldCommandReports();
void ReleaseCommandReports(bool print);

}  // namespace trevane::cli
