#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "autotest/TestRecord.h"
#include "history/Trends.h"
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

// The report files one controller made, by absolute name, and whether each has been written
// yet. A name made here may be written again; a file of that name that was there before belongs
// to another test (or to someone who put a link there) and is never replaced.
class ReportFiles {
  public:
    // Makes the file of `path` this controller's own, or says why it cannot be. `empty` tells
    // that nothing has been written to it yet.
    std::optional<std::string> Claim(const std::string& path, bool& empty);
    // Writes `bytes` whole into a file claimed here (claiming it first).
    std::optional<std::string> Write(const std::string& path, const std::string& bytes);
    // The names of the files this test may write: a name another file has is left out, so that
    // the history never points at another test's report.
    TestReportFiles Claimed(TestReportFiles files);

  private:
    std::mutex mutex_;
    std::map<std::string, bool> made_;
};

// What the log lost, for the report to say.
struct LogLoss {
    int entries = 0;
    std::string lastFailure;  // why the log has no file, when it has none
};

// Writes both files. A file is made new: one that was there before (another test's report, a
// symbolic link) is left as it is and reported. A file `made` holds is replaced as one step
// when written again.
TestReportResult WriteTestReport(const TestRecord& record, const std::string& logPath,
                                 ReportFiles& made, const LogLoss& loss = {},
                                 const std::string& historyHtml = {},
                                 const std::vector<history::Drift>& drift = {});

}  // namespace trevane
