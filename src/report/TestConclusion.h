#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>

#include "autotest/TestEnd.h"
#include "history/StoreTest.h"
#include "report/TestReport.h"
#include "report/TestVerdict.h"

namespace trevane {

class ControllerLink;
class TestLog;

// What becomes of each test of one controller once it has ended: its place in the history, its
// report when reports are on, and its verdict line in the transcript.
class TestConclusion {
  public:
    TestConclusion(ControllerLink& link, TestLog& log, history::TestHistory& history);
    TestConclusion(const TestConclusion&) = delete;
    TestConclusion& operator=(const TestConclusion&) = delete;

    // The runner's hooks, bound to this object.
    TestEndHooks Hooks();

    // Off by default: the reference writes no files besides the log. The window and
    // `trevane-cli autotest --report` turn it on.
    void SetReportEnabled(bool enabled) { reportEnabled_ = enabled; }
    bool ReportEnabled() const { return reportEnabled_.load(); }

    // The report written for the most recent test, if it got one.
    std::optional<TestReportResult> LastReport() const;
    // The verdict of the most recent test that has ended; nothing while a test runs or before
    // the first. Any thread.
    std::optional<TestVerdict> LastVerdict() const;

    // A starting test clears the last verdict and gets a ticket; a test that ended sets its
    // verdict with that ticket, which fails (false) once a later test has started, so a thread
    // still unwinding cannot mark the next test with its verdict.
    std::uint64_t ClearLastVerdict();
    bool SetLastVerdict(std::uint64_t ticket, TestVerdict verdict);

    // On the test thread once a test has ended (after its last log entry): stores it in the
    // history and writes the report when enabled, unless the test found no connection.
    void Ended(const TestRecord& record);
    // Then its verdict line closes the transcript.
    void Judged(const TestRecord& record, std::uint64_t ticket);

  private:
    ControllerLink& link_;
    TestLog& log_;
    history::TestHistory& history_;
    ReportFiles made_;
    std::atomic<bool> reportEnabled_{false};
    mutable std::mutex mutex_;
    std::optional<TestReportResult> lastReport_;
    std::optional<TestVerdict> lastVerdict_;
    std::uint64_t ticket_ = 0;
};

}  // namespace trevane
