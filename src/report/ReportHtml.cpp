#include "report/ReportHtml.h"

#include <cmath>
#include <string_view>

#include "autotest/Outcomes.h"
#include "common/CLocale.h"
#include "report/AxisVerdict.h"
#include "report/HtmlText.h"
#include "report/ReportPlot.h"
#include "report/TestReport.h"
#include "report/TestVerdict.h"

namespace trevane {
namespace {

using html::AppendEscaped;
using html::Escaped;
using html::LinkTo;

constexpr char kTestedAxes[] = {'X', 'Y', 'Z'};

std::string Target(int target) {
    return FormatInt(target);
}

std::string MoveName(const MoveSummary& move) {
    return std::string(1, move.axis) + " to " + Target(move.target);
}

void AppendRow(std::string& out, std::string_view heading, std::string_view cellHtml) {
    out += "<tr><th>";
    out += heading;
    out += "</th><td>";
    out += cellHtml;
    out += "</td></tr>\n";
}

std::string Reply(std::string_view text) {
    return "<span class=\"reply\">" + Escaped(text) + "</span>";
}

// "SP: " as the log shows it, read as a heading: "SP".
std::string LabelHeading(std::string label) {
    while (!label.empty() && (label.back() == ' ' || label.back() == ':')) {
        label.pop_back();
    }
    return Escaped(label);
}

const char* VerdictClass(AxisVerdict::Kind kind) {
    switch (kind) {
        case AxisVerdict::Kind::Passed:
            return "passed";
        case AxisVerdict::Kind::Aborted:
            return "aborted";
        case AxisVerdict::Kind::Unverified:
            return "incomplete";
        default:
            return "other";
    }
}

constexpr const char* kStyle =
    "body{font-family:sans-serif;margin:1.5em auto;max-width:62em;padding:0 1em;color:#222}"
    "h1{font-size:1.4em}h2{font-size:1.15em;margin-top:1.8em;border-bottom:1px solid #ccc}"
    "h3{font-size:1em;margin:1.4em 0 .3em}"
    "table{border-collapse:collapse;margin:.4em 0}"
    "th,td{border:1px solid #ccc;padding:.2em .6em;text-align:left;vertical-align:top}"
    "th{background:#f2f2f2;font-weight:normal}"
    "td.num{text-align:right;font-family:monospace}"
    ".reply{font-family:monospace;white-space:pre-wrap}"
    ".passed{color:#1a7f37;font-weight:bold}.aborted{color:#c62828;font-weight:bold}"
    ".other{color:#8a6d00;font-weight:bold}"
    ".headline{font-size:2.2em;margin:.2em 0;padding:.2em .4em;color:#fff}"
    "h1.passed{background:#1a7f37}h1.failed{background:#c62828}"
    "h1.incomplete,h1.warning{background:#b26a00}"
    ".incomplete,.warning{color:#b26a00;font-weight:bold}"
    ".move{break-inside:avoid}svg{display:block;margin:.4em 0 1em;max-width:100%;height:auto}";

void AppendHeader(std::string& out, const TestRecord& record, const std::string& logPath) {
    const TestReportFiles files = ReportFileNames(logPath, record.testNumber);
    out += "<p>Automatic test report</p>\n<table>\n";
    AppendRow(out, "Test", FormatInt(record.testNumber) + " of this run of the program");
    AppendRow(out, "Started", FormatTimeC("%x %X", ToLocalTime(record.startTime)));
    AppendRow(out, "Controller",
              record.identity
                  ? (record.identity->empty() ? "(the query failed)" : Reply(*record.identity))
                  : "(not read)");
    bool anyMoveAborted = false;
    bool anyMoveUnverified = false;
    for (const MoveTrace& move : record.moves) {
        anyMoveAborted = anyMoveAborted || move.aborted;
        anyMoveUnverified = anyMoveUnverified || !move.Measured();
    }
    // The word the verdict, the history and trevane-cli use for the same test.
    const bool completed = record.outcome == TestOutcome::Completed;
    const char* word = completed && anyMoveAborted ? outcome::kAborted
                       : completed && anyMoveUnverified
                           ? outcome::kUnverified
                           : outcome::TestOutcomeWord(TestOutcomeText(record.outcome));
    AppendRow(out, "Outcome",
              std::string(word) + (anyMoveAborted ? "; a move was aborted" : "") +
                  (anyMoveUnverified
                       ? std::string("; ") + outcome::kUnverified + ": readings of a move failed"
                       : ""));
    AppendRow(out, "Log file", Escaped(logPath));
    AppendRow(out, "Samples",
              "<a href=\"" + LinkTo(files.csv) + "\">" + Escaped(files.csv) + "</a>");
    out += "</table>\n";
}

// "torque 60 % above earlier tests; error 40 % above earlier tests" of one axis, or "".
std::string DriftOf(char axis, const std::vector<history::Drift>& drift) {
    const std::string prefix = std::string(1, axis) + ": ";
    std::string text;
    for (const std::string& flag : history::DriftFlagTexts(drift)) {
        if (flag.starts_with(prefix)) {
            text += (text.empty() ? "" : "; ") + flag.substr(prefix.size());
        }
    }
    return text;
}

void AppendHeadline(std::string& out, const TestVerdict& verdict) {
    const Headline headline = HeadlineOf(verdict);
    out += "<h1 class=\"headline ";
    out += headline.kind;
    out += "\">";
    AppendEscaped(out, headline.text);
    out += "</h1>\n";
}

// What the readings point to, first: the likely cause, its evidence and what to check.
void AppendFindings(std::string& out, const TestVerdict& verdict) {
    bool any = false;
    for (const finder::Finding& finding : verdict.findings) {
        if (finding.cause == finder::Cause::LimitSwitch) {
            continue;  // its warning follows
        }
        if (!any) {
            out += "<h2>Findings</h2>\n<ul class=\"findings\">\n";
            any = true;
        }
        out += "<li><b>";
        AppendEscaped(out, finding.Headline());
        out += "</b>: ";
        AppendEscaped(out, finding.evidence);
        out += ". Check ";
        AppendEscaped(out, finding.check);
        out += ".</li>\n";
    }
    if (any) {
        out += "</ul>\n";
    }
}

// Each warning once, with what to look at, before the test's particulars.
void AppendWarnings(std::string& out, const TestVerdict& verdict) {
    std::vector<std::string> warnings;
    for (const TestWarning& warning : verdict.warnings) {
        warnings.push_back(warning.Text());
    }
    for (std::string& flag : history::DriftFlagTexts(verdict.drift)) {
        warnings.push_back(std::move(flag));
    }
    if (warnings.empty()) {
        return;
    }
    out += "<h2>Warnings</h2>\n<ul class=\"warnings\">\n";
    for (const std::string& warning : warnings) {
        out += "<li>";
        AppendEscaped(out, warning);
        out += "</li>\n";
    }
    out += "</ul>\n";
}

// "97 %" of a limit, marked when it is near.
std::string ShareCell(double share) {
    const std::string text = FormatInt(std::lround(share)) + " %";
    return share > kNearLimitPercent ? "<span class=\"warning\">" + text + "</span>" : text;
}

void AppendAxes(std::string& out, const TestRecord& record,
                const std::vector<history::Drift>& driftFound) {
    out +=
        "<h2>Axes</h2>\n<table>\n<tr><th>Axis</th><th>Verdict</th>"
        "<th>Largest torque (V)</th><th>of the 3.1 V limit</th>"
        "<th>Largest position error (counts)</th><th>of the 700 counts limit</th></tr>\n";
    for (char axis : kTestedAxes) {
        const AxisVerdict verdict = VerdictOf(record, axis);
        const bool tested = verdict.kind != AxisVerdict::Kind::NotTested;
        out += "<tr><th>";
        out += axis;
        const std::string drift =
            verdict.kind == AxisVerdict::Kind::Passed ? DriftOf(axis, driftFound) : "";
        const std::string nearLimit = verdict.NearLimitText();
        std::string text = verdict.Text();
        text += nearLimit.empty() ? "" : ", " + nearLimit;
        text += drift.empty() ? "" : "; drift: " + drift;
        out += "</th><td class=\"";
        out += drift.empty() && nearLimit.empty() ? VerdictClass(verdict.kind) : "warning";
        out += "\">";
        AppendEscaped(out, text);
        out += "</td><td class=\"num\">";
        out += tested ? FormatFixed(verdict.maxTorque) : "-";
        out += "</td><td class=\"num\">";
        out += tested ? ShareCell(verdict.TorqueSharePercent()) : "-";
        out += "</td><td class=\"num\">";
        out += tested ? FormatFixed(verdict.maxError) : "-";
        out += "</td><td class=\"num\">";
        out += tested ? ShareCell(verdict.ErrorSharePercent()) : "-";
        out += "</td></tr>\n";
    }
    out += "</table>\n";
}

void AppendReadings(std::string& out, const char* caption,
                    const std::vector<LoggedReading>& readings) {
    out += "<h3>";
    out += caption;
    out += "</h3>\n";
    if (readings.empty()) {
        out += "<p>Not read.</p>\n";
        return;
    }
    out += "<table>\n";
    for (const LoggedReading& reading : readings) {
        AppendRow(out, LabelHeading(reading.label), Reply(reading.reply));
    }
    out += "</table>\n";
}

void AppendConfiguration(std::string& out, const TestRecord& record) {
    out += "<h2>Configuration</h2>\n";
    AppendReadings(out, "Checks", record.checks);
    AppendReadings(out, "Outputs read again before the moves", record.motionOutputs);
    out += "<h3>Limit-switch configuration (CN)</h3>\n<table>\n";
    AppendRow(out, "Found", record.cnSaved ? FormatShortest(*record.cnSaved) : "(not read)");
    for (const CnSwap& swap : record.cnSwaps) {
        AppendRow(out,
                  std::string(1, swap.axis) + (swap.forwardSwitch ? " forward" : " reverse") +
                      " limit was on",
                  "swapped to " + FormatInt(swap.cn));
    }
    AppendRow(out, "Restored to",
              record.cnRestored ? FormatInt(*record.cnRestored) : "(not restored)");
    out += "</table>\n";
}

std::string MoveResult(const MoveTrace& move) {
    if (move.aborted) {
        return "<span class=\"aborted\">aborted</span> at cycle " + FormatInt(move.abortCycle) +
               ": " + AbortReasonText(move.abortReason) + " above " +
               (move.abortReason == AbortReason::Torque ? "3.1" : "700") + ", reading " +
               Reply(move.abortReading) + " (" + FormatInt(move.abortCount) +
               (move.abortCount == 1 ? " abort entry" : " abort entries") + " in the log)";
    }
    if (move.Reported() && !move.Measured()) {
        return std::string("<span class=\"incomplete\">") + outcome::kUnverified +
               "</span>: " + FormatInt(move.failedTorqueReadings) + " torque and " +
               FormatInt(move.failedErrorReadings) + " error readings of " +
               FormatInt(kCyclesPerMove) + " each failed";
    }
    if (move.Reported()) {
        return "<span class=\"passed\">completed</span>";
    }
    return "<span class=\"other\">not finished</span>: the test ended " +
           std::string(move.watchEnded ? "before the move report" : "during the watch");
}

void AppendMove(std::string& out, const MoveTrace& move,
                const std::vector<finder::Finding>& findings) {
    out += "<div class=\"move\">\n<h3>Move " + FormatInt(move.moveIndex) + ": " + MoveName(move) +
           "</h3>\n<table>\n";
    AppendRow(out, "Result", MoveResult(move));
    AppendRow(
        out, "Cycles watched",
        FormatInt(static_cast<long long>(move.sampleCount)) + " of " + FormatInt(kCyclesPerMove));
    AppendRow(out, "Max torque", FormatFixed(move.maxTorque));
    AppendRow(out, "Max error (the largest since the test&#39;s first move)",
              FormatFixed(move.maxError));
    AppendRow(out, "Largest error of this move", FormatFixed(move.moveMaxError));
    if (move.currentError) {
        AppendRow(out, "Current Error", Reply(*move.currentError));
    }
    if (move.currentPosition) {
        AppendRow(out, "Current Position", Reply(*move.currentPosition));
    }
    out += "</table>\n";
    AppendTracePlot(out, move, findings);
    out += "</div>\n";
}

void AppendMoves(std::string& out, const TestRecord& record,
                 const std::vector<finder::Finding>& findings) {
    out +=
        "<h2>Moves</h2>\n<p>Torque and position error of every polling cycle, as read (signed); "
        "the dashed lines are the limits, 3.1 V and 700 counts, which the absolute readings "
        "must not pass.</p>\n";
    for (int index = 0; index < kMovesPerTest; ++index) {
        if (const MoveTrace* move = record.FindMove(index)) {
            AppendMove(out, *move, findings);
        } else {
            MoveSummary missing;
            missing.axis = kTestedAxes[index / 2];
            missing.target = index % 2 == 0 ? -20000 : 0;
            out += "<h3>Move " + FormatInt(index) + ": " + MoveName(missing) +
                   "</h3>\n<p>Not watched.</p>\n";
        }
    }
}

}  // namespace

std::string RenderReportHtml(const TestRecord& record, const std::string& logPath,
                             int lostLogEntries) {
    return RenderReportHtml(record, logPath, lostLogEntries, {});
}

std::string RenderReportHtml(const TestRecord& record, const std::string& logPath,
                             int lostLogEntries, const std::string& historyHtml,
                             const std::vector<history::Drift>& drift) {
    const TestVerdict verdict = VerdictOfTest(record, std::nullopt, drift);
    std::string out;
    out.reserve(96 * 1024);
    out += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>";
    out += "Automatic test " + FormatInt(record.testNumber) + " - ";
    AppendEscaped(out, logPath);
    out += "</title>\n<style>";
    out += kStyle;
    out += "</style>\n</head>\n<body>\n";
    AppendHeadline(out, verdict);
    AppendFindings(out, verdict);
    AppendWarnings(out, verdict);
    AppendHeader(out, record, logPath);
    if (lostLogEntries > 0) {
        out += "<p class=\"aborted\">" +
               (lostLogEntries == 1 ? std::string("1 entry")
                                    : FormatInt(lostLogEntries) + " entries") +
               " of the log file could not be written and " + (lostLogEntries == 1 ? "is" : "are") +
               " missing from it.</p>\n";
    }
    AppendAxes(out, record, drift);
    out += historyHtml;
    AppendConfiguration(out, record);
    AppendMoves(out, record, verdict.findings);
    out += "</body>\n</html>\n";
    return out;
}

}  // namespace trevane
