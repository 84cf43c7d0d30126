// The automatic diagnostic test without a window: the same runner, log file and entries.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <ostream>
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
#include "cli/AutotestExit.h"
#include "cli/HeadlessWindow.h"
#include "cli/HistoryServerOption.h"
#include "cli/Json.h"
#include "cli/VerdictJson.h"
#include "cli/VerbContext.h"
#include "cli/Verbs.h"
#include "common/Clock.h"
#include "common/StopControl.h"
#include "history/StoreTest.h"
#include "controller/Controller.h"
#include "report/TestReport.h"
#include "report/TestVerdict.h"

namespace trevane::cli {
namespace {

using namespace std::chrono_literals;

// The moves of the test as it recorded them, for the last --json line.
std::string MovesJson(const TestResult& result) {
    std::vector<std::string> moves;
    const std::vector<MoveTrace> none;
    for (const MoveTrace& move : result.record ? result.record->moves : none) {
        const char* word = move.aborted       ? outcome::kAborted
                           : !move.Reported() ? outcome::kUnfinished
                           : !move.Measured() ? outcome::kUnverified
                                              : outcome::kCompleted;
        moves.push_back(json::Object()
                            .Text("axis", std::string(1, move.axis))
                            .Number("target", static_cast<long long>(move.target))
                            .Text("outcome", word)
                            .Str());
    }
    return json::Array(moves);
}

// With --json each status line becomes {"time", "text"}, seconds since the verb started.
class JsonStatus {
  public:
    JsonStatus(std::ostream& out, bool enabled)
        : out_(out), enabled_(enabled), start_(SystemClock().Now()) {}
    bool Enabled() const { return enabled_; }
    void Print(const std::string& text) {
        std::string entry = text;
        if (!entry.empty() && entry.back() == '\n') {
            entry.pop_back();
        }
        const double seconds = std::chrono::duration<double>(SystemClock().Now() - start_).count();
        json::WriteLine(out_, json::Object()
                                       .Text("time", json::UtcTime(SystemClock().WallNow()))
                                       .Number("elapsed_s", seconds)
                                       .Text("text", json::OneLine(entry)));
    }

  private:
    std::ostream& out_;
    bool enabled_;
    Clock::TimePoint start_;
};

// The command-line operator with the one guarantee the window's thread gives: a call from a
// test thread that has been stopped is skipped, and the check and the call happen under one
// lock, so no entry of an aborted test is printed after "Test Aborted by User".
class TestWindow final : public Operator {
  public:
    TestWindow(VerbContext& context, JsonStatus& json)
        : context_(context), window_(context.window), json_(json) {}

    std::string Address() override { return window_->Address(); }
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
            if (!context_.out.flush()) {
                context_.OutputBroken();
            }
        }
    }
    void CommandFailed(const CommandFailure& failure) override {
        std::lock_guard lock(mutex_);
        if (!CurrentThreadStopRequested()) {
            window_->CommandFailed(failure);
        }
    }
    void SessionReopened(const std::string& text) override { window_->SessionReopened(text); }
    void TestRunningChanged(bool) override {}
    void PollingChanged(bool) override {}
    void ShowStatus(const StatusTable&) override {}
    bool AxisChosen(int axis) override { return window_->AxisChosen(axis); }
    int JogSpeed() override { return window_->JogSpeed(); }
    void ShowMessage(const std::string& text, const std::string& caption,
                     bool ownedByWindow) override {
        window_->ShowMessage(text, caption, ownedByWindow);
    }
    void OpenFolder(const std::string& path) override { window_->OpenFolder(path); }

  private:
    std::mutex mutex_;
    VerbContext& context_;
    std::shared_ptr<HeadlessWindow> window_;
    JsonStatus& json_;
};

// One line naming the report's files, or what could not be written. False on a failure.
bool PrintReport(VerbContext& context, const TestResult& result) {
    const std::optional<TestReportResult>& report = result.report;
    if (!report) {
        return true;
    }
    if (report->failure) {
        ReportError(context, "autotest: " + *report->failure);
        return false;
    }
    context.err << "trevane-cli: autotest: report '" << context.Shown(report->files.html)
                << "', samples '" << context.Shown(report->files.csv) << "'\n";
    return true;
}

// The test's outcome in the words of the verdict, the report and the history.
const char* Verdict(const TestResult& result) {
    if (result.verdict) {
        return VerdictKindText(result.verdict->kind);
    }
    return result.stoppedByOperator ? outcome::kStopped : outcome::kNoConnection;
}

void PrintVerdict(VerbContext& context, const TestResult& result, bool server) {
    json::Object line;
    line.Text("verdict", Verdict(result));
    if (result.verdict) {
        line.Text("verdict_line", json::OneLine(VerdictLine(*result.verdict)));
        line.Text("headline", json::OneLine(HeadlineOf(*result.verdict).text));
    }
    line.Raw("moves", MovesJson(result));
    const std::vector<AxisVerdict> noAxes;
    const std::vector<TestWarning> noWarnings;
    const std::vector<history::Drift> noDrift;
    const std::vector<finder::Finding> noFindings;
    const TestVerdict* verdict = result.verdict ? &*result.verdict : nullptr;
    line.Raw("axes", json::AxesJson(verdict ? verdict->axes : noAxes))
        .Raw("warnings", json::WarningsJson(verdict ? verdict->warnings : noWarnings))
        .Raw("drift", json::DriftJson(verdict ? verdict->drift : noDrift))
        .Raw("findings", json::FindingsJson(verdict ? verdict->findings : noFindings));
    std::error_code noFile;
    if (std::filesystem::is_regular_file(result.logPath, noFile)) {
        line.Text("log", context.Shown(result.logPath));
    } else {
        line.Null("log");
    }
    const std::optional<TestReportResult>& report = result.report;
    if (report && !report->failure) {
        line.Text("report", context.Shown(report->files.html));
    } else {
        line.Null("report");
    }
    if (const std::optional<history::StoreResult>& stored = result.stored; stored && server) {
        line.Number("history_waiting", static_cast<long long>(stored->waiting));
    }
    json::WriteLine(context.out, line);
}

struct AutotestArguments {
    bool report = false;
    bool strict = false;  // a pass with warnings or drift exits kExitWarnings
    std::optional<std::string> server;  // --history
};

std::optional<std::string> ParseAutotest(const std::vector<std::string>& args,
                                         AutotestArguments& parsed) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--report") {
            parsed.report = true;
        } else if (args[i] == "--strict") {
            parsed.strict = true;
        } else if (args[i] == "--history" && i + 1 < args.size()) {
            parsed.server = args[++i];
        } else {
            return "autotest: unknown argument '" + args[i] +
                   "' (usage: autotest [--report] [--strict] [--history URL])";
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> CheckAutotestArguments(const std::vector<std::string>& args) {
    AutotestArguments parsed;
    return ParseAutotest(args, parsed);
}

int RunAutoTest(VerbContext& context, const Invocation& invocation) {
    AutotestArguments parsed;
    if (const std::optional<std::string> error = ParseAutotest(invocation.args, parsed)) {
        return UsageError(context, *error);
    }
    const HistoryServerChoice history = ChooseHistoryServer(parsed.server, context.historyVariable);
    if (history.error) {
        return UsageError(context, "autotest: " + *history.error);
    }
    Controller& controller = context.controller;
    controller.History().SetServer(history.server);
    if (!ConnectLikeTheWindow(context, invocation)) {
        return kExitUsage;
    }
    const std::shared_ptr<HeadlessWindow> cliWindow = context.window;
    const int errorsBefore = cliWindow->CommandErrorCount();
    controller.Log().MakeFileName();
    controller.Conclusion().SetReportEnabled(parsed.report);
    JsonStatus json(context.out, invocation.json);
    controller.SetOperator(std::make_shared<TestWindow>(context, json));
    // Aborted as Abort Test aborts it, on Ctrl-C.
    const TestResult result = controller.RunAutomaticTest(context.StopToken());
    controller.SetOperator(cliWindow);

    const bool reportWritten = PrintReport(context, result);
    const int status =
        AutotestExitCode(context, result, cliWindow->CommandErrorCount() - errorsBefore,
                         reportWritten, parsed.strict);
    if (json.Enabled()) {
        PrintVerdict(context, result, history.server.has_value());
    } else if (result.verdict) {
        // The verdict closes the output, after every other line.
        context.out << VerdictLine(*result.verdict) << "\n" << std::flush;
    }
    return status;
}

}  // namespace trevane::cli
