#pragma once

#include <cstdint>
#include <string>

// What main() sets up and takes down around a verb; the verbs themselves use Verbs.h.
namespace trevane::cli {

// SIGINT and SIGTERM set the interrupt flag and start the watcher that runs OnInterrupt
// callbacks; a second interrupt asked for later ends the program at once.
void InstallInterruptHandlers();
// Stops and joins the thread that runs OnInterrupt callbacks.
void StopInterruptWatcher();

// Points Connect at the TCP client on `port`, keeping each failure's text for the one line
// that ConnectLikeTheWindow prints.
void UseTcpSessions(std::uint16_t port);

}  // namespace trevane::cli
