#include "autotest/TestReport.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cmath>
#include <exception>
#include <mutex>
#include <string_view>

#include "autotest/Outcomes.h"
#include "autotest/ReportPlot.h"
#include "autotest/TestLog.h"
#include "autotest/TestVerdict.h"
#include "common/CLocale.h"
#include "common/FileReplace.h"
#include "history/Recording.h"

namespace trevane {
namespace {

constexpr char kTestedAxes[] = {'X', 'Y', 'Z'};
constexpr const char* kCsvHeader = "move,axis,target,cycle,time_ms,torque,error\r\n";

std::atomic<bool> g_reportEnabled{false};
std::mutex g_lastReportMutex;
std::optional<TestReportResult> g_lastReport;

// The shortest text that reads back as the same value; never looks at the locale.
template <typename Number>
std::string Shortest(Number value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string Target(int target) {
    return FormatInt(target);
}

std::string MoveName(const MoveSummary& move) {
    return std::string(1, move.axis) + " to " + Target(move.target);
}

// The length of the well-formed UTF-8 sequence at the start of `text` (its first byte is not
// ASCII), or 0 when there is none: no overlong forms, no surrogates, nothing above U+10FFFF.
std::size_t Utf8SequenceLength(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < (i == 1 ? low : 0x80) || byte > (i == 1 ? high : 0xBF)) {
            return 0;
        }
    }
    return length;
}

// Text from the controller goes into the page as characters only: markup is escaped, a byte that
// is not part of UTF-8 is read as Latin-1 (what an 8-bit code page most likely meant), and
// control characters show as U+FFFD.
void AppendEscaped(std::string& out, std::string_view text) {
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            switch (byte) {
                case '&':
                    out += "&amp;";
                    break;
                case '<':
                    out += "&lt;";
                    break;
                case '>':
                    out += "&gt;";
                    break;
                case '"':
                    out += "&quot;";
                    break;
                case '\'':
                    out += "&#39;";
                    break;
                default:
                    if ((byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') ||
                        byte == 0x7F) {
                        out += kReplacement;
                    } else {
                        out += static_cast<char>(byte);
                    }
            }
            ++i;
            continue;
        }
        const std::size_t length = Utf8SequenceLength(text.substr(i));
        if (length == 0) {
            if (byte < 0xA0) {
                out += kReplacement;
            } else {
                static constexpr const char* kHex = "0123456789ABCDEF";
                out += "&#x";
                out += kHex[byte >> 4];
                out += kHex[byte & 0xF];
                out += ';';
            }
            ++i;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
}

std::string Escaped(std::string_view text) {
    std::string out;
    AppendEscaped(out, text);
    return out;
}

// A file name as a relative link: every byte outside the unreserved set is percent-encoded.
std::string LinkTo(std::string_view name) {
    static constexpr const char* kHex = "0123456789ABCDEF";
    std::string link;
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) != 0 && byte < 0x80) {
            link += c;
        } else if (c == '-' || c == '.' || c == '_' || c == '~') {
            link += c;
        } else {
            link += '%';
            link += kHex[byte >> 4];
            link += kHex[byte & 0xF];
        }
    }
    return link;
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
    "h1.incomplete,h1.drift{background:#b26a00}"
    ".incomplete,.drift{color:#b26a00;font-weight:bold}"
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
    AppendRow(out, "Outcome",
              std::string(TestOutcomeText(record.outcome)) +
                  (anyMoveAborted ? "; a move was aborted" : "") +
                  (anyMoveUnverified
                       ? std::string("; ") + outcome::kUnverified + ": readings of a move failed"
                       : ""));
    AppendRow(out, "Log file", Escaped(logPath));
    AppendRow(out, "Samples",
              "<a href=\"" + LinkTo(files.csv) + "\">" + Escaped(files.csv) + "</a>");
    out += "</table>\n";
}

// "torque 60 % above earlier tests; error 40 % above earlier tests" of one axis, or "".
std::string DriftOf(char axis, const std::vector<std::string>& driftFlags) {
    const std::string prefix = std::string(1, axis) + ": ";
    std::string text;
    for (const std::string& flag : driftFlags) {
        if (flag.starts_with(prefix)) {
            text += (text.empty() ? "" : "; ") + flag.substr(prefix.size());
        }
    }
    return text;
}

void AppendHeadline(std::string& out, const TestRecord& record,
                    const std::vector<std::string>& driftFlags) {
    const Headline headline = HeadlineOf(VerdictOfTest(record, std::nullopt), driftFlags);
    out += "<h1 class=\"headline ";
    out += headline.kind;
    out += "\">";
    AppendEscaped(out, headline.text);
    out += "</h1>\n";
}

void AppendAxes(std::string& out, const TestRecord& record,
                const std::vector<std::string>& driftFlags) {
    out +=
        "<h2>Axes</h2>\n<table>\n<tr><th>Axis</th><th>Verdict</th>"
        "<th>Largest torque (V)</th><th>Largest position error (counts)</th></tr>\n";
    for (char axis : kTestedAxes) {
        const AxisVerdict verdict = VerdictOf(record, axis);
        const bool tested = verdict.kind != AxisVerdict::Kind::NotTested;
        out += "<tr><th>";
        out += axis;
        const std::string drift =
            verdict.kind == AxisVerdict::Kind::Passed ? DriftOf(axis, driftFlags) : "";
        out += "</th><td class=\"";
        out += drift.empty() ? VerdictClass(verdict.kind) : "drift";
        out += "\">";
        AppendEscaped(out, verdict.Text() + (drift.empty() ? "" : "; drift: " + drift));
        out += "</td><td class=\"num\">";
        out += tested ? FormatFixed(verdict.maxTorque) : "-";
        out += "</td><td class=\"num\">";
        out += tested ? FormatFixed(verdict.maxError) : "-";
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
    AppendRow(out, "Found", record.cnSaved ? Shortest(*record.cnSaved) : "(not read)");
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

void AppendMove(std::string& out, const MoveTrace& move) {
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
    AppendTracePlot(out, move);
    out += "</div>\n";
}

void AppendMoves(std::string& out, const TestRecord& record) {
    out +=
        "<h2>Moves</h2>\n<p>Torque and position error of every polling cycle, as read (signed); "
        "the dashed lines are the limits, 3.1 V and 700 counts, which the absolute readings "
        "must not pass.</p>\n";
    for (int index = 0; index < kMovesPerTest; ++index) {
        if (const MoveTrace* move = record.FindMove(index)) {
            AppendMove(out, *move);
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

std::string AxisVerdict::FailedReadingsText() const {
    std::string text;
    const std::string of = " of " + FormatInt(readings);
    if (failedTorqueReadings > 0) {
        text = FormatInt(failedTorqueReadings) + of + " torque";
    }
    if (failedErrorReadings > 0) {
        text += (text.empty() ? "" : " and ") + FormatInt(failedErrorReadings) + of + " error";
    }
    return text.empty() ? text : text + " readings failed";
}

std::string AxisVerdict::Text() const {
    switch (kind) {
        case Kind::Passed:
            return outcome::kPassed;
        case Kind::Unverified:
            return std::string(outcome::kUnverified) + ": " + FailedReadingsText();
        case Kind::Aborted:
            return std::string("aborted: ") + AbortReasonText(reason) + " above " +
                   (reason == AbortReason::Torque ? "3.1" : "700") + ", reading " + reading +
                   ", in the move to " + Target(target);
        case Kind::Unfinished:
            return "not finished: the test ended before the move to " + Target(target) +
                   " was completed";
        case Kind::NotTested:
            break;
    }
    return "not tested";
}

AxisVerdict VerdictOf(const TestRecord& record, char axis) {
    AxisVerdict verdict;
    verdict.axis = axis;
    const MoveTrace* last = nullptr;
    int moves = 0;
    for (const MoveTrace& move : record.moves) {
        if (move.axis != axis) {
            continue;
        }
        ++moves;
        last = &move;
        verdict.maxTorque = std::max(verdict.maxTorque, move.maxTorque);
        verdict.maxError = std::max(verdict.maxError, move.moveMaxError);
        verdict.readings += kCyclesPerMove;
        verdict.failedTorqueReadings += move.failedTorqueReadings;
        verdict.failedErrorReadings += move.failedErrorReadings;
        if (move.aborted && verdict.kind != AxisVerdict::Kind::Aborted) {
            verdict.kind = AxisVerdict::Kind::Aborted;
            verdict.reason = move.abortReason;
            verdict.reading = move.abortReading;
            verdict.target = move.target;
        }
    }
    if (verdict.kind == AxisVerdict::Kind::Aborted) {
        return verdict;
    }
    if (last == nullptr) {
        verdict.kind = AxisVerdict::Kind::NotTested;
    } else if (moves == 2 && last->Reported()) {
        // A move is passed only when it was measured: every reading of its watch arrived.
        const bool measured = verdict.failedTorqueReadings == 0 && verdict.failedErrorReadings == 0;
        verdict.kind = measured ? AxisVerdict::Kind::Passed : AxisVerdict::Kind::Unverified;
    } else {
        verdict.kind = AxisVerdict::Kind::Unfinished;
        // A reported first move leaves the move back unfinished.
        verdict.target = last->Reported() ? 0 : last->target;
    }
    return verdict;
}

std::string RenderReportHtml(const TestRecord& record, const std::string& logPath) {
    return RenderReportHtml(record, logPath, LostLogEntries());
}

std::string RenderReportHtml(const TestRecord& record, const std::string& logPath,
                             int lostLogEntries) {
    return RenderReportHtml(record, logPath, lostLogEntries, {});
}

std::string RenderReportHtml(const TestRecord& record, const std::string& logPath,
                             int lostLogEntries, const std::string& historyHtml,
                             const std::vector<std::string>& driftFlags) {
    std::string out;
    out.reserve(96 * 1024);
    out += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>";
    out += "Automatic test " + FormatInt(record.testNumber) + " - ";
    AppendEscaped(out, logPath);
    out += "</title>\n<style>";
    out += kStyle;
    out += "</style>\n</head>\n<body>\n";
    AppendHeadline(out, record, driftFlags);
    AppendHeader(out, record, logPath);
    if (lostLogEntries > 0) {
        out += "<p class=\"aborted\">" +
               (lostLogEntries == 1 ? std::string("1 entry")
                                    : FormatInt(lostLogEntries) + " entries") +
               " of the log file could not be written and " + (lostLogEntries == 1 ? "is" : "are") +
               " missing from it.</p>\n";
    }
    AppendAxes(out, record, driftFlags);
    out += historyHtml;
    AppendConfiguration(out, record);
    AppendMoves(out, record);
    out += "</body>\n</html>\n";
    return out;
}

std::string RenderSamplesCsv(const TestRecord& record) {
    std::string csv = kCsvHeader;
    csv.reserve(kMovesPerTest * kCyclesPerMove * 48);
    for (const MoveTrace& move : record.moves) {
        const std::string prefix =
            FormatInt(move.moveIndex) + "," + move.axis + "," + Target(move.target) + ",";
        for (std::size_t cycle = 0; cycle < move.samples.size(); ++cycle) {
            const TraceSample& sample = move.samples[cycle];
            csv += prefix;
            csv += FormatInt(static_cast<long long>(cycle));
            csv += ',';
            csv += Shortest(sample.timeMs);
            csv += ',';
            csv += Shortest(sample.torque);
            csv += ',';
            csv += Shortest(sample.error);
            csv += "\r\n";
        }
    }
    return csv;
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
        history::RecordingResult stored =
            history::RecordTest(record, {LogFilePath(), files.html, files.csv});
        if (stored.comparison) {
            historyHtml = history::RenderComparisonHtml(*stored.comparison);
        }
        driftFlags = stored.flags;
        history::SetLastRecording(std::move(stored));
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
