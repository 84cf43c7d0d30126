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
};

// Where tests are kept: kHistoryFileName in the working directory unless another file was set
// (the children of a fleet share one).
void SetHistoryPath(std::string path);
std::string HistoryPath();

// Stores the test in the history and compares it with earlier ones. The file names are kept
// relative to the history's folder.
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

// The history's program-wide values as at start: on, in the working directory, nothing stored.
// For tests.
void ResetHistoryState();

}  // namespace trevane::history
