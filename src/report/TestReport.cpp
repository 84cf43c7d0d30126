#include "report/TestReport.h"

#include <exception>
#include <filesystem>
#include <mutex>
#include <map>
#include <system_error>

#include "common/CLocale.h"
#include "common/FileAppend.h"
#include "common/FileReplace.h"
#include "common/PathText.h"
#include "report/ReportHtml.h"
#include "report/SamplesCsv.h"

namespace trevane {
namespace {

std::string AbsoluteText(const std::string& path) {
    std::error_code unknown;
    const std::filesystem::path absolute = std::filesystem::absolute(PathFromText(path), unknown);
    return unknown ? path : TextFromPath(absolute.lexically_normal());
}

}  // namespace

std::optional<std::string> ReportFiles::Claim(const std::string& path, bool& empty) {
    const std::string key = AbsoluteText(path);
    std::lock_guard lock(mutex_);
    if (const auto made = made_.find(key); made != made_.end()) {
        empty = !made->second;
        return std::nullopt;
    }
    std::string failure;
    switch (CreateNewFile(path, failure)) {
        case NewFile::Created:
            made_.emplace(key, false);
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

std::optional<std::string> ReportFiles::Write(const std::string& path, const std::string& bytes) {
    bool empty = false;
    if (std::optional<std::string> failure = Claim(path, empty)) {
        return failure;
    }
    std::optional<std::string> failure = ReplaceFileAtomically(path, bytes);
    std::lock_guard lock(mutex_);
    if (!failure) {
        made_[AbsoluteText(path)] = true;
    } else if (empty) {
        std::error_code ignored;
        std::filesystem::remove(PathFromText(path), ignored);
        made_.erase(AbsoluteText(path));
    }
    return failure;
}

TestReportFiles ReportFiles::Claimed(TestReportFiles files) {
    bool empty = false;
    for (std::string* name : {&files.html, &files.csv}) {
        if (!name->empty() && Claim(*name, empty)) {
            name->clear();
        }
    }
    return files;
}

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
                                 ReportFiles& made, const LogLoss& loss,
                                 const std::string& historyHtml,
                                 const std::vector<history::Drift>& drift) {
    TestReportResult result;
    result.testNumber = record.testNumber;
    result.files = ReportFileNames(logPath, record.testNumber);
    if (logPath.empty()) {
        const std::string& why = loss.lastFailure;
        result.failure = "no report was written: the test has no log file" +
                         (why.empty() ? std::string() : " (" + why + ")");
        return result;
    }
    std::string failures;
    auto note = [&failures](const std::string& failure) {
        failures += failures.empty() ? failure : "; " + failure;
    };
    try {
        if (auto failure = made.Write(result.files.csv, RenderSamplesCsv(record))) {
            note(*failure);
        }
        if (auto failure = made.Write(
                result.files.html,
                RenderReportHtml(record, logPath, loss.entries, historyHtml, drift))) {
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

}  // namespace trevane
