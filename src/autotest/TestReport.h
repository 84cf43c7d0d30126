#pragma once

#include <optional>
#include <string>
#include <vector>

#include "autotest/MoveTraces.h"

// The report of one automatic test, written beside the log: a self-contained HTML page (inline
// CSS, plots as inline SVG, no scripts, nothing loaded from elsewhere) and a CSV of every sample.
//
// Names: the log's name with its final ".txt" replaced, so the log "logFile.txt 112912-140509.txt"
// gets "logFile.txt 112912-140509.html" and ".csv" for the first test of the run. Tests of one run
// share the log, so the n-th test (the one after the log's n-th "Starting Test") gets "-n" before
// the extension: "logFile.txt 112912-140509-2.html" for the second. A test that found no
// connection writes no report but keeps its number.
namespace trevane {

struct TestReportFiles {
    std::string html;
    std::string csv;
};

TestReportFiles ReportFileNames(const std::string& logPath, int testNumber);

// How one of X, Y and Z fared, as the report and a window show it.
struct AxisVerdict {
    enum class Kind {
        Passed,      // both moves completed, reported, and every reading of them arrived
        Unverified,  // both moves completed, but readings failed: nothing shows it passed
        Aborted,     // a move was aborted: `reason`, `reading` and `target` tell which
        Unfinished,  // the test ended while the axis was being tested
        NotTested,   // the test ended before the axis's first move
    };
    Kind kind = Kind::NotTested;
    char axis = 'X';
    AbortReason reason = AbortReason::None;
    std::string reading;  // the reply that aborted the move, as received
    int target = 0;       // the aborted or unfinished move's target
    float maxTorque = 0;  // largest absolute torque of the axis's moves
    float maxError = 0;   // largest absolute error of the axis's own moves
    int readings = 0;     // torque readings asked for in its watches, and as many error readings
    int failedTorqueReadings = 0;
    int failedErrorReadings = 0;

    // "400 of 400 torque readings failed"; "" when none failed.
    std::string FailedReadingsText() const;

    // "passed", "unverified: 400 of 400 torque readings failed", "aborted: torque above 3.1,
    // reading 3.2, in the move to -20000", "not finished: the test ended during the move to 0",
    // "not tested". The reading is not escaped.
    std::string Text() const;
};

AxisVerdict VerdictOf(const TestRecord& record, char axis);

// Says how many log entries were lost when any were: LostLogEntries() unless given.
std::string RenderReportHtml(const TestRecord& record, const std::string& logPath);
std::string RenderReportHtml(const TestRecord& record, const std::string& logPath,
                             int lostLogEntries);
// With a section of the test history's making after the axes (already HTML), and the history's
// drift flags ("Y: torque 60 % above earlier tests") for the headline and the axes.
std::string RenderReportHtml(const TestRecord& record, const std::string& logPath,
                             int lostLogEntries, const std::string& historyHtml,
                             const std::vector<std::string>& driftFlags = {});
// "move,axis,target,cycle,time_ms,torque,error", then one line per sample; lines end in CR LF
// and numbers read back exactly, in the "C" locale whatever the process locale is.
std::string RenderSamplesCsv(const TestRecord& record);

struct TestReportResult {
    int testNumber = 0;  // the record's, so a window can tell an earlier test's report apart
    TestReportFiles files;
    std::optional<std::string> failure;  // what could not be written; nothing when both were
};

// Writes both files, each replacing any earlier file of that name as one step.
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

}  // namespace trevane
