#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "autotest/TestRecord.h"
#include "finder/Findings.h"
#include "history/Trends.h"
#include "report/TestReport.h"
#include "report/TestWarnings.h"

// The one-line verdict a test ends with, for the transcript, the CLI and a window's colours.
namespace trevane {

struct TestVerdict {
    enum class Kind {
        Passed,        // ran to its end and every move of X, Y and Z was measured and completed
        Aborted,       // ran to its end, but a move was aborted
        Unverified,    // ran to its end, no move aborted, but readings of a move did not arrive
        LinkLost,      // the command session went away during the test, which ended there
        Stopped,       // stopped before its end (by the operator or by closing the program)
        NoConnection,  // found no connection and did nothing
    };
    Kind kind = Kind::NoConnection;
    int testNumber = 0;
    bool stoppedByOperator = false;  // Stopped through Abort Test, not by the program closing
    std::vector<AxisVerdict> axes;   // X, Y, Z; empty without a connection
    std::string reportFile;          // the report's file name without its folder; "" for none
    bool reportFailed = false;       // a report was due but could not be written
    std::string lostDuring;          // LinkLost: the stage, "Y's move to -20000"
    bool stopReached = false;        // LinkLost: "AB1" reached the controller on a new session
    bool motorsRead = false;         // LinkLost: the motors were read after the stop
    std::string motorsOn;            // LinkLost: the axes whose motor read switched on
    std::vector<std::string> notes;  // further findings, each appended as a sentence of its own
    std::vector<TestWarning> warnings;   // for every outcome; only a pass is made less by them
    std::vector<history::Drift> drift;  // against the same controller's earlier tests
    // The likely causes of what the axes showed; a limit switch's among them as its warning.
    std::vector<finder::Finding> findings;

    // A pass that wants a look all the same: a warning, drift or a finding.
    bool PassedWithWarnings() const {
        return kind == Kind::Passed && (!warnings.empty() || !drift.empty() || !findings.empty());
    }
};

// "passed", "aborted", "unverified", "link_lost", "stopped", "no_connection".
const char* VerdictKindText(TestVerdict::Kind kind);

// The report's first line, read from across the room, and its colour class ("passed", "failed",
// "incomplete", "warning").
struct Headline {
    std::string text;  // "PASSED", "PASSED WITH WARNINGS: ...", "FAILED: Y aborted (...)", ...
    const char* kind = "incomplete";
};
Headline HeadlineOf(const TestVerdict& verdict);

TestVerdict VerdictOfTest(const TestRecord& record, const std::optional<TestReportResult>& report,
                          std::vector<history::Drift> drift = {});

// The warnings', the findings' and the drift's texts, in that order: "Y forward limit switch
// active at rest: ...", "Y: likely friction", "Y: torque 60 % above earlier tests".
std::vector<std::string> WarningTexts(const TestVerdict& verdict);

// "Test result: X passed, Y aborted (position error -753 above 700), Z passed. Report: none"
std::string VerdictLine(const TestVerdict& verdict);

}  // namespace trevane
