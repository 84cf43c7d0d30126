#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/AutotestExit.h"
#include "cli/FleetFile.h"
#include "cli/HeadlessWindow.h"
#include "cli/Json.h"
#include "cli/RunControl.h"
#include "cli/TerminalText.h"
#include "cli/VerbContext.h"
#include "controller/Controller.h"
#include "support/ScratchFolder.h"

// The command line's parts that are plain functions: the fleet file, JSON quoting, terminal
// escaping and the automatic test's exit code.
namespace trevane {
namespace {

using ::testing::HasSubstr;

std::string Hex(unsigned char byte) {
    static constexpr char kDigits[] = "0123456789abcdef";
    return std::string("\\x") + kDigits[byte >> 4] + kDigits[byte & 0x0f];
}

// The reason ParseFleet gives for `text`, "" when it takes it.
std::string FleetRefusal(const std::string& text) {
    try {
        cli::ParseFleet(text, "fleet.txt", 23);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return {};
}

TEST(FleetFile, ReadsAddressPortAndNameWithCommentsAndTheDefaultPort) {
    const std::vector<cli::FleetController> fleet = cli::ParseFleet(
        "# bench\n127.0.0.1\n\n  127.0.0.2 5023 left-arm_2  # cell 4\n127.0.0.3 5024\n",
        "fleet.txt", 23);
    ASSERT_EQ(fleet.size(), 3u);
    EXPECT_EQ(fleet[0].address, "127.0.0.1");
    EXPECT_EQ(fleet[0].port, 23);
    EXPECT_EQ(fleet[0].name, "127.0.0.1");
    EXPECT_EQ(fleet[0].lineNumber, 2);
    EXPECT_EQ(fleet[1].port, 5023);
    EXPECT_EQ(fleet[1].name, "left-arm_2");
    EXPECT_EQ(fleet[1].lineNumber, 4);
    EXPECT_EQ(fleet[2].name, "127.0.0.3");
}

// A name is a folder of the fleet's own: one that leaves it, or is no folder at all, is refused
// with its line before anything starts.
TEST(FleetFile, RefusesANameThatIsNotAPlainFolderOfItsOwn) {
    const std::vector<std::string> names = {".",   "..",  "a/b", "..\\up", "a b", std::string(65, 'n'),
                                            "x:y", "caf\xc3\xa9"};
    for (const std::string& name : names) {
        const std::string refusal = FleetRefusal("127.0.0.1 23 " + name + "\n");
        EXPECT_THAT(refusal, HasSubstr("'fleet.txt' line 1: ")) << name;
        EXPECT_THAT(refusal, ::testing::AnyOf(HasSubstr("is not a folder name"),
                                              HasSubstr("is not ADDRESS [PORT [NAME]]")))
            << name;
    }
    EXPECT_EQ(FleetRefusal("127.0.0.1 23 " + std::string(64, 'n') + "\n"), "");
    EXPECT_EQ(FleetRefusal("127.0.0.1 23 ...\n"), "");
}

TEST(FleetFile, RefusesWhatIsNoControllerWithItsLine) {
    EXPECT_THAT(FleetRefusal("127.0.0.1\nlocalhost\n"),
                HasSubstr("line 2: 'localhost' is not a dotted IPv4 address"));
    EXPECT_THAT(FleetRefusal("127.0.0.1 0\n"), HasSubstr("line 1: '0' is not a port (1..65535)"));
    EXPECT_THAT(FleetRefusal("127.0.0.1 65536\n"), HasSubstr("'65536' is not a port"));
    EXPECT_THAT(FleetRefusal("127.0.0.1 23x\n"), HasSubstr("'23x' is not a port"));
    EXPECT_THAT(FleetRefusal("127.0.0.1 23 a b\n"), HasSubstr("is not ADDRESS [PORT [NAME]]"));
    // Folders that would clash on Windows clash everywhere.
    EXPECT_THAT(FleetRefusal("127.0.0.1 23 Cell\n127.0.0.2 23 cell\n"),
                HasSubstr("line 2: the folder 'cell' is already line 1's"));
    EXPECT_THAT(FleetRefusal("127.0.0.1\n127.0.0.1 24\n"), HasSubstr("already line 1's"));
    EXPECT_THAT(FleetRefusal("# nothing\n\n"), HasSubstr("'fleet.txt' lists no controller"));
}

TEST(FleetFile, ReadsAFileAndRefusesOneItCannotOpenOrThatIsTooLong) {
    testing::ScratchFolder scratch("trevane-fleet-file");
    const std::filesystem::path file = scratch.Path() / "fleet.txt";
    std::ofstream(file) << "127.0.0.1 5023 a\n";
    EXPECT_EQ(cli::ReadFleetFile(file.string(), 23).at(0).name, "a");
    EXPECT_THROW(cli::ReadFleetFile((scratch.Path() / "none.txt").string(), 23),
                 std::runtime_error);
    std::ofstream(file) << std::string(1024 * 1024 + 1, '#');
    EXPECT_THROW(cli::ReadFleetFile(file.string(), 23), std::runtime_error);
}

TEST(JsonQuote, EscapesQuotesBackslashesLineEndsAndEveryByteOutsidePrintableAscii) {
    EXPECT_EQ(cli::json::Quote("a \"b\" \\c/"), R"("a \"b\" \\c/")");
    EXPECT_EQ(cli::json::Quote("\n\r\t"), R"("\n\r\t")");
    EXPECT_EQ(cli::json::Quote(std::string("\0\x01\x1f\x7f", 4)), R"("\u0000\u0001\u001f\u007f")");
    EXPECT_EQ(cli::json::Quote("\x80\xff\xc3\xa9"), R"("\u0080\u00ff\u00c3\u00a9")");
    EXPECT_EQ(cli::json::Quote(""), R"("")");
    for (int byte = 0x20; byte < 0x7f; ++byte) {
        if (byte != '"' && byte != '\\') {
            const std::string text(1, static_cast<char>(byte));
            EXPECT_EQ(cli::json::Quote(text), "\"" + text + "\"") << byte;
        }
    }
}

TEST(JsonObject, QuotesKeysAndValuesAndKeepsTheOrder) {
    cli::json::Object object;
    object.Text("k\"ey", "v\nal").Number("n", 3LL).Flag("ok", false).Null("none").Raw("a", "[]");
    EXPECT_EQ(object.Str(), R"({"k\"ey": "v\nal", "n": 3, "ok": false, "none": null, "a": []})");
    std::ostringstream out;
    cli::json::WriteLine(out, cli::json::Object().Text("t", "\x1b[2J"));
    EXPECT_EQ(out.str(), "{\"t\": \"\\u001b[2J\"}\n");
}

TEST(TerminalText, EscapesEveryC0ControlButLineFeedTabAndALineEndingCarriageReturn) {
    for (int byte = 0; byte < 0x20; ++byte) {
        const std::string text = std::string("a") + static_cast<char>(byte) + "b";
        const bool passes = byte == '\n' || byte == '\t';
        EXPECT_EQ(cli::EscapeForTerminal(text),
                  passes ? text : "a" + Hex(static_cast<unsigned char>(byte)) + "b")
            << byte;
    }
    EXPECT_EQ(cli::EscapeForTerminal("line\r\n"), "line\r\n");
    EXPECT_EQ(cli::EscapeForTerminal("end\r"), "end\r");
    EXPECT_EQ(cli::EscapeForTerminal("\x7f"), "\\x7f");
    EXPECT_EQ(cli::EscapeForTerminal("plain text ~"), "plain text ~");
}

// U+0080..U+009F, both ends included, reach a terminal as their two bytes escaped; U+00A0 and
// every other valid character pass as they are.
TEST(TerminalText, EscapesEveryC1ControlAndEveryByteThatIsNotValidUtf8) {
    for (int code = 0x80; code <= 0x9f; ++code) {
        const std::string text = "\xc2" + std::string(1, static_cast<char>(code));
        EXPECT_EQ(cli::EscapeForTerminal("[" + text + "]"),
                  "[\\xc2" + Hex(static_cast<unsigned char>(code)) + "]")
            << code;
    }
    EXPECT_EQ(cli::EscapeForTerminal("\xc2\xa0\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"),
              "\xc2\xa0\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
    // Single bytes in the C1 range, as an 8-bit controller sends them.
    EXPECT_EQ(cli::EscapeForTerminal("\x80\x9b\x9f"), "\\x80\\x9b\\x9f");
    EXPECT_EQ(cli::EscapeForTerminal("\xc3("), "\\xc3(");
    EXPECT_EQ(cli::EscapeForTerminal("\xc0\xaf"), "\\xc0\\xaf");  // overlong '/'
    EXPECT_EQ(cli::EscapeForTerminal("\xed\xa0\x80"), "\\xed\\xa0\\x80");  // a surrogate
    EXPECT_EQ(cli::EscapeForTerminal("\xe2\x82"), "\\xe2\\x82");  // cut short
}

// The exit code of a finished test, over a context that prints into strings.
class AutotestExit : public ::testing::Test {
  protected:
    int Judge(const TestResult& result, int commandFailures = 0, bool reportWritten = true,
              bool strict = false) {
        err_.str("");
        return cli::AutotestExitCode(context_, result, commandFailures, reportWritten, strict);
    }
    static TestResult Completed(TestVerdict::Kind kind = TestVerdict::Kind::Passed) {
        TestResult result;
        result.completed = true;
        result.record.emplace();
        result.verdict.emplace();
        result.verdict->kind = kind;
        return result;
    }
    std::string Errors() const { return err_.str(); }

    Controller controller_;
    std::ostringstream out_;
    std::ostringstream err_;
    std::shared_ptr<cli::RunControl> control_ = std::make_shared<cli::RunControl>();
    cli::VerbContext context_{controller_,
                              std::make_shared<cli::HeadlessWindow>(out_, err_, false, false),
                              out_, err_, control_, true};
};

TEST_F(AutotestExit, IsZeroOnlyForATestWhoseEveryPartWasMeasuredAndWritten) {
    EXPECT_EQ(Judge(Completed()), 0);
    EXPECT_EQ(Errors(), "trevane-cli: autotest: no log file was written\n");
    EXPECT_EQ(Judge(Completed(), 0, false), 1);
    EXPECT_EQ(Judge(Completed(), 2), 1);
    EXPECT_THAT(Errors(), HasSubstr("; 2 command(s) failed\n"));
    EXPECT_EQ(Judge(Completed(TestVerdict::Kind::Unverified)), 1);
    EXPECT_THAT(Errors(), HasSubstr("; a move was not measured (its readings failed)\n"));
    TestResult aborted = Completed(TestVerdict::Kind::Aborted);
    aborted.record->moves.emplace_back().aborted = true;
    EXPECT_EQ(Judge(aborted), 1);
    EXPECT_THAT(Errors(), HasSubstr("; a move was aborted\n"));
    TestResult lost = Completed();
    lost.lostLogEntries = 3;
    lost.logFailure = "disk full";
    EXPECT_EQ(Judge(lost), 1);
    EXPECT_THAT(Errors(), HasSubstr("log file could not be written: disk full (3 entries lost)"));
}

// A pass with something to note exits 0 unless --strict asks for its own code; a failure keeps
// its code whatever the warnings.
TEST_F(AutotestExit, StrictGivesAPassWithWarningsOrDriftItsOwnCode) {
    TestResult warned = Completed();
    TestWarning warning;
    warning.kind = TestWarning::Kind::LimitSwitchActive;
    warning.axis = 'Y';
    warning.forwardSwitch = true;
    warned.verdict->warnings.push_back(warning);
    EXPECT_EQ(Judge(warned), 0);
    EXPECT_THAT(Errors(), HasSubstr("warning: Y forward limit switch active at rest"));
    EXPECT_THAT(Errors(), HasSubstr("; the test passed with 1 warning\n"));
    EXPECT_EQ(Judge(warned, 0, true, true), 3);
    EXPECT_THAT(Errors(), HasSubstr("; the test passed with 1 warning (--strict)\n"));
    TestResult drifted = Completed();
    drifted.verdict->drift.push_back({'Y', -20000, "torque", 2.0, 1.2, 66.7});
    EXPECT_EQ(Judge(drifted, 0, true, true), 3);
    EXPECT_EQ(Judge(Completed(), 0, true, true), 0);
    TestResult failedWithWarning = warned;
    failedWithWarning.verdict->kind = TestVerdict::Kind::Unverified;
    EXPECT_EQ(Judge(failedWithWarning, 0, true, true), 1);
    EXPECT_EQ(Judge(warned, 0, false, true), 1);
}

TEST_F(AutotestExit, NamesALostLinkAMissingConnectionAndAStop) {
    EXPECT_EQ(Judge(Completed(TestVerdict::Kind::LinkLost)), 1);
    EXPECT_THAT(Errors(), HasSubstr("; the link to the controller was lost\n"));
    EXPECT_EQ(Judge(TestResult{}), 2);
    EXPECT_THAT(Errors(), HasSubstr("; the test did not run (no connection)\n"));
    TestResult stopped;
    stopped.stoppedByOperator = true;
    EXPECT_EQ(Judge(stopped), 130);
    control_->Arrive(15);
    EXPECT_EQ(Judge(stopped), 143);
    EXPECT_THAT(Errors(), HasSubstr("; the test was aborted\n"));
}

}  // namespace
}  // namespace trevane
