#pragma once

#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "autotest/TestLog.h"
#include "autotest/TestRecord.h"
#include "autotest/TestRecorder.h"
#include "autotest/TestRunner.h"
#include "console/StatusMonitor.h"
#include "history/StoreTest.h"
#include "link/ControllerLink.h"
#include "report/TestConclusion.h"

namespace trevane {

// What one automatic test came to, as the verdict, the report, the history and the front ends
// read it.
struct TestResult {
    std::optional<TestRecord> record;  // none when no test thread ran
    bool completed = false;            // its closing sequence ran to the end
    bool stoppedByOperator = false;    // the stop token (Abort Test, Ctrl-C) ended it
    std::string logPath;               // "" when no file could be made for the log
    int lostLogEntries = 0;
    std::string logFailure;
    std::optional<TestReportResult> report;
    std::optional<history::StoreResult> stored;  // its place in the history, drift included
    std::optional<TestVerdict> verdict;
    // Command sessions the controller closed between two exchanges and that were opened again
    // during the test.
    std::uint64_t sessionReopenings = 0;

    // Whether any move of the test was aborted on a reading above its limit.
    bool AnyMoveAborted() const;
};

// Everything one controller needs, in one object: its link (both sessions and their states,
// the command routine, the traffic), its status monitor and scope buffer, its automatic test
// with its log and recorder, and what becomes of each test (history, report, verdict). Several
// live in one process and share nothing but the clock. Front ends attach an Operator to see
// its events and answer its questions.
class Controller {
  public:
    Controller();
    // Stops a running test (it sends "AB1" on its way out) before the sessions close.
    ~Controller();
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    ControllerLink& Link() { return link_; }
    TestLog& Log() { return log_; }
    TestRecorder& Recorder() { return recorder_; }
    TestRunner& Runner() { return runner_; }
    StatusMonitor& Monitor() { return monitor_; }
    history::TestHistory& History() { return history_; }
    TestConclusion& Conclusion() { return conclusion_; }
    TrafficRecorder& Traffic() { return link_.Traffic(); }

    void SetOperator(std::shared_ptr<Operator> panel) { link_.SetOperator(std::move(panel)); }

    // Runs one automatic test on this thread's behalf and returns what it came to: started as
    // the Run Auto Test button starts it, aborted as Abort Test aborts it once `stop` is
    // requested. The log's name must have been made (Log().MakeFileName()).
    TestResult RunAutomaticTest(std::stop_token stop);
    // What the most recent test came to, as far as it has got.
    TestResult LastResult() const;

  private:
    ControllerLink link_;
    TestLog log_;
    TestRecorder recorder_;
    history::TestHistory history_;
    TestConclusion conclusion_;
    TestRunner runner_;
    StatusMonitor monitor_;
};

}  // namespace trevane
