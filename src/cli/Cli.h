#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include "cli/Verbs.h"

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
// What the second interrupt sends before the program ends at once: true once every axis it is
// for was stopped. By default "AB1" to TheController() on a fresh session; a fleet stops every
// member's controller.
void SetLastStop(std::function<bool(std::chrono::milliseconds bound)> stop);

// Points Connect of the context's controller at the TCP client on `port` with the reply timeout
// `timeoutMs` (uploads ten times it), and watches every exchange of its sessions.
void UseTcpSessions(VerbContext& context, std::uint16_t port, int timeoutMs);

// Runs `verb` with the context's operator and TCP sessions, and closes the sessions after it.
// A verb that throws is named on the error stream and ends kExitFailed.
int RunOnController(VerbContext& context, const Verb& verb, const Invocation& invocation);
int RunVerb(VerbContext& context, const Verb& verb, const Invocation& invocation);
// With --json every failure ends the output with one object a script can rely on.
void WriteJsonError(VerbContext& context, int status);

// Set once a fleet gives up waiting for a member's thread: the program then ends without
// taking down what that thread may still use.
void LeaveThreadsBehind();
bool ThreadsLeftBehind();

}  // namespace trevane::cli
