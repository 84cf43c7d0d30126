#include "report/TestReport.h"

#include <atomic>
#include <exception>
#include <filesystem>
#include <mutex>
#include <map>
#include <system_error>

#include "autotest/TestLog.h"
#include "common/CLocale.h"
#include "common/FileAppend.h"
#include "common/FileReplace.h"
#include "common/PathText.h"
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

// The report files this program made, by absolute name, and whether each has been written yet.
// A name made here may be written again; a file of that name that was there before belongs to
// another test (or to someone who put a link there) and is never replaced.
std::mutex g_madeFilesMutex;
std::map<std::string, bool> g_madeFiles;

std::string AbsoluteText(const std::string& path) {
    std::error_code unknown;
    const std::filesystem::path absolute = std::filesystem::absolute(PathFromText(path), unknown);
    return unknown ? path : TextFromPath(absolute.lexically_normal());
}

// Makes the file of `path` this program's own, or says why it cannot be. `empty` tells that
// nothing has been written to it yet (an empty file, to be taken away if the writing fails).
std::optional<std::string> ClaimReportFile(const std::string& path, bool& empty) {
    const std::string key = AbsoluteText(path);
    std::lock_guard lock(g_madeFilesMutex);
    if (const auto made = g_madeFiles.find(key); made != g_madeFiles.end()) {
        empty = !made->second;
        return std::nullopt;
    }
    std::string failure;
    switch (CreateNewFile(path, failure)) {
        case NewFile::Created:
            g_madeFiles.emplace(key, false);
            empty = true;
            return std::nullopt;
        case NewFile::Taken:
            return "cannot write '" + path +
                   "': another file has that name (another test's report?); it was left as it is";
        case NewFile::Failed:
            break;
    }
    return "cannot write '" + path + "': " + failure;
}

std::optional<std::string> WriteReportFile(const std::string& path, const std::string& bytes) {
    bool empty = false;
    if (std::optional<std::string> failure = ClaimReportFile(path, empty)) {
        return failure;
    }
    std::optional<std::string> failure = ReplaceFileAtomically(path, bytes);
    std::lock_guard lock(g_madeFilesMutex);
    if (!failure) {
        g_madeFiles[AbsoluteText(path)] = true;
    } else if (empty) {
        std::error_code ignored;
        std::filesystem::remove(PathFromText(path), ignored);
        g_madeFiles.erase(AbsoluteText(path));
    }
    return failure;
}

// The names of the files this test may write: a name another file has is left out, so that
// the history never points at another test's report.
TestReportFiles ClaimedNames(TestReportFiles files) {
    bool empty = false;
    for (std::string* name : {&files.html, &files.csv}) {
        if (!name->empty() && ClaimReportFile(*name, empty)) {
            name->clear();
        }
    }
    return files;
}

}  // namespace

TestReportFiles ReportFileNames(const std::string& logPath, int testNumber) {
    if (logPath.empty()) {
        return {};
    }
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
    if (logPath.empty()) {
        const std::string why = LastLogWriteFailure();
        result.failure = "no report was written: the test has no log file" +
                         (why.empty() ? std::string() : " (" + why + ")");
        return result;
    }
    std::string failures;
    auto note = [&failures](const std::string& failure) {
        failures += failures.empty() ? failure : "; " + failure;
    };
    try {
        if (auto failure = WriteReportFile(result.files.csv, RenderSamplesCsv(record))) {
            note(*failure);
        }
        if (auto failure = WriteReportFile(
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
    {
        std::lock_guard lock(g_madeFilesMutex);
        g_madeFiles.clear();
    }
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
        report ? ClaimedNames(ReportFileNames(LogFilePath(), record.testNumber)) : TestReportFiles{};
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
