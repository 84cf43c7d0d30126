#include "report/TestVerdict.h"

#include <filesystem>
#include <mutex>
#include <utility>

#include "common/CLocale.h"

namespace trevane {
namespace {

std::mutex g_verdictMutex;
std::optional<TestVerdict> g_lastVerdict;
std::uint64_t g_ticket = 0;

std::string AxisText(const AxisVerdict& axis) {
    std::string text(1, axis.axis);
    switch (axis.kind) {
        case AxisVerdict::Kind::Passed:
            return text + " passed";
        case AxisVerdict::Kind::Aborted:
            return text + " aborted (" + AbortReasonText(axis.reason) + " " + axis.reading +
                   " above " + (axis.reason == AbortReason::Torque ? "3.1" : "700") + ")";
        case AxisVerdict::Kind::Unfinished:
            return text + " not finished (in the move to " + FormatInt(axis.target) + ")";
        case AxisVerdict::Kind::NotTested:
            break;
    }
    return text + " not tested";
}

std::string ReportText(const TestVerdict& verdict) {
    if (verdict.reportFailed) {
        return "Report: none (it could not be written)";
    }
    return "Report: " + (verdict.reportFile.empty() ? std::string("none") : verdict.reportFile);
}

}  // namespace

const char* VerdictKindText(TestVerdict::Kind kind) {
    switch (kind) {
        case TestVerdict::Kind::Passed:
            return "passed";
        case TestVerdict::Kind::Aborted:
            return "aborted";
        case TestVerdict::Kind::Stopped:
            return "stopped";
        case TestVerdict::Kind::NoConnection:
            break;
    }
    return "no connection";
}

TestVerdict VerdictOfTest(const TestRecord& record, const std::optional<TestReportResult>& report) {
    TestVerdict verdict;
    verdict.testNumber = record.testNumber;
    if (record.outcome == TestOutcome::NoConnection) {
        verdict.kind = TestVerdict::Kind::NoConnection;
        return verdict;
    }
    bool allPassed = true;
    bool anyAborted = false;
    for (char axis : {'X', 'Y', 'Z'}) {
        verdict.axes.push_back(VerdictOf(record, axis));
        allPassed = allPassed && verdict.axes.back().kind == AxisVerdict::Kind::Passed;
        anyAborted = anyAborted || verdict.axes.back().kind == AxisVerdict::Kind::Aborted;
    }
    if (record.outcome != TestOutcome::Completed) {
        verdict.kind = TestVerdict::Kind::Stopped;
        verdict.stoppedByOperator = record.outcome == TestOutcome::AbortedByUser;
    } else {
        // A completed test whose axes were not all watched to the end has not passed either.
        verdict.kind =
            allPassed && !anyAborted ? TestVerdict::Kind::Passed : TestVerdict::Kind::Aborted;
    }
    // Only this test's own report counts; an earlier one's must not be named.
    if (report && report->testNumber == record.testNumber) {
        verdict.reportFailed = report->failure.has_value();
        verdict.reportFile = std::filesystem::path(report->files.html).filename().string();
    }
    return verdict;
}

std::string VerdictLine(const TestVerdict& verdict) {
    std::string line = "Test result: ";
    if (verdict.kind == TestVerdict::Kind::NoConnection) {
        line += "not run, no connection.";
    } else {
        if (verdict.kind == TestVerdict::Kind::Stopped) {
            line += verdict.stoppedByOperator ? "stopped by the operator: "
                                              : "stopped when the program closed: ";
        }
        for (std::size_t i = 0; i < verdict.axes.size(); ++i) {
            line += (i == 0 ? "" : ", ") + AxisText(verdict.axes[i]);
        }
        line += ".";
    }
    for (const std::string& note : verdict.notes) {
        line += " " + note;
    }
    return line + " " + ReportText(verdict);
}

std::optional<TestVerdict> LastTestVerdict() {
    std::lock_guard lock(g_verdictMutex);
    return g_lastVerdict;
}

std::uint64_t ClearLastTestVerdict() {
    std::lock_guard lock(g_verdictMutex);
    g_lastVerdict.reset();
    return ++g_ticket;
}

bool SetLastTestVerdict(std::uint64_t ticket, TestVerdict verdict) {
    std::lock_guard lock(g_verdictMutex);
    if (ticket != g_ticket) {
        return false;
    }
    g_lastVerdict = std::move(verdict);
    return true;
}

}  // namespace trevane
