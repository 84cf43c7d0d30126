#include "report/TestReport.h"

#include <atomic>
#include <exception>
#include <mutex>

#include "autotest/TestLog.h"
#include "common/CLocale.h"
#include "common/FileReplace.h"
#include "history/StoreTest.h"
#include "report/ComparisonHtml.h"
#include "report/ReportHtml.h"
#include "report/SamplesCsv.h"
#include "report/TestVerdict.h"

namespace trevane {
namespace {

std::atomic<bool> g_reportEnabled{false};
std::mutex g_lastReportMutex;
std::optional<TestReportResult> g_lastReport;

}  // namespace

TestReportFiles ReportFileNames(const std::string& logPath, int testNumber) {
    std::string base = logPath;
    if (base.ends_with(".txt")) {
        base.resize(base.size() - 4);
    }
    if (testNumber > 1) {
        base += "-" + FormatInt(testNumber);
    }
    return {base + ".html", base + ".csv"};
}

TestReportResult WriteTestReport(const TestRecord& record, const std::string& logPath,
                                 const std::string& historyHtml,
                                 const std::vector<std::string>& driftFlags) {
    TestReportResult result;
    result.testNumber = record.testNumber;
    result.files = ReportFileNames(logPath, record.testNumber);
    std::string failures;
    auto note = [&failures](const std::string& failure) {
        failures += failures.empty() ? failure : "; " + failure;
    };
    try {
        if (auto failure = ReplaceFileAtomically(result.files.csv, RenderSamplesCsv(record))) {
            note(*failure);
        }
        if (auto failure = ReplaceFileAtomically(
                result.files.html,
                RenderReportHtml(record, logPath, LostLogEntries(), historyHtml, driftFlags))) {
            note(*failure);
        }
    } catch (const std::exception& e) {
        note("cannot write the test report '" + result.files.html + "': " + e.what());
    }
    if (!failures.empty()) {
        result.failure = failures;
    }
    return result;
}

void ResetReportState() {
    SetTestReportEnabled(false);
    ClearLastTestVerdict();
    std::lock_guard lock(g_lastReportMutex);
    g_lastReport.reset();
}

void SetTestReportEnabled(bool enabled) {
    g_reportEnabled = enabled;
}

bool TestReportEnabled() {
    return g_reportEnabled;
}

void OnTestEnded(const TestRecord& record) {
    if (record.outcome == TestOutcome::NoConnection || record.outcome == TestOutcome::Running) {
        return;
    }
    const bool report = g_reportEnabled;
    const TestReportFiles files =
        report ? ReportFileNames(LogFilePath(), record.testNumber) : TestReportFiles{};
    std::string historyHtml;
    std::vector<std::string> driftFlags;
    if (history::HistoryEnabled()) {
        history::StoreResult stored =
            history::StoreTest(record, {LogFilePath(), files.html, files.csv});
        if (stored.comparison) {
            historyHtml = history::RenderComparisonHtml(*stored.comparison);
        }
        driftFlags = stored.flags;
        history::SetLastStored(std::move(stored));
    }
    if (!report) {
        // A test of the same number in a replaced log must not be told of an earlier report.
        std::lock_guard lock(g_lastReportMutex);
        g_lastReport.reset();
        return;
    }
    TestReportResult result = WriteTestReport(record, LogFilePath(), historyHtml, driftFlags);
    std::lock_guard lock(g_lastReportMutex);
    g_lastReport = std::move(result);
}

std::optional<TestReportResult> LastTestReport() {
    std::lock_guard lock(g_lastReportMutex);
    return g_lastReport;
}

}  // namespace trevane
