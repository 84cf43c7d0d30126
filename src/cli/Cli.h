#pragma once

#include <cstdint>

// What main() sets up and takes down around a verb; the verbs themselves use Verbs.h.
namespace trevane::cli {

// SIGINT, SIGTERM and SIGHUP set the interrupt flag and start the watcher that runs OnInterrupt
// callbacks; a second interrupt asked for later ends the program at once. SIGPIPE is ignored.
void InstallInterruptHandlers();
// 128 + the number of the first signal (SIGPIPE for a broken output), 130 when there was none.
int InterruptExitCode();
// A write to standard output failed: counted as one interrupt by SIGPIPE, so a running verb
// stops as on Ctrl-C and the program exits 141.
void ReportBrokenOutput();
// Stops and joins the thread that runs OnInterrupt callbacks.
void StopInterruptWatcher();

// Points Connect at the TCP client on `port`.
void UseTcpSessions(std::uint16_t port);

}  // namespace trevane::cli
