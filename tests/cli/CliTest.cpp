#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/ScriptedPeer.h"
#include "support/ChildProcess.h"
#include "support/JsonValue.h"
#include "support/Terminal.h"

namespace trevane {
namespace {

using testing::ControllerScript;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::JsonValue;
using testing::ParseJsonLines;
using testing::PeerReply;
using testing::ProgramRun;
using testing::RunProgram;
using testing::ScriptedPeer;
using ::testing::StartsWith;

// Runs the built trevane-cli with `args`.
ProgramRun RunCli(const std::vector<std::string>& args) {
    return RunProgram(TREVANE_CLI_PATH, args);
}

// Standard output and error on a terminal: what the operator would see.
std::string RunOnTerminal(const std::vector<std::string>& args) {
    return testing::RunOnTerminal(TREVANE_CLI_PATH, args);
}

std::optional<PeerReply> Answers(const std::string& request) {
    if (request == "TPX") {
        return PeerReply{" 1234\r\n:"};
    }
    if (request == "LS") {
        return PeerReply{"a\r\nb\r\n:"};
    }
    if (request == "XQ") {
        return PeerReply{"?"};
    }
    if (request == "TC1") {
        return PeerReply{"1 Unrecognized command\r\n:"};
    }
    if (request == "MG") {
        // Latin-1 text with a terminal control sequence in it.
        return PeerReply{"caf\xe9 \x1b[2J\r\n:"};
    }
    return PeerReply{":"};
}

class CliTest : public ::testing::Test {
  protected:
    std::vector<std::string> At(std::vector<std::string> rest) const {
        std::vector<std::string> args = {"--address", "127.0.0.1", "--port",
                                         std::to_string(peer.Port())};
        args.insert(args.end(), rest.begin(), rest.end());
        return args;
    }

    ScriptedPeer peer{ControllerScript(Answers)};
};

TEST_F(CliTest, HelpListsEveryLinkVerb) {
    const ProgramRun result = RunCli({"--help"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_THAT(result.out, HasSubstr("  connect\n"));
    EXPECT_THAT(result.out, HasSubstr("  send [--repeat N] CMD [CMD ...]\n"));
}

TEST_F(CliTest, BadArgumentsGiveOneLineAndExitTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {"connect"},                            // no address
        {"--address", "localhost", "connect"},  // not dotted IPv4
        {"--address", "127.0.0.1", "--port", "0", "connect"},
        {"--address", "127.0.0.1", "frobnicate"},
        {"--address", "127.0.0.1", "send"},  // no command
        {"--address", "127.0.0.1", "send", "--repeat", "0", "TPX"},
        {"--address", "127.0.0.1", "connect", "extra"},
    };
    for (const auto& args : cases) {
        const ProgramRun result = RunCli(args);
        SCOPED_TRACE(args.back());
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_THAT(result.err, StartsWith("trevane-cli: "));
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);
        EXPECT_EQ(result.out, "");
    }
    EXPECT_EQ(peer.ConnectionsAccepted(), 0);
}

TEST_F(CliTest, ConnectPrintsTheDescription) {
    const ProgramRun result = RunCli(At({"connect"}));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out,
              "127.0.0.1:" + std::to_string(peer.Port()) + " " + testing::kPeerIdentity + "\n");
    EXPECT_EQ(result.err, "");
    EXPECT_THAT(peer.Requests(), ElementsAre("HX", "\x12\x16"));
}

TEST_F(CliTest, RefusedConnectionExitsTwoWithConnectionFailed) {
    const ProgramRun result =
        RunCli({"--address", "127.0.0.1", "--port", std::to_string(testing::UnusedLoopbackPort()),
                "send", "TPX"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_THAT(result.err, StartsWith("trevane-cli: Connection Failed: "));
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);
    EXPECT_EQ(result.out, "");
}

TEST_F(CliTest, SendPrintsEachReplyOnItsOwnLine) {
    const ProgramRun result = RunCli(At({"send", "TPX", "LS", "SH"}));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "1234\na\nb\n\n");
    EXPECT_EQ(result.err, "");
}

// The window shows only "a command error occurred"; a script's operator needs the reason.
TEST_F(CliTest, AFailedExchangeExitsOneAndNamesTheCommandAndTheControllersReason) {
    const ProgramRun result = RunCli(At({"send", "XQ", "TPX"}));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "\n1234\n");
    EXPECT_EQ(result.err, "trevane-cli: XQ rejected: 1 Unrecognized command\n");
}

TEST_F(CliTest, RepeatSendsNTimesAndPrintsTheLastReply) {
    const ProgramRun result = RunCli(At({"send", "--repeat", "3", "TPX"}));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "1234\n");
    EXPECT_THAT(peer.Requests(), ElementsAre("HX", "\x12\x16", "TPX", "TPX", "TPX"));
}

TEST_F(CliTest, JsonGivesOneObjectPerCommandWithTheRejectionReason) {
    const ProgramRun connect = RunCli(At({"--json", "connect"}));
    EXPECT_EQ(connect.exitCode, 0);
    const std::vector<JsonValue> described = ParseJsonLines(connect.out);
    ASSERT_EQ(described.size(), 1U);
    EXPECT_EQ(described[0]["connection"].text,
              "127.0.0.1:" + std::to_string(peer.Port()) + " " + testing::kPeerIdentity);
    EXPECT_EQ(described[0]["command_session"].text, "live");
    EXPECT_EQ(described[0]["record_session"].text, "live");

    const ProgramRun send = RunCli(At({"send", "TPX", "XQ", "MG", "LS", "--json"}));
    EXPECT_EQ(send.exitCode, 1);
    const std::vector<JsonValue> lines = ParseJsonLines(send.out);
    ASSERT_EQ(lines.size(), 5U) << send.out;
    EXPECT_EQ(lines[0]["command"].text, "TPX");
    ASSERT_EQ(lines[0]["reply"].items.size(), 1U);
    EXPECT_EQ(lines[0]["reply"].items[0].text, "1234");
    EXPECT_THAT(lines[0]["time"].text,
                ::testing::MatchesRegex("20[0-9][0-9]-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:"
                                        "[0-6][0-9]\\.[0-9][0-9][0-9]Z"));
    EXPECT_TRUE(lines[0]["ok"].flag);
    EXPECT_TRUE(lines[0].Has("reason"));
    EXPECT_EQ(lines[0]["reason"].kind, JsonValue::Kind::Null);
    EXPECT_EQ(lines[1]["command"].text, "XQ");
    EXPECT_EQ(lines[1]["ok"].kind, JsonValue::Kind::Bool);
    EXPECT_FALSE(lines[1]["ok"].flag);
    EXPECT_EQ(lines[1]["reason"].text, "1 Unrecognized command");
    // Every byte comes back as it was sent, in pure ASCII output; a reply of two lines is two.
    ASSERT_EQ(lines[2]["reply"].items.size(), 1U);
    EXPECT_EQ(lines[2]["reply"].items[0].text, "caf\u00e9 \x1b[2J");
    ASSERT_EQ(lines[3]["reply"].items.size(), 2U);
    EXPECT_EQ(lines[3]["reply"].items[1].text, "b");
    EXPECT_TRUE(std::all_of(send.out.begin(), send.out.end(),
                            [](char c) { return c == '\n' || (c >= 0x20 && c < 0x7f); }));
    EXPECT_EQ(lines[4]["error"]["message"].text, "XQ rejected: 1 Unrecognized command");
    EXPECT_EQ(lines[4]["error"]["exit"].number, 1);
    EXPECT_EQ(send.err, "trevane-cli: XQ rejected: 1 Unrecognized command\n");

    // Only the last round, as the text output.
    const ProgramRun repeat = RunCli(At({"--json", "send", "--repeat", "2", "TPX"}));
    EXPECT_EQ(ParseJsonLines(repeat.out).size(), 1U);
    EXPECT_EQ(repeat.exitCode, 0);

    const ProgramRun refused =
        RunCli({"--address", "127.0.0.1", "--port", std::to_string(testing::UnusedLoopbackPort()),
                "--json", "send", "TPX"});
    EXPECT_EQ(refused.exitCode, 2);
    const std::vector<JsonValue> failure = ParseJsonLines(refused.out);
    ASSERT_EQ(failure.size(), 1U);
    EXPECT_THAT(failure[0]["error"]["message"].text, StartsWith("Connection Failed: "));
    EXPECT_EQ(failure[0]["error"]["exit"].number, 2);
}

// Wherever --json stands, a script sees JSON only, argument errors included.
TEST_F(CliTest, WithJsonEveryFailureEndsWithOneErrorObject) {
    const std::vector<std::vector<std::string>> cases = {
        {"--json", "jog", "X", "abc", "1"},
        {"--json", "--address", "127.0.0.1", "run", "bogus"},
        {"connect", "--json"},
        {"--json"},
        {"--json", "--address", "127.0.0.1", "--timeout", "0", "connect"},
        {"--json", "--address", "127.0.0.1", "jog", "W", "1000", "1"},
        {"--json", "help", "frobnicate"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args.back());
        const ProgramRun result = RunCli(args);
        EXPECT_EQ(result.exitCode, 2);
        const std::vector<JsonValue> lines = ParseJsonLines(result.out);
        ASSERT_EQ(lines.size(), 1U) << result.out;
        EXPECT_EQ(lines[0]["error"]["exit"].number, 2);
        EXPECT_EQ("trevane-cli: " + lines[0]["error"]["message"].text + "\n", result.err);
    }
    EXPECT_EQ(peer.ConnectionsAccepted(), 0);
    const ProgramRun history = RunCli({"history", "--json", "--limit", "x"});
    EXPECT_EQ(ParseJsonLines(history.out).size(), 1U);
}

// A peer that accepts and never answers: the port is wrong, or it is another kind of device.
TEST(CliSilentControllerTest, ASilentControllerIsNamedWithWhatToTry) {
    ScriptedPeer silent([](const std::string&) { return std::optional<PeerReply>(); });
    const ProgramRun result =
        RunCli({"--address", "127.0.0.1", "--port", std::to_string(silent.Port()), "--timeout",
                "100", "connect", "--json"});
    EXPECT_EQ(result.exitCode, 2);
    const std::string expected =
        "Connection Failed: no reply from 127.0.0.1:" + std::to_string(silent.Port()) +
        " within 100 ms: is the port right, and is it a controller of "
        "this kind? --timeout MS allows a slower one";
    EXPECT_EQ(result.err, "trevane-cli: " + expected + "\n");
    const std::vector<JsonValue> lines = ParseJsonLines(result.out);
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_EQ(lines[0]["error"]["message"].text, expected);
}

// A controller's reply must not be able to clear the operator's screen; a script reading a pipe
// still gets every byte.
TEST_F(CliTest, ControlBytesAreEscapedOnATerminalOnly) {
    EXPECT_EQ(RunOnTerminal(At({"send", "MG", "TPX"})), "caf\\xe9 \\x1b[2J\n1234\n");
    EXPECT_EQ(RunCli(At({"send", "MG"})).out, "caf\xe9 \x1b[2J\n");
}

// 0x9B alone starts an escape sequence on some terminals, as ESC [ does; valid UTF-8 passes.
TEST(CliHostileControllerTest, EveryTextFromTheControllerReachesATerminalEscaped) {
    const std::string hostile =
        "caf\xc3\xa9 \x9b"
        "2J \xc2\x9b"
        "2J \x1b]0;t\x07 \xff a\rb";
    ScriptedPeer peer([&](const std::string& request) -> std::optional<PeerReply> {
        if (request == "HX") {
            return PeerReply{":"};
        }
        if (request == "MG") {
            return PeerReply{"?"};
        }
        if (request == "TC1") {
            return PeerReply{"1 " + hostile + "\r\n:"};
        }
        return PeerReply{hostile + "\r\n:"};
    });
    const std::string escaped = "caf\xc3\xa9 \\x9b2J \\xc2\\x9b2J \\x1b]0;t\\x07 \\xff a\\x0db";
    const std::vector<std::string> at = {"--address", "127.0.0.1", "--port",
                                         std::to_string(peer.Port())};
    auto with = [&](std::vector<std::string> rest) {
        rest.insert(rest.begin(), at.begin(), at.end());
        return rest;
    };
    EXPECT_EQ(RunOnTerminal(with({"connect"})),
              "127.0.0.1:" + std::to_string(peer.Port()) + " " + escaped + "\n");
    EXPECT_EQ(RunOnTerminal(with({"send", "TPX", "MG"})),
              escaped + "\ntrevane-cli: MG rejected: 1 " + escaped + "\n\n");
}

// A trace onto standard output or a FIFO is written where it is; a folder is refused.
TEST_F(CliTest, TraceGoesWhereItIsToldWithOneHeaderLine) {
    const ProgramRun traced = RunCli(At({"--trace", "/dev/stdout", "send", "TPX"}));
    EXPECT_EQ(traced.exitCode, 0) << traced.err;
    EXPECT_THAT(
        traced.out,
        StartsWith(
            "#time\tsession\trequest\treply\tacknowledgement\tmicroseconds\treason\tbytes\n"));
    EXPECT_THAT(traced.out, HasSubstr("\tcommand\tTPX\\r\t1234\t:\t"));
    EXPECT_THAT(traced.out, ::testing::EndsWith("1234\n"));

    const int connections = peer.ConnectionsAccepted();
    const ProgramRun folder = RunCli(At({"--trace", ::testing::TempDir(), "send", "TPX"}));
    EXPECT_EQ(folder.exitCode, 1);
    EXPECT_THAT(folder.err, HasSubstr("it is a folder"));
    EXPECT_EQ(peer.ConnectionsAccepted(), connections);
}

TEST_F(CliTest, VersionPrintsOneLineWithoutConnecting) {
    for (const auto& args : {std::vector<std::string>{"--version"}, At({"--version"})}) {
        const ProgramRun result = RunCli(args);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.out, std::string("trevane-cli ") + TREVANE_VERSION + "\n");
        EXPECT_EQ(result.err, "");
    }
    EXPECT_EQ(peer.ConnectionsAccepted(), 0);
#ifdef TREVANE_SIM_PATH
    const ProgramRun sim = RunProgram(TREVANE_SIM_PATH, {"--version"});
    EXPECT_EQ(sim.exitCode, 0);
    EXPECT_EQ(sim.out, std::string("trevane-sim ") + TREVANE_VERSION + "\n");
    EXPECT_EQ(sim.err, "");
#endif
}

// Help must never reach the controller: "send --help" once went out as a command.
TEST_F(CliTest, HelpOfAVerbSendsNothing) {
    const std::vector<std::pair<std::string, std::string>> verbs = {
        {"send", "send [--repeat N] CMD [CMD ...]"},
        {"jog", "jog AXES SPEED SECONDS"},
        {"autotest", "autotest [--report] [--strict] [--history URL]"},
    };
    for (const auto& [verb, usage] : verbs) {
        const std::vector<std::vector<std::string>> forms = {
            {"help", verb},       {verb, "--help"},  // no address needed
            At({verb, "--help"}), At({verb, "-h"}), At({"help", verb}),
        };
        for (const auto& args : forms) {
            SCOPED_TRACE(verb + " " + args.back());
            const ProgramRun result = RunCli(args);
            EXPECT_EQ(result.exitCode, 0);
            EXPECT_THAT(result.out, HasSubstr(usage + "\n"));
            EXPECT_EQ(result.err, "");
        }
    }
    // Help after the verb's own arguments, too.
    const ProgramRun late = RunCli(At({"send", "--repeat", "2", "TPX", "--help"}));
    EXPECT_EQ(late.exitCode, 0);
    EXPECT_THAT(late.out, HasSubstr("send [--repeat N]"));
    // Bare "help" lists every verb, as --help does.
    const ProgramRun all = RunCli({"help"});
    EXPECT_EQ(all.exitCode, 0);
    EXPECT_EQ(all.out, RunCli({"--help"}).out);
    EXPECT_THAT(all.out, HasSubstr("  jog AXES SPEED SECONDS\n"));
    EXPECT_EQ(peer.ConnectionsAccepted(), 0);
    EXPECT_THAT(peer.Requests(), ElementsAre());
}

TEST_F(CliTest, HelpOfAnUnknownVerbExitsTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {"help", "frobnicate"},
        At({"help", "frobnicate"}),
        At({"frobnicate", "--help"}),
        {"help", "send", "jog"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args.back());
        const ProgramRun result = RunCli(args);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_THAT(result.err, StartsWith("trevane-cli: "));
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);
        EXPECT_EQ(result.out, "");
    }
    EXPECT_EQ(peer.ConnectionsAccepted(), 0);
}

}  // namespace
}  // namespace trevane
