#include "cli/AutotestExit.h"

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <system_error>

#include "cli/VerbContext.h"
#include "controller/Controller.h"
#include "history/StoreTest.h"
#include "report/TestVerdict.h"

namespace trevane::cli {
namespace {

// The history's notice (an old file set aside) and the drift it found, or why it could not be
// written. False on a failure.
bool PrintHistory(VerbContext& context, const TestResult& result) {
    const history::TestHistory& history = context.controller.History();
    std::ostream& err = context.err;
    const std::optional<history::StoreResult>& stored = result.stored;
    if (!stored) {
        return true;
    }
    if (stored->notice) {
        err << "trevane-cli: autotest: " << *stored->notice << "\n";
    }
    if (const std::optional<std::string> failure = history.LastFailureText()) {
        // Already worded for the operator, without the program's name.
        err << *failure << "\n";
        return false;
    }
    if (const std::optional<std::string> kept = history.LastKeptLocallyText()) {
        // Nothing is lost: the next run, or history sync, sends what waits.
        err << "trevane-cli: autotest: history: " << stored->serverFailure.value_or("") << "\n"
            << "trevane-cli: autotest: " << *kept << "\n";
    }
    for (const std::string& flag : stored->flags) {
        err << "trevane-cli: autotest: " << flag << "\n";
    }
    return true;
}

}  // namespace

int AutotestExitCode(VerbContext& context, const TestResult& result, int commandFailures,
                     bool reportWritten, bool strict) {
    const bool historyWritten = PrintHistory(context, result);
    if (result.verdict) {
        for (const TestWarning& warning : result.verdict->warnings) {
            context.err << "trevane-cli: autotest: warning: " << context.ForErr(warning.Text())
                        << "\n";
        }
    }
    const std::string& logPath = result.logPath;
    const std::string shownLog = context.Shown(logPath);
    // Names the log only when there is one to look at.
    std::error_code noFile;
    const bool logExists = std::filesystem::is_regular_file(logPath, noFile);
    const bool logLost = result.lostLogEntries > 0;
    if (logLost) {
        ReportError(context, "autotest: log file could not be written: " + result.logFailure +
                                 " (" + std::to_string(result.lostLogEntries) + " entries lost)" +
                                 (logExists ? "; what was written is in '" + shownLog + "'" : ""));
    }
    const std::string log = logExists ? "autotest: log file '" + shownLog + "'"
                                      : std::string("autotest: no log file was written");
    if (result.stoppedByOperator) {
        ReportError(context, log + "; the test was aborted");
        return context.InterruptExitCode();
    }
    const std::optional<TestVerdict>& verdict = result.verdict;
    if (verdict && verdict->kind == TestVerdict::Kind::LinkLost) {
        ReportError(context, log + "; the link to the controller was lost");
        return kExitFailed;
    }
    if (!result.completed) {
        ReportError(context, log + "; the test did not run (no connection)");
        return kExitUsage;
    }
    if (result.AnyMoveAborted()) {
        ReportError(context, log + "; a move was aborted");
        return kExitFailed;
    }
    if (verdict && verdict->kind == TestVerdict::Kind::Unverified) {
        ReportError(context, log + "; a move was not measured (its readings failed)");
        return kExitFailed;
    }
    if (commandFailures > 0) {
        // Failed readings count as 0, so the moves "completed" without being watched.
        ReportError(context, log + "; " + std::to_string(commandFailures) + " command(s) failed");
        return kExitFailed;
    }
    if (!reportWritten || !historyWritten || logLost) {
        context.err << "trevane-cli: " << log << "\n";
        return kExitFailed;
    }
    if (verdict && verdict->PassedWithWarnings()) {
        const std::size_t count = WarningTexts(*verdict).size();
        const std::string noted = log + "; the test passed with " + std::to_string(count) +
                                  (count == 1 ? " warning" : " warnings");
        if (strict) {
            ReportError(context, noted + " (--strict)");
            return kExitWarnings;
        }
        context.err << "trevane-cli: " << noted << "\n";
        return kExitOk;
    }
    context.err << "trevane-cli: " << log << "\n";
    return kExitOk;
}

}  // namespace trevane::cli
