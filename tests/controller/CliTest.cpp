#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "controller/ScriptedPeer.h"

namespace trevane {
namespace {

using testing::ControllerScript;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::PeerReply;
using testing::ScriptedPeer;
using ::testing::StartsWith;

struct CliResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs the built trevane-cli with `args`, its output caught in files.
CliResult RunCli(const std::vector<std::string>& args) {
    // ctest runs each test as a process of its own, several at once: name files by the test.
    static int run = 0;
    const std::string base = ::testing::TempDir() + "trevane_cli_" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
                             std::to_string(++run);
    std::string command = ShellQuoted(TREVANE_CLI_PATH);
    for (const std::string& arg : args) {
        command += " " + ShellQuoted(arg);
    }
    command += " </dev/null >" + ShellQuoted(base + ".out") + " 2>" + ShellQuoted(base + ".err");
    CliResult result;
    const int status = std::system(command.c_str());
#ifndef _WIN32
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    result.out = ReadFile(base + ".out");
    result.err = ReadFile(base + ".err");
    std::remove((base + ".out").c_str());
    std::remove((base + ".err").c_str());
    return result;
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
    return PeerReply{":"};
}

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
#ifdef _WIN32
        GTEST_SKIP() << "runs the program through a POSIX shell";
#endif
    }

    std::vector<std::string> At(std::vector<std::string> rest) const {
        std::vector<std::string> args = {"--address", "127.0.0.1", "--port",
                                         std::to_string(peer.Port())};
        args.insert(args.end(), rest.begin(), rest.end());
        return args;
    }

    ScriptedPeer peer{ControllerScript(Answers)};
};

TEST_F(CliTest, HelpListsEveryLinkVerb) {
    const CliResult result = RunCli({"--help"});
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
        const CliResult result = RunCli(args);
        SCOPED_TRACE(args.back());
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_THAT(result.err, StartsWith("trevane-cli: "));
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);
        EXPECT_EQ(result.out, "");
    }
    EXPECT_EQ(peer.ConnectionsAccepted(), 0);
}

TEST_F(CliTest, ConnectPrintsTheDescription) {
    const CliResult result = RunCli(At({"connect"}));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out,
              "127.0.0.1:" + std::to_string(peer.Port()) + " " + testing::kPeerIdentity + "\n");
    EXPECT_EQ(result.err, "");
    EXPECT_THAT(peer.Requests(), ElementsAre("HX", "\x12\x16"));
}

TEST_F(CliTest, RefusedConnectionExitsTwoWithConnectionFailed) {
    const CliResult result = RunCli({"--address", "127.0.0.1", "--port",
                                     std::to_string(testing::UnusedLoopbackPort()), "send", "TPX"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_THAT(result.err, StartsWith("trevane-cli: Connection Failed: "));
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);
    EXPECT_EQ(result.out, "");
}

TEST_F(CliTest, SendPrintsEachReplyOnItsOwnLine) {
    const CliResult result = RunCli(At({"send", "TPX", "LS", "SH"}));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "1234\na\nb\n\n");
    EXPECT_EQ(result.err, "");
}

TEST_F(CliTest, FailedExchangeExitsOneWithTheErrorLine) {
    const CliResult result = RunCli(At({"send", "XQ", "TPX"}));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "\n1234\n");
    EXPECT_EQ(result.err, "a command error occurred\n");
}

TEST_F(CliTest, RepeatSendsNTimesAndPrintsTheLastReply) {
    const CliResult result = RunCli(At({"send", "--repeat", "3", "TPX"}));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "1234\n");
    EXPECT_THAT(peer.Requests(), ElementsAre("HX", "\x12\x16", "TPX", "TPX", "TPX"));
}

}  // namespace
}  // namespace trevane
