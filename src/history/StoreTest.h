#pragma once

#include <optional>
#include <string>
#include <vector>

#include "autotest/TestRecord.h"
#include "history/History.h"
#include "history/Trends.h"

// The test runner's side of the history: every ended test that reached the controller goes in,
// and what became of it stays readable for the front ends (the CLI's exit code, the window's
// strip). A failure here never touches the test or its log.
namespace trevane::history {

struct StoreResult {
    int testNumber = 0;
    std::optional<std::string> failure;  // why the test could not be stored
    std::optional<std::string> notice;   // an old file renamed aside
    std::optional<Comparison> comparison;
    std::vector<std::string> flags;  // DriftFlagTexts of the comparison
    std::vector<char> noBaseline;    // AxesWithoutBaseline of the comparison
    // With a server: why it did not take the test, and how many tests wait for it now.
    std::optional<std::string> serverFailure;
    int waiting = 0;
};

// Where tests are kept: kHistoryFileName in the working directory unless another file was set
// (the children of a fleet share one).
void SetHistoryPath(std::string path);
std::string HistoryPath();

// The team's server (a URL or service name), when tests go there too; none by default.
void SetHistoryServer(std::optional<std::string> server);
std::optional<std::string> HistoryServer();

// Stores the test in the local history, then sends what waits to the server if there is one,
// and compares the test with earlier ones: the team's on the server, else the file's. The file
// names are kept relative to the history's folder.
StoreResult StoreTest(const TestRecord& record, const TestFiles& files,
                      const std::string& path = HistoryPath());

// On by default; tests of other parts may turn it off.
void SetHistoryEnabled(bool enabled);
bool HistoryEnabled();

// Kept by the test runner's hook for the front ends.
void SetLastStored(StoreResult result);
std::optional<StoreResult> LastStored();
// "history could not be written: REASON" of the last test, if it could not.
std::optional<std::string> LastHistoryFailureText();
// KeptLocallyText of the last test, if the server did not take it.
std::optional<std::string> LastKeptLocallyText();

// The history's program-wide values as at start: on, in the working directory, no server,
// nothing stored.
// For tests.
void ResetHistoryState();

}  // namespace trevane::history
