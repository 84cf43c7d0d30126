#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/ScriptedPeer.h"
#include "support/ChildProcess.h"
#include "support/JsonValue.h"

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

extern "C" char** environ;

// Runs trevane-cli with standard output on a pseudo-terminal and returns what reached it. The
// terminal is raw, so the bytes arrive as the program wrote them.
std::string RunOnTerminal(const std::vector<std::string>& args) {
    int master = -1;
    int slave = -1;
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master, &slave, nullptr, &raw, nullptr) != 0) {
        ADD_FAILURE() << "openpty: " << std::strerror(errno);
        return {};
    }
    std::vector<std::string> words = {TREVANE_CLI_PATH};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, slave, 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, master);
    posix_spawn_file_actions_addclose(&actions, slave);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(slave);
    std::string out;
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(spawned);
        close(master);
        return out;
    }
    // Read until the child's end closes the terminal (EIO), within a bound.
    pollfd ready{master, POLLIN, 0};
    char buffer[4096];
    while (poll(&ready, 1, 10'000) > 0) {
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        out.append(buffer, static_cast<std::size_t>(got));
    }
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    return out;
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

TEST_F(CliTest, FailedExchangeExitsOneWithTheErrorLine) {
    const ProgramRun result = RunCli(At({"send", "XQ", "TPX"}));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "\n1234\n");
    EXPECT_EQ(result.err, "a command error occurred\n");
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

    const ProgramRun send = RunCli(At({"--json", "send", "TPX", "XQ", "MG"}));
    EXPECT_EQ(send.exitCode, 1);
    const std::vector<JsonValue> lines = ParseJsonLines(send.out);
    ASSERT_EQ(lines.size(), 3U) << send.out;
    EXPECT_EQ(lines[0]["command"].text, "TPX");
    EXPECT_EQ(lines[0]["reply"].text, "1234");
    EXPECT_TRUE(lines[0]["ok"].flag);
    EXPECT_TRUE(lines[0].Has("reason"));
    EXPECT_EQ(lines[0]["reason"].kind, JsonValue::Kind::Null);
    EXPECT_EQ(lines[1]["command"].text, "XQ");
    EXPECT_EQ(lines[1]["ok"].kind, JsonValue::Kind::Bool);
    EXPECT_FALSE(lines[1]["ok"].flag);
    EXPECT_EQ(lines[1]["reason"].text, "1 Unrecognized command");
    // Every byte comes back as it was sent, in pure ASCII output.
    EXPECT_EQ(lines[2]["reply"].text, "caf\u00e9 \x1b[2J");
    EXPECT_TRUE(std::all_of(send.out.begin(), send.out.end(),
                            [](char c) { return c == '\n' || (c >= 0x20 && c < 0x7f); }));
    EXPECT_EQ(send.err, "a command error occurred\n");

    // Only the last round, as the text output.
    const ProgramRun repeat = RunCli(At({"--json", "send", "--repeat", "2", "TPX"}));
    EXPECT_EQ(ParseJsonLines(repeat.out).size(), 1U);

    const ProgramRun refused =
        RunCli({"--address", "127.0.0.1", "--port", std::to_string(testing::UnusedLoopbackPort()),
                "--json", "send", "TPX"});
    EXPECT_EQ(refused.exitCode, 2);
    const std::vector<JsonValue> failure = ParseJsonLines(refused.out);
    ASSERT_EQ(failure.size(), 1U);
    EXPECT_THAT(failure[0]["error"].text, StartsWith("Connection Failed: "));
}

// A controller's reply must not be able to clear the operator's screen; a script reading a pipe
// still gets every byte.
TEST_F(CliTest, ControlBytesAreEscapedOnATerminalOnly) {
    EXPECT_EQ(RunOnTerminal(At({"send", "MG", "TPX"})), "caf\xe9 \\x1b[2J\n1234\n");
    EXPECT_EQ(RunCli(At({"send", "MG"})).out, "caf\xe9 \x1b[2J\n");
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
        {"autotest", "autotest [--report]"},
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
