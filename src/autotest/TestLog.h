#pragma once

#include <string>

namespace trevane {

// The log file's name as made at start-up: "logFile.txt %m%d%y-%H%M%S.txt " (30 characters, the
// last a blank). The file on disk carries the name without that trailing blank.
extern char g_logFileName[80];

// Fills g_logFileName from the system clock's local time. Called once by the window's start-up.
// The first entry creates the file exclusively: when anything of that name exists already (another
// test of the same second), the name gets "-2" before ".txt" ("-3" after that, and so on, up to
// "-100"). Nothing already there is ever written to, nor anything a symbolic link leads to.
void MakeLogFileName();

// Counts a test started with the current log name and returns its number: 1 for the first test
// since MakeLogFileName, 2 for the second, and so on (the n-th "Starting Test" of the log).
int CountTestStartInLog();

// The file name as opened on disk: g_logFileName without its trailing blanks. Any thread. Empty
// once no file could be made for the log (and g_logFileName with it): then there is no log.
std::string LogFilePath();

// Shows message + suffix on the status line, then appends "<%x %X stamp> <message><suffix>" to
// the log file with every LF stored as CR LF. Never fails to its caller: an entry that cannot be
// written whole is dropped whole and counted in LostLogEntries(). On a test thread that has been
// asked to stop it unwinds with TestAborted and writes nothing, so no entry of the test follows the
// abort entry.
void WriteLog(const std::string& message, const std::string& suffix);

// Entries that could not be written whole since the log's name was made; any thread may read it.
int LostLogEntries();
// Why the last of those was lost ("writing it failed: No space left on device"), without the
// file's name; empty when none was. When no file could be made for the log, the reason names the
// folder and the names tried.
std::string LastLogWriteFailure();

}  // namespace trevane
