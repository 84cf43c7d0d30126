#pragma once

#include <optional>
#include <string>
#include <vector>

#include "autotest/TestRecord.h"
#include "report/AxisVerdict.h"

// The report of one automatic test, written beside the log: a self-contained HTML page (inline
// CSS, plots as inline SVG, no scripts, nothing loaded from elsewhere) and a CSV of every sample.
//
// Names: the log's name with its final ".txt" replaced, so the log "logFile.txt 112912-140509.txt"
// gets "logFile.txt 112912-140509.html" and ".csv" for the first test of the run. Tests of one run
// share the log, so the n-th test (the one after the log's n-th "Starting Test") gets "-n" before
// the extension: "logFile.txt 112912-140509-2.html" for the second. A test that found no
// connection writes no report but keeps its number. A test without a log file (no name for one
// could be made) has no report names and writes no report.
namespace trevane {

struct TestReportFiles {
    std::string html;
    std::string csv;
};

TestReportFiles ReportFileNames(const std::string& logPath, int testNumber);

struct TestReportResult {
    int testNumber = 0;  // the record's, so a window can tell an earlier test's report apart
    TestReportFiles files;
    std::optional<std::string> failure;  // what could not be written; nothing when both were
};

// Writes both files. A file is made new: one that was there before (another test's report, a
// symbolic link) is left as it is and reported. A file this program made is replaced as one step
// when written again.
TestReportResult WriteTestReport(const TestRecord& record, const std::string& logPath,
                                 const std::string& historyHtml = {},
                                 const std::vector<std::string>& driftFlags = {});

// Off by default: the reference writes no files besides the log. The window and
// `trevane-cli autotest --report` turn it on.
void SetTestReportEnabled(bool enabled);
bool TestReportEnabled();

// The test runner's hook, on the test thread once a test has ended (after its last log entry):
// stores the test in the history and writes the report when enabled, unless the test found no
// connection.
void OnTestEnded(const TestRecord& record);

// The report written most recently in this run of the program.
std::optional<TestReportResult> LastTestReport();

// The report's program-wide values as at start: off, none written, no verdict. For tests.
void ResetReportState();

}  // namespace trevane
