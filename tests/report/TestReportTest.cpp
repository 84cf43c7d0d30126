#include <charconv>
#include <clocale>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "autotest/AutotestHarness.h"
#include "autotest/TestLog.h"
#include "autotest/TestRecorder.h"
#include "autotest/TestRunner.h"
#include "common/CLocale.h"
#include "history/History.h"
#include "history/StoreTest.h"
#include "link/ControllerLink.h"
#include "report/ReportHtml.h"
#include "report/SamplesCsv.h"
#include "report/TestReport.h"
#include "support/ScratchFolder.h"

namespace trevane::autotest_testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

using testing::ReadFile;

struct CsvRow {
    int move = 0;
    std::string axis;
    int target = 0;
    int cycle = 0;
    double timeMs = 0;
    float torque = 0;
    float error = 0;
};

template <typename Number>
bool ReadField(const std::string& field, Number& value) {
    const auto result = std::from_chars(field.data(), field.data() + field.size(), value);
    return result.ec == std::errc{} && result.ptr == field.data() + field.size();
}

// Every line must have exactly seven fields that read back whole: a decimal comma would split a
// number into two fields.
std::vector<CsvRow> ParseCsv(const std::string& text) {
    std::vector<CsvRow> rows;
    std::size_t at = text.find("\r\n");
    EXPECT_EQ(text.substr(0, at), "move,axis,target,cycle,time_ms,torque,error");
    while (at != std::string::npos && at + 2 < text.size()) {
        const std::size_t end = text.find("\r\n", at + 2);
        const std::string line = text.substr(at + 2, end - at - 2);
        at = end;
        std::vector<std::string> fields;
        std::size_t from = 0;
        for (std::size_t comma; (comma = line.find(',', from)) != std::string::npos;) {
            fields.push_back(line.substr(from, comma - from));
            from = comma + 1;
        }
        fields.push_back(line.substr(from));
        CsvRow row;
        if (fields.size() != 7 || !ReadField(fields[0], row.move) ||
            !ReadField(fields[2], row.target) || !ReadField(fields[3], row.cycle) ||
            !ReadField(fields[4], row.timeMs) || !ReadField(fields[5], row.torque) ||
            !ReadField(fields[6], row.error)) {
            ADD_FAILURE() << "malformed line '" << line << "'";
            continue;
        }
        row.axis = fields[1];
        rows.push_back(row);
    }
    return rows;
}

// The HTML of each move, in order.
std::vector<std::string> MoveSections(const std::string& html) {
    std::vector<std::string> sections;
    const std::string marker = "<div class=\"move\">";
    for (std::size_t at = html.find(marker); at != std::string::npos;) {
        const std::size_t next = html.find(marker, at + 1);
        sections.push_back(html.substr(at, next - at));
        at = next;
    }
    return sections;
}

std::string Cell(const std::string& heading, const std::string& value) {
    return "<tr><th>" + heading + "</th><td>" + value + "</td></tr>";
}

std::string ReplyCell(const std::string& heading, const std::string& reply) {
    return Cell(heading, "<span class=\"reply\">" + reply + "</span>");
}

class Report : public AutotestFixture {
  protected:
    void Script(ScriptedController::Script script) {
        UseController(std::make_shared<ScriptedController>(std::move(script)));
    }
    // Runs a whole test with the report on; returns its record.
    TestRecord RunReportedTest() {
        SetTestReportEnabled(true);
        RunWholeTest();
        return Recorder().Snapshot();
    }
    TestReportFiles FilesOf(const TestRecord& record) const {
        return ReportFileNames(LogFilePath(), record.testNumber);
    }
    std::vector<std::string> FilesInFolder() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(".")) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(Report, OfACompleteRunAgreesWithItsLog) {
    Script(VaryingReadings());
    const TestRecord record = RunReportedTest();
    ASSERT_EQ(record.outcome, TestOutcome::Completed);
    ASSERT_EQ(record.moves.size(), 6u);
    const std::vector<std::string> entries = SplitLogEntries(LogBytes());

    // The move reports of the log, entry for entry, rebuilt from the record.
    std::vector<std::string> logged;
    for (const std::string& entry : entries) {
        if (entry.find(" Axis move finished.  ") != std::string::npos) {
            logged.push_back(entry);
        }
    }
    std::vector<std::string> recorded;
    for (const MoveTrace& move : record.moves) {
        ASSERT_TRUE(move.Reported());
        const std::string prefix = std::string(1, move.axis) + " Axis move finished.  ";
        recorded.push_back(prefix + "Max torque: " + FormatFixed(move.maxTorque) + "\r\n");
        recorded.push_back(prefix + "Max error: " + FormatFixed(move.maxError) + "\r\n");
        recorded.push_back(prefix + "Current Error: " + *move.currentError);
        recorded.push_back(prefix + "Current Position: " + *move.currentPosition);
    }
    EXPECT_EQ(logged, recorded);
    // The readings vary, so the maxima are not all alike.
    EXPECT_NE(record.moves[0].maxTorque, record.moves[1].maxTorque);

    // The identity and the 19 checks as logged, in order, behind "Starting Test".
    ASSERT_GE(entries.size(), 21u);
    EXPECT_EQ("ID: " + record.identity.value_or("?") + "\r\r\n", entries[1]);
    ASSERT_EQ(record.checks.size(), 19u);
    for (std::size_t i = 0; i < record.checks.size(); ++i) {
        EXPECT_EQ(record.checks[i].label + record.checks[i].reply, entries[2 + i]);
    }
    ASSERT_EQ(record.motionOutputs.size(), 4u);
    EXPECT_EQ(record.motionOutputs[3].label, "BIT4: ");
    EXPECT_EQ(record.cnSaved, -1.0f);
    EXPECT_EQ(record.cnRestored, -1);

    // The page shows the same values, move by move, and every axis passed.
    const TestReportFiles files = FilesOf(record);
    EXPECT_EQ(files.html, "logFile.txt 112912-140509.html");
    EXPECT_EQ(files.csv, "logFile.txt 112912-140509.csv");
    const std::string html = ReadFile(files.html);
    const std::vector<std::string> sections = MoveSections(html);
    ASSERT_EQ(sections.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        const MoveTrace& move = record.moves[i];
        EXPECT_THAT(sections[i], HasSubstr(Cell("Max torque", FormatFixed(move.maxTorque))));
        EXPECT_THAT(sections[i], HasSubstr(FormatFixed(move.maxError)));
        EXPECT_THAT(sections[i], HasSubstr(ReplyCell("Current Error", *move.currentError)));
        EXPECT_THAT(sections[i], HasSubstr(ReplyCell("Current Position", *move.currentPosition)));
        EXPECT_THAT(sections[i], HasSubstr("<svg"));
    }
    for (const char* axis : {"X", "Y", "Z"}) {
        EXPECT_THAT(html, HasSubstr("<tr><th>" + std::string(axis) +
                                    "</th><td class=\"passed\">passed</td>"));
    }
    EXPECT_THAT(html, HasSubstr(ReplyCell("SP", record.checks[0].reply)));
    EXPECT_THAT(html, HasSubstr(ReplyCell("Controller", ScriptedController::kDescription)));
    EXPECT_EQ(LastTestReport().value().files.html, files.html);
    EXPECT_FALSE(LastTestReport()->failure.has_value());
}

// The history keeps what the log and the report show: the same maxima, verdicts and samples.
TEST_F(Report, TheHistoryRowAgreesWithTheLogAndTheReport) {
    History().SetEnabled(true);
    Script(VaryingReadings());
    const TestRecord record = RunReportedTest();
    ASSERT_FALSE(History().Last().value().failure.has_value());
    history::History store(history::kHistoryFileName, history::History::Access::Read);
    const std::vector<history::StoredTest> tests = store.LastTests(0);
    ASSERT_EQ(tests.size(), 1u);
    const history::StoredTest& test = tests[0];
    EXPECT_EQ(test.startedUtc, "2012-11-29T14:05:09Z");
    EXPECT_EQ(test.address, "127.0.0.1");
    EXPECT_EQ(test.port, 23);
    EXPECT_EQ(test.identity, "Scripted controller rev 1.0");
    EXPECT_EQ(test.outcome, "completed");

    const std::vector<std::string> entries = SplitLogEntries(LogBytes());
    ASSERT_EQ(test.moves.size(), 6u);
    sqlite::Statement samples = store.Db().Prepare(
        "SELECT s.time_ms, s.torque, s.error FROM samples s JOIN moves m ON s.move_id = m.id "
        "WHERE m.test_id = ? AND m.move_index = ? ORDER BY s.cycle");
    for (const history::StoredMove& move : test.moves) {
        const MoveTrace& traced = *record.FindMove(move.moveIndex);
        EXPECT_EQ(move.verdict, "completed");
        EXPECT_EQ(move.maxTorque, traced.maxTorque);
        EXPECT_EQ(move.maxError, traced.moveMaxError);
        EXPECT_THAT(entries,
                    Contains(std::string(1, move.axis) + " Axis move finished.  Max torque: " +
                             FormatFixed(move.maxTorque) + "\r\n"));
        std::vector<TraceSample> stored;
        samples.Bind(1, test.id).Bind(2, std::int64_t{move.moveIndex});
        while (samples.Step()) {
            stored.push_back({samples.Real(0), static_cast<float>(samples.Real(1)),
                              static_cast<float>(samples.Real(2))});
        }
        samples.Reset();
        EXPECT_EQ(stored, traced.samples) << move.moveIndex;
    }
    // The first move's own maximum is the log's running one.
    EXPECT_THAT(entries, Contains("X Axis move finished.  Max error: " +
                                  FormatFixed(test.moves[0].maxError) + "\r\n"));
    for (const char axis : {'X', 'Y', 'Z'}) {
        EXPECT_EQ(VerdictOf(record, axis).kind, AxisVerdict::Kind::Passed);
    }
    const std::string html = ReadFile(FilesOf(record).html);
    EXPECT_THAT(html, HasSubstr("<h2>Compared with earlier tests</h2>"));
    EXPECT_THAT(html, HasSubstr("no baseline yet (0 of 3 earlier tests)"));
    EXPECT_THAT(html, HasSubstr("<body>\n<h1 class=\"headline passed\">PASSED</h1>\n"));
}

TEST_F(Report, NoHistoryIsKeptOfATestThatNeverConnected) {
    History().SetEnabled(true);
    Link().Close();
    RunWholeTest();
    EXPECT_EQ(Recorder().Summary().outcome, TestOutcome::NoConnection);
    EXPECT_FALSE(std::filesystem::exists(history::kHistoryFileName));
}

TEST_F(Report, SamplesReadBackFromTheCsvInTheCLocale) {
    // The test program runs under a decimal-comma locale where one is installed.
    const bool decimalComma = std::string(std::localeconv()->decimal_point) == ",";
    Script(VaryingReadings());
    const TestRecord record = RunReportedTest();
    const std::vector<CsvRow> rows = ParseCsv(ReadFile(FilesOf(record).csv));
    ASSERT_EQ(rows.size(), 1200u);

    std::size_t row = 0;
    for (const MoveTrace& move : record.moves) {
        ASSERT_EQ(move.samples.size(), 200u);
        for (std::size_t cycle = 0; cycle < move.samples.size(); ++cycle, ++row) {
            const TraceSample& sample = move.samples[cycle];
            const CsvRow& csv = rows[row];
            ASSERT_EQ(csv.move, move.moveIndex);
            ASSERT_EQ(csv.axis, std::string(1, move.axis));
            ASSERT_EQ(csv.target, move.target);
            ASSERT_EQ(csv.cycle, static_cast<int>(cycle));
            ASSERT_EQ(csv.timeMs, sample.timeMs);
            ASSERT_EQ(csv.torque, sample.torque);
            ASSERT_EQ(csv.error, sample.error);
            // In virtual time every cycle starts 10 ms after the one before.
            ASSERT_EQ(sample.timeMs, 10.0 * static_cast<double>(cycle));
        }
    }
    // The first sample of Y's move back: its 201st torque reading and its 202nd error reading
    // (the move report read the error once in between).
    EXPECT_EQ(rows[600].torque, -1.1f);
    EXPECT_EQ(rows[600].error, -41.0f);

    // Plot coordinates are "x,y" pairs of plain decimals, whatever the locale.
    const std::string html = ReadFile(FilesOf(record).html);
    const std::regex points("points=\"([^\"]*)\"");
    const std::regex pairs(R"(-?\d+\.\d,-?\d+\.\d( -?\d+\.\d,-?\d+\.\d)*)");
    int polylines = 0;
    for (auto it = std::sregex_iterator(html.begin(), html.end(), points);
         it != std::sregex_iterator(); ++it, ++polylines) {
        ASSERT_TRUE(std::regex_match((*it)[1].str(), pairs)) << (*it)[1].str().substr(0, 80);
    }
    EXPECT_EQ(polylines, 12);
    EXPECT_THAT(html, HasSubstr(Cell("Max torque", "1.095000")));
    if (!decimalComma) {
        GTEST_LOG_(INFO) << "no decimal-comma locale installed; the locale part proved nothing";
    }
}

TEST_F(Report, AnAbortedMoveNamesItsReasonAndReading) {
    Script([](const std::string& command, int n) -> std::optional<std::string> {
        if (command == "TTY" && n == 10) {
            return "3.2";
        }
        if (command == "TEZ" && n >= 7 && n <= 9) {
            return "-701";
        }
        return std::nullopt;
    });
    const TestRecord record = RunReportedTest();
    ASSERT_EQ(record.outcome, TestOutcome::Completed);

    const AxisVerdict x = VerdictOf(record, 'X');
    const AxisVerdict y = VerdictOf(record, 'Y');
    const AxisVerdict z = VerdictOf(record, 'Z');
    EXPECT_EQ(x.kind, AxisVerdict::Kind::Passed);
    EXPECT_EQ(y.Text(), "aborted: torque above 3.1, reading 3.2, in the move to -20000");
    EXPECT_EQ(z.Text(), "aborted: position error above 700, reading -701, in the move to -20000");
    EXPECT_EQ(y.maxTorque, 3.2f);
    EXPECT_EQ(z.maxError, 701.0f);

    const MoveTrace* moveY = record.FindMove(2);
    ASSERT_NE(moveY, nullptr);
    EXPECT_EQ(moveY->abortCycle, 10);
    EXPECT_EQ(moveY->abortCount, 1);
    EXPECT_EQ(moveY->samples.size(), 200u);  // the watch runs on after an abort
    EXPECT_EQ(moveY->samples[10].torque, 3.2f);
    EXPECT_EQ(record.FindMove(5), nullptr);
    EXPECT_EQ(record.FindMove(4)->abortCount, 3);
    EXPECT_EQ(record.moves.size(), 4u);

    // The log's abort entries match the record's first abort of each move.
    const std::string log = LogBytes();
    EXPECT_THAT(log, HasSubstr("Y Axis move aborted due to torque above threshhold.  Torque: " +
                               moveY->abortReading));
    const std::string html = ReadFile(FilesOf(record).html);
    EXPECT_THAT(html, HasSubstr("<td class=\"aborted\">" + y.Text() + "</td>"));
    EXPECT_THAT(html, HasSubstr("<td class=\"aborted\">" + z.Text() + "</td>"));
    EXPECT_THAT(html, HasSubstr("aborted; a move was aborted"));
    EXPECT_THAT(html, HasSubstr("<h3>Move 5: Z to 0</h3>\n<p>Not watched.</p>"));
    EXPECT_EQ(ParseCsv(ReadFile(FilesOf(record).csv)).size(), 800u);
}

TEST_F(Report, AUserAbortStillWritesItAndTheLogEndsWithTheAbort) {
    // Find the exchange of Y's 50th torque reading in a complete run.
    long target = 0;
    int seen = 0;
    controller_->OnExchange([&](const std::string& command) {
        if (command == "TTY" && ++seen == 50) {
            target = Pause().Count() + 1;
        }
    });
    RunWholeTest();
    controller_->OnExchange({});
    ASSERT_GT(target, 0);

    SetTestReportEnabled(true);
    Pause().Arm(target);
    OnRunAutoTest();
    ASSERT_TRUE(Pause().WaitUntilHeld([] { return !AnyTestThreadAlive(); }));
    const std::optional<MoveTrace> atAbort = Recorder().CurrentMoveSnapshot();
    OnRunAutoTest();
    Pause().Release();
    ASSERT_TRUE(WaitForTestEnd(std::chrono::seconds(10)));

    EXPECT_TRUE(LogBytes().ends_with("  Test Aborted by User\r\n"));
    EXPECT_EQ(SplitLogEntries(LogBytes()).back(), "Test Aborted by User\r\n");
    const TestRecord record = Recorder().Snapshot();
    EXPECT_EQ(record.testNumber, 2);
    EXPECT_EQ(record.outcome, TestOutcome::AbortedByUser);
    ASSERT_TRUE(atAbort.has_value());
    ASSERT_EQ(record.moves.size(), 3u);
    // The held reading never arrived: 49 cycles, and nothing recorded after the abort.
    EXPECT_EQ(atAbort->sampleCount, 49u);
    EXPECT_EQ(record.moves[2].samples.size(), 49u);
    EXPECT_FALSE(record.moves[2].watchEnded);
    EXPECT_EQ(VerdictOf(record, 'X').kind, AxisVerdict::Kind::Passed);
    EXPECT_EQ(VerdictOf(record, 'Y').Text(),
              "not finished: the test ended before the move to -20000 was completed");
    EXPECT_EQ(VerdictOf(record, 'Z').Text(), "not tested");
    EXPECT_FALSE(record.cnRestored.has_value());

    const TestReportFiles files = FilesOf(record);
    EXPECT_EQ(files.html, "logFile.txt 112912-140509-2.html");
    EXPECT_EQ(LastTestReport().value().files.html, files.html);
    EXPECT_EQ(LastTestReport()->testNumber, 2);
    const std::string html = ReadFile(files.html);
    EXPECT_THAT(html, HasSubstr(Cell("Outcome", "stopped")));
    EXPECT_THAT(html, HasSubstr("<td class=\"other\">not tested</td>"));
    EXPECT_EQ(ParseCsv(ReadFile(files.csv)).size(), 449u);
}

TEST_F(Report, EscapesEveryTextFromTheController) {
    Script([](const std::string& command, int n) -> std::optional<std::string> {
        if (command == "SP*=?") {
            return "<script>alert('x')</script>";
        }
        if (command == "TPX" && n == 0) {
            return "-20000<img src=x onerror=alert(1)>";
        }
        return std::nullopt;
    });
    controller_->SetDescription("127.0.0.1:23 <script>alert(\"id\")</script> & co");
    const TestRecord record = RunReportedTest();
    const std::string html = ReadFile(FilesOf(record).html);

    EXPECT_THAT(html, Not(HasSubstr("<script")));
    EXPECT_THAT(html, Not(HasSubstr("<img")));
    EXPECT_THAT(html, HasSubstr("127.0.0.1:23 &lt;script&gt;alert(&quot;id&quot;)&lt;/script&gt; "
                                "&amp; co"));
    EXPECT_THAT(html, HasSubstr("&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;"));
    EXPECT_THAT(html, HasSubstr("-20000&lt;img src=x onerror=alert(1)&gt;"));
    // Self-contained: nothing is fetched and nothing runs.
    EXPECT_THAT(html, Not(HasSubstr("http")));
    EXPECT_THAT(html, Not(HasSubstr(" src=\"")));
    EXPECT_THAT(html, Not(HasSubstr("<link")));
}

TEST_F(Report, IsOffByDefaultAndTheLogIsTheOnlyFile) {
    ASSERT_FALSE(TheController().Conclusion().ReportEnabled());
    RunWholeTest();
    EXPECT_THAT(FilesInFolder(), ElementsAre("logFile.txt 112912-140509.txt"));
    // The traces are kept all the same, for the window.
    EXPECT_EQ(Recorder().Summary().moves.size(), 6u);
}

TEST_F(Report, EachTestOfARunGetsItsOwnNumberedFiles) {
    SetTestReportEnabled(true);
    Link().Close();
    RunWholeTest();  // test 1 finds no connection: no report
    EXPECT_EQ(Recorder().Summary().outcome, TestOutcome::NoConnection);
    EXPECT_THAT(FilesInFolder(), ElementsAre("logFile.txt 112912-140509.txt"));

    UseController(controller_);
    RunWholeTest();
    RunWholeTest();
    EXPECT_THAT(FilesInFolder(),
                ElementsAre("logFile.txt 112912-140509-2.csv", "logFile.txt 112912-140509-2.html",
                            "logFile.txt 112912-140509-3.csv", "logFile.txt 112912-140509-3.html",
                            "logFile.txt 112912-140509.txt"));
    EXPECT_THAT(ReadFile("logFile.txt 112912-140509-3.html"),
                HasSubstr(Cell("Test", "3 of this run of the program")));
}

TEST_F(Report, AFileThatCannotBeWrittenIsReportedAndTheOtherIsWritten) {
    // A folder in the page's place: its name is taken, whoever runs the test.
    std::filesystem::create_directory("logFile.txt 112912-140509.html");
    const TestRecord record = RunReportedTest();
    EXPECT_EQ(record.outcome, TestOutcome::Completed);
    const std::optional<TestReportResult> report = LastTestReport();
    ASSERT_TRUE(report.has_value());
    ASSERT_TRUE(report->failure.has_value());
    EXPECT_THAT(*report->failure, HasSubstr("'logFile.txt 112912-140509.html'"));
    EXPECT_EQ(ParseCsv(ReadFile(report->files.csv)).size(), 1200u);
    // Nothing half-written is left behind.
    EXPECT_THAT(FilesInFolder(),
                ElementsAre("logFile.txt 112912-140509.csv", "logFile.txt 112912-140509.html",
                            "logFile.txt 112912-140509.txt"));
    EXPECT_TRUE(std::filesystem::is_directory("logFile.txt 112912-140509.html"));
    EXPECT_TRUE(LogBytes().ends_with("  Disable Machine\r\n"));
}

// Another program's test of the same second: its log took the plain name, so this test's log is
// "-2", whose first report has the name of the other log's second test's report.
TEST_F(Report, AnotherTestsReportIsNeverReplacedNorALinkFollowed) {
    std::ofstream("logFile.txt 112912-140509.txt", std::ios::binary) << "their log";
    std::ofstream("logFile.txt 112912-140509-2.html", std::ios::binary) << "their page";
#ifndef _WIN32
    const std::filesystem::path outside = std::filesystem::absolute("outside.csv");
    std::ofstream(outside, std::ios::binary) << "kept";
    std::filesystem::create_symlink(outside, "logFile.txt 112912-140509-2.csv");
#endif
    History().SetEnabled(true);
    Script(VaryingReadings());
    const TestRecord record = RunReportedTest();
    EXPECT_EQ(LogFilePath(), "logFile.txt 112912-140509-2.txt");
    {
        // Nor does the history point at the other test's page as this test's report.
        history::History store(history::kHistoryFileName, history::History::Access::Read);
        sqlite::Statement files =
            store.Db().Prepare("SELECT log_file, report_file, samples_file FROM tests");
        ASSERT_TRUE(files.Step());
        EXPECT_EQ(files.Text(0), "logFile.txt 112912-140509-2.txt");
        EXPECT_EQ(files.Text(1), "");
#ifndef _WIN32
        EXPECT_EQ(files.Text(2), "");
#endif
    }
    ASSERT_TRUE(LastTestReport().has_value());
    ASSERT_TRUE(LastTestReport()->failure.has_value());
    EXPECT_THAT(*LastTestReport()->failure,
                HasSubstr("'logFile.txt 112912-140509-2.html': another file has that name"));
    EXPECT_EQ(ReadFile("logFile.txt 112912-140509.txt"), "their log");
    EXPECT_EQ(ReadFile("logFile.txt 112912-140509-2.html"), "their page");
#ifndef _WIN32
    EXPECT_THAT(*LastTestReport()->failure, HasSubstr("'logFile.txt 112912-140509-2.csv'"));
    EXPECT_EQ(ReadFile(outside), "kept");
    EXPECT_TRUE(std::filesystem::is_symlink("logFile.txt 112912-140509-2.csv"));
#endif

    // Its own files it replaces when it writes the report again.
    std::filesystem::remove("logFile.txt 112912-140509-2.html");
    std::filesystem::remove("logFile.txt 112912-140509-2.csv");
    ReportFiles made;
    ASSERT_FALSE(WriteTestReport(record, LogFilePath(), made).failure.has_value());
    const TestReportResult again = WriteTestReport(record, LogFilePath(), made);
    EXPECT_FALSE(again.failure.has_value()) << *again.failure;
    EXPECT_EQ(ParseCsv(ReadFile(again.files.csv)).size(), 1200u);
}

TEST_F(Report, ATestWithoutALogFileWritesNoReport) {
    std::ofstream("logFile.txt 112912-140509.txt", std::ios::binary) << "their log";
    std::ofstream("logFile.txt 112912-140509.html", std::ios::binary) << "their page";
    for (int number = 2; number <= 100; ++number) {
        std::filesystem::create_directory("logFile.txt 112912-140509-" + std::to_string(number) +
                                          ".txt");
    }
    const std::vector<std::string> before = FilesInFolder();
    Script(VaryingReadings());
    RunReportedTest();
    ASSERT_TRUE(LastTestReport().has_value());
    ASSERT_TRUE(LastTestReport()->failure.has_value());
    EXPECT_THAT(*LastTestReport()->failure,
                HasSubstr("no report was written: the test has no log file (no free name for "
                          "the log file in '"));
    EXPECT_EQ(LastTestReport()->files.html, "");
    EXPECT_EQ(FilesInFolder(), before);
    EXPECT_EQ(ReadFile("logFile.txt 112912-140509.html"), "their page");
}

// Records made by hand: the edges that a run does not reach easily.
TestRecord RecordWithOneMove(std::vector<TraceSample> samples) {
    TestRecord record;
    record.testNumber = 1;
    record.outcome = TestOutcome::Stopped;
    MoveTrace move;
    move.moveIndex = 0;
    move.axis = 'X';
    move.target = -20000;
    move.samples = std::move(samples);
    move.sampleCount = move.samples.size();
    record.moves.push_back(move);
    return record;
}

TEST(ReportRendering, NamesReplaceTheLogsFinalTxt) {
    EXPECT_EQ(ReportFileNames("logFile.txt 112912-140509.txt", 1).html,
              "logFile.txt 112912-140509.html");
    EXPECT_EQ(ReportFileNames("logFile.txt 112912-140509.txt", 12).csv,
              "logFile.txt 112912-140509-12.csv");
}

TEST(ReportRendering, ControllerBytesThatAreNotUtf8ShowAsLatin1AndControlsAsReplacements) {
    TestRecord record = RecordWithOneMove({});
    // Valid UTF-8 stays; a stray byte and an overlong form read as Latin-1; controls and C1
    // bytes do not show.
    record.identity = "r\xC3\xA9v \xE9 \xC0\xAF \x01\x1B[0m\x85";
    const std::string html = RenderReportHtml(record, "log.txt");
    EXPECT_THAT(html, HasSubstr("r\xC3\xA9v &#xE9; &#xC0;&#xAF; "
                                "\xEF\xBF\xBD\xEF\xBF\xBD[0m\xEF\xBF\xBD"));
}

TEST(ReportRendering, SaysHowManyLogEntriesWereLostOnlyWhenAnyWere) {
    const TestRecord record = RecordWithOneMove({});
    EXPECT_THAT(RenderReportHtml(record, "log.txt", 0), Not(HasSubstr("could not be written")));
    EXPECT_THAT(RenderReportHtml(record, "log.txt", 1),
                HasSubstr("1 entry of the log file could not be written and is missing from it."));
    EXPECT_THAT(RenderReportHtml(record, "log.txt", 3),
                HasSubstr("3 entries of the log file could not be written and are missing from "
                          "it."));
}

TEST(ReportRendering, ReadingsThatAreNotFiniteLeaveGapsAndReadBack) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    TestRecord record = RecordWithOneMove(
        {{0, 0.5f, 10}, {10, nan, 20}, {20, 0.25f, -inf}, {30, -1e30f, 5}, {40, 0.125f, 6}});
    const std::string csv = RenderSamplesCsv(record);
    EXPECT_THAT(csv, HasSubstr("\r\n0,X,-20000,1,10,nan,20\r\n"));
    EXPECT_THAT(csv, HasSubstr("\r\n0,X,-20000,2,20,0.25,-inf\r\n"));
    EXPECT_THAT(csv, HasSubstr("\r\n0,X,-20000,3,30,-1e+30,5\r\n"));

    const std::string html = RenderReportHtml(record, "log.txt");
    EXPECT_THAT(html, Not(HasSubstr("nan")));
    EXPECT_THAT(html, Not(HasSubstr("inf")));
    // Each reading's line breaks where it is not finite.
    std::vector<std::string> polylines;
    const std::regex points("points=\"([^\"]*)\"");
    for (auto it = std::sregex_iterator(html.begin(), html.end(), points);
         it != std::sregex_iterator(); ++it) {
        polylines.push_back((*it)[1].str());
    }
    ASSERT_EQ(polylines.size(), 4u);
    EXPECT_EQ(std::count(polylines[0].begin(), polylines[0].end(), ' '), 0);
    EXPECT_EQ(std::count(polylines[1].begin(), polylines[1].end(), ' '), 2);
    EXPECT_EQ(std::count(polylines[2].begin(), polylines[2].end(), ' '), 1);
    EXPECT_EQ(std::count(polylines[3].begin(), polylines[3].end(), ' '), 1);
    EXPECT_EQ(VerdictOf(record, 'X').kind, AxisVerdict::Kind::Unfinished);
}

}  // namespace
}  // namespace trevane::autotest_testing
