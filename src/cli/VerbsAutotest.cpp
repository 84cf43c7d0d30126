// The automatic diagnostic test without a window: the same runner, log file and entries.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "autotest/AxisMotionTest.h"
#include "autotest/Outcomes.h"
#include "autotest/TestLog.h"
#include "autotest/TestRecorder.h"
#include "autotest/TestRunner.h"
#include "cli/Cli.h"
#include "cli/HeadlessWindow.h"
#include "cli/Json.h"
#include "cli/Verbs.h"
#include "common/Clock.h"
#include "common/StopControl.h"
#include "history/StoreTest.h"
#include "link/WindowOps.h"
#include "report/TestReport.h"
#include "report/TestVerdict.h"

namespace trevane::cli {
namespace {

using namespace std::chrono_literals;

// The moves of the test as it recorded them, for the last --json line.
std::string MovesJson() {
    std::vector<std::string> moves;
    for (const MoveTrace& move : Recorder().Summary().moves) {
        const char* result = move.aborted       ? outcome::kAborted
                             : !move.Reported() ? outcome::kUnfinished
                             : !move.Measured() ? outcome::kUnverified
                                                : outcome::kCompleted;
        moves.push_back(json::Object()
                            .Text("axis", std::string(1, move.axis))
                            .Number("target", static_cast<long long>(move.target))
                            .Text("result", result)
                            .Str());
    }
    return json::Array(moves);
}

// With --json each status line becomes {"time", "text"}, seconds since the verb started.
class JsonStatus {
  public:
    explicit JsonStatus(bool enabled) : enabled_(enabled), start_(SystemClock().Now()) {}
    bool Enabled() const { return enabled_; }
    void Print(const std::string& text) {
        std::string entry = text;
        if (!entry.empty() && entry.back() == '\n') {
            entry.pop_back();
        }
        const double seconds = std::chrono::duration<double>(SystemClock().Now() - start_).count();
        json::WriteLine(std::cout, json::Object().Number("time", seconds).Text("text", entry));
    }

  private:
    bool enabled_;
    Clock::TimePoint start_;
};

// The command-line window with the one guarantee the window's thread gives: an operation from a
// test thread that has been stopped is skipped, and the check and the operation happen under one
// lock, so no entry of an aborted test is printed after "Test Aborted by User".
class TestWindow final : public WindowOps {
  public:
    TestWindow(std::shared_ptr<HeadlessWindow> window, JsonStatus& json)
        : window_(std::move(window)), json_(json) {}

    std::string ReadAddress() override { return window_->ReadAddress(); }
    void AppendTranscript(const std::string& text) override {
        std::lock_guard lock(mutex_);
        if (!CurrentThreadStopRequested()) {
            window_->AppendTranscript(text);
        }
    }
    void ScrollTranscriptToEnd() override {}
    std::string CommandText() override { return window_->CommandText(); }
    void SetCommandText(const std::string& text) override { window_->SetCommandText(text); }
    void SetTestStatus(const std::string& text) override {
        std::lock_guard lock(mutex_);
        if (!CurrentThreadStopRequested()) {
            if (json_.Enabled()) {
                json_.Print(text);
            } else {
                window_->SetTestStatus(text);
            }
            // Flushed per line, so a reader that went away is seen at the next line and the test
            // is aborted then, not at the end of the run.
            if (!std::cout.flush()) {
                ReportBrokenOutput();
            }
        }
    }
    void SetRunTestCaption(const std::string&) override {}
    void SetProgress(int) override {}
    void SetStatusCell(int, int, const std::string&) override {}
    bool IsAxisChecked(int axis) override { return window_->IsAxisChecked(axis); }
    int SpeedPosition() override { return window_->SpeedPosition(); }
    void StartTimer(int, int) override {}
    void StopTimer(int) override {}
    void ShowMessage(const std::string& text, const std::string& caption,
                     bool ownedByWindow) override {
        window_->ShowMessage(text, caption, ownedByWindow);
    }
    void OpenFolder(const std::string& path) override { window_->OpenFolder(path); }

  private:
    std::mutex mutex_;
    std::shared_ptr<HeadlessWindow> window_;
    JsonStatus& json_;
};

// Presses the test button, and presses it again on Ctrl-C. Returns true when the test was aborted.
bool RunTestToItsEnd() {
    OnRunAutoTest();
    bool aborted = false;
    // The interrupt flag is polled: a signal handler can wake no one.
    while (!WaitForTestEnd(20ms)) {
        if (!aborted && InterruptRequested() && g_testRunning) {
            OnRunAutoTest();
            aborted = true;
        }
    }
    StopAndJoinTestThreads();
    return aborted;
}

// One line naming the report's files, or what could not be written. False on a failure.
bool PrintReport() {
    const std::optional<TestReportResult> report = LastTestReport();
    if (!report) {
        return true;
    }
    if (report->failure) {
        std::cerr << "trevane-cli: autotest: " << *report->failure << "\n";
        return false;
    }
    std::cerr << "trevane-cli: autotest: report '" << report->files.html << "', samples '"
              << report->files.csv << "'\n";
    return true;
}

int JudgeTest(int commandFailures, bool aborted, bool reportWritten);

// The test's outcome in one word, from the exit status the test earned.
const char* Verdict(int status, bool aborted) {
    if (aborted) {
        return "aborted";
    }
    if (const std::optional<TestVerdict> verdict = LastTestVerdict();
        verdict && (verdict->kind == TestVerdict::Kind::LinkLost ||
                    verdict->kind == TestVerdict::Kind::Unverified)) {
        return VerdictKindText(verdict->kind);
    }
    if (status == kExitOk) {
        return "passed";
    }
    return status == kExitUsage ? "not run" : "failed";
}

void PrintVerdict(int status, bool aborted) {
    json::Object line;
    line.Text("verdict", Verdict(status, aborted));
    if (const std::optional<TestVerdict> verdict = LastTestVerdict()) {
        line.Text("result", VerdictLine(*verdict));
    }
    line.Raw("moves", MovesJson());
    std::error_code noFile;
    if (std::filesystem::is_regular_file(LogFilePath(), noFile)) {
        line.Text("log", LogFilePath());
    } else {
        line.Null("log");
    }
    const std::optional<TestReportResult> report = LastTestReport();
    if (report && !report->failure) {
        line.Text("report", report->files.html);
    } else {
        line.Null("report");
    }
    json::WriteLine(std::cout, line);
}

// The history's notice (an old file set aside) and the drift it found, or why it could not be
// written. False on a failure.
bool PrintHistory() {
    const std::optional<history::StoreResult> stored = history::LastStored();
    if (!stored) {
        return true;
    }
    if (stored->notice) {
        std::cerr << "trevane-cli: autotest: " << *stored->notice << "\n";
    }
    if (const std::optional<std::string> failure = history::LastHistoryFailureText()) {
        std::cerr << *failure << "\n";
        return false;
    }
    for (const std::string& flag : stored->flags) {
        std::cerr << "trevane-cli: autotest: " << flag << "\n";
    }
    return true;
}

int RunAutoTest(const Invocation& invocation) {
    bool report = false;
    for (const std::string& arg : invocation.args) {
        if (arg == "--report") {
            report = true;
        } else {
            return UsageError("autotest: unknown argument '" + arg +
                              "' (usage: autotest [--report])");
        }
    }
    if (!ConnectLikeTheWindow(invocation)) {
        return kExitUsage;
    }
    const std::shared_ptr<HeadlessWindow> cliWindow = TheHeadlessWindow();
    const int errorsBefore = cliWindow->CommandErrorCount();
    MakeLogFileName();
    SetTestReportEnabled(report);
    JsonStatus json(invocation.json);
    SetWindow(std::make_shared<TestWindow>(cliWindow, json));
    const bool aborted = RunTestToItsEnd();
    SetWindow(cliWindow);

    const bool reportWritten = PrintReport();
    const int status =
        JudgeTest(cliWindow->CommandErrorCount() - errorsBefore, aborted, reportWritten);
    if (json.Enabled()) {
        PrintVerdict(status, aborted);
    } else if (const std::optional<TestVerdict> verdict = LastTestVerdict()) {
        // The verdict closes the output, after every other line.
        std::cout << VerdictLine(*verdict) << "\n" << std::flush;
    }
    return status;
}

// The exit status of a finished test, with one line on standard error saying why.
int JudgeTest(int commandFailures, bool aborted, bool reportWritten) {
    const bool historyWritten = PrintHistory();
    // Names the log only when there is one to look at.
    std::error_code noFile;
    const bool logExists = std::filesystem::is_regular_file(LogFilePath(), noFile);
    const bool logLost = LostLogEntries() > 0;
    if (logLost) {
        std::cerr << "trevane-cli: autotest: log file could not be written: "
                  << LastLogWriteFailure() << " (" << LostLogEntries() << " entries lost)";
        if (logExists) {
            std::cerr << "; what was written is in '" << LogFilePath() << "'";
        }
        std::cerr << "\n";
    }
    const std::string log = logExists
                                ? "trevane-cli: autotest: log file '" + LogFilePath() + "'"
                                : std::string("trevane-cli: autotest: no log file was written");
    if (aborted) {
        std::cerr << log << "; the test was aborted\n";
        return InterruptExitCode();
    }
    const std::optional<TestVerdict> verdict = LastTestVerdict();
    if (verdict && verdict->kind == TestVerdict::Kind::LinkLost) {
        std::cerr << log << "; the link to the controller was lost\n";
        return kExitFailed;
    }
    if (!LastTestCompleted()) {
        std::cerr << log << "; the test did not run (no connection)\n";
        return kExitUsage;
    }
    if (g_anyMoveAborted) {
        std::cerr << log << "; a move was aborted\n";
        return kExitFailed;
    }
    if (verdict && verdict->kind == TestVerdict::Kind::Unverified) {
        std::cerr << log << "; a move was not measured (its readings failed)\n";
        return kExitFailed;
    }
    if (commandFailures > 0) {
        // Failed readings count as 0, so the moves "completed" without being watched.
        std::cerr << log << "; " << commandFailures << " command(s) failed\n";
        return kExitFailed;
    }
    std::cerr << log << "\n";
    return reportWritten && historyWritten && !logLost ? kExitOk : kExitFailed;
}

const VerbRegistration kAutoTest{{
    "autotest",
    "autotest [--report]",
    "runs the automatic diagnostic test and writes its log file in the working directory;\n"
    "      --report also writes the test report beside it (the log's name with .html, and\n"
    "      .csv for every torque and error sample), also after Ctrl-C;\n"
    "      exit 0 when every move of X, Y and Z completed with every reading, 1 when a move\n"
    "      was aborted or unverified, the link was lost, a command failed, the report, the\n"
    "      history or an entry of the log could not be written, 2 without connection; Ctrl-C, "
    "SIGTERM or SIGHUP abort the test and stop\n"
    "      the axes (130, 143, 129), so does a closed standard output (141); every test that\n"
    "      reached the controller is kept in trevane-history.sqlite",
    RunAutoTest,
}};

}  // namespace
}  // namespace trevane::cli
