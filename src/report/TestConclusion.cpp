#include "report/TestConclusion.h"

#include <string>
#include <utility>
#include <vector>

#include "autotest/TestLog.h"
#include "link/ControllerLink.h"
#include "report/ComparisonHtml.h"

namespace trevane {

TestConclusion::TestConclusion(ControllerLink& link, TestLog& log, history::TestHistory& history)
    : link_(link), log_(log), history_(history) {}

TestEndHooks TestConclusion::Hooks() {
    return {[this] { return ClearLastVerdict(); },
            [this](const TestRecord& record) { Ended(record); },
            [this](const TestRecord& record, std::uint64_t ticket) { Judged(record, ticket); }};
}

std::optional<TestReportResult> TestConclusion::LastReport() const {
    std::lock_guard lock(mutex_);
    return lastReport_;
}

std::optional<TestVerdict> TestConclusion::LastVerdict() const {
    std::lock_guard lock(mutex_);
    return lastVerdict_;
}

std::uint64_t TestConclusion::ClearLastVerdict() {
    std::lock_guard lock(mutex_);
    lastVerdict_.reset();
    return ++ticket_;
}

bool TestConclusion::SetLastVerdict(std::uint64_t ticket, TestVerdict verdict) {
    std::lock_guard lock(mutex_);
    if (ticket != ticket_) {
        return false;
    }
    lastVerdict_ = std::move(verdict);
    return true;
}

void TestConclusion::Ended(const TestRecord& record) {
    if (record.outcome == TestOutcome::NoConnection || record.outcome == TestOutcome::Running) {
        return;
    }
    const bool report = ReportEnabled();
    const std::string logPath = log_.FilePath();
    const TestReportFiles files =
        report ? made_.Claimed(ReportFileNames(logPath, record.testNumber)) : TestReportFiles{};
    std::string historyHtml;
    std::vector<history::Drift> drift;
    if (history_.Enabled()) {
        history::StoreResult stored = history_.Store(record, {logPath, files.html, files.csv});
        if (stored.comparison) {
            historyHtml = history::RenderComparisonHtml(*stored.comparison);
            drift = stored.comparison->drift;
        }
        history_.SetLast(std::move(stored));
    }
    if (!report) {
        // A test of the same number in a replaced log must not be told of an earlier report.
        std::lock_guard lock(mutex_);
        lastReport_.reset();
        return;
    }
    TestReportResult result =
        WriteTestReport(record, logPath, made_, {log_.LostEntries(), log_.LastWriteFailure()},
                        historyHtml, drift);
    std::lock_guard lock(mutex_);
    lastReport_ = std::move(result);
}

void TestConclusion::Judged(const TestRecord& record, std::uint64_t ticket) {
    TestVerdict verdict = VerdictOfTest(record, LastReport());
    if (const std::optional<history::StoreResult> stored = history_.Last();
        stored && stored->testNumber == record.testNumber) {
        if (stored->comparison) {
            verdict.drift = stored->comparison->drift;
        }
        if (const std::string none = history::NoBaselineText(stored->noBaseline); !none.empty()) {
            verdict.notes.push_back(none + ".");
        }
        if (const std::optional<std::string> kept = history_.LastKeptLocallyText()) {
            verdict.notes.push_back(*kept + ".");
        }
    }
    const std::string line = VerdictLine(verdict);
    if (!SetLastVerdict(ticket, std::move(verdict))) {
        return;
    }
    // The line closes the transcript and starts nothing.
    std::shared_ptr<Operator> panel = link_.TheOperator();
    panel->AppendTranscript(line + "\r\n");
    panel->ScrollTranscriptToEnd();
}

}  // namespace trevane
