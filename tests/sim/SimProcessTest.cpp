#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "net/TcpMotionClient.h"
#include "sim/RawConnection.h"
#include "support/ChildProcess.h"

// trevane-sim as a process: start-up line, exit codes, and shutdown on SIGTERM.
namespace trevane::sim::testing {
namespace {

using trevane::testing::ChildProcess;

// trevane-sim started with `arguments`.
class SimProcess : public ChildProcess {
  public:
    explicit SimProcess(const std::vector<std::string>& arguments)
        : ChildProcess(TREVANE_SIM_PATH, arguments) {}

    // Standard output up to its first line end.
    std::string ReadOutputLine() {
        WaitForOutput("\n", std::chrono::seconds(10));
        const std::string out = Output();
        return out.substr(0, out.find('\n') + 1);
    }
};

std::uint16_t PortOf(const std::string& line) {
    const auto colon = line.rfind(':');
    return static_cast<std::uint16_t>(std::stoi(line.substr(colon + 1)));
}

TEST(SimProcessTest, ServesUntilSigtermThenExitsCleanlyWithSessionsOpen) {
    SimProcess sim({"--port", "0", "--fault", "cn:1"});
    const std::string line = sim.ReadOutputLine();
    ASSERT_EQ(line.rfind("listening on 127.0.0.1:", 0), 0u) << line;
    const std::uint16_t port = PortOf(line);
    TcpMotionClient session("127.0.0.1", port);
    EXPECT_EQ(session.command("MG _LFX", "\r", ":", true), "0.0000");  // the fault applies
    RawConnection midRequest(port);
    ASSERT_TRUE(midRequest.Write("MG _C"));
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.WaitForExit(), 0);
    EXPECT_TRUE(midRequest.ClosedByPeer());
}

// Faults from the command line reach the machine, several at once, each on its own axis and
// side.
TEST(SimProcessTest, StuckSwitchFaultsFromTheCommandLineReadOnAtOnce) {
    SimProcess sim({"--port", "0", "--fault", "limit:Z:forward", "--fault", "limit:Y:reverse"});
    const std::string line = sim.ReadOutputLine();
    ASSERT_EQ(line.rfind("listening on 127.0.0.1:", 0), 0u) << line;
    TcpMotionClient session("127.0.0.1", PortOf(line));
    const auto reading = [&](const char* query) { return session.command(query, "\r", ":", true); };
    EXPECT_EQ(reading("MG _LFZ"), "0.0000");
    EXPECT_EQ(reading("MG _LRZ"), "1.0000");
    EXPECT_EQ(reading("MG _LRY"), "0.0000");
    EXPECT_EQ(reading("MG _LFY"), "1.0000");
    EXPECT_EQ(reading("MG _LFX"), "1.0000");
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.WaitForExit(), 0);
}

TEST(SimProcessTest, SigintStopsItToo) {
    SimProcess sim({"--port", "0"});
    ASSERT_EQ(sim.ReadOutputLine().rfind("listening on ", 0), 0u);
    sim.Signal(SIGINT);
    EXPECT_EQ(sim.WaitForExit(), 0);
}

TEST(SimProcessTest, UnknownFaultIsNamedOnOneLineWithExitCode2) {
    SimProcess sim({"--port", "0", "--fault", "wobble:X"});
    EXPECT_EQ(sim.WaitForExit(), 2);
    const std::string errors = sim.Errors();
    EXPECT_NE(errors.find("'wobble:X'"), std::string::npos) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    EXPECT_EQ(sim.Output(), "");
}

TEST(SimProcessTest, BadOptionsExitWithCode2) {
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"--port", "70000"},
                                               {"--port"},
                                               {"--frobnicate"},
                                               {"--idle-timeout", "0"},
                                               {"--idle-timeout", "1.5"},
                                               {"--idle-timeout", "-3"}}) {
        SimProcess sim(arguments);
        EXPECT_EQ(sim.WaitForExit(), 2) << arguments.front();
    }
}

TEST(SimProcessTest, IdleTimeoutFromTheCommandLineClosesASilentClient) {
    SimProcess sim({"--port", "0", "--idle-timeout", "1"});
    const std::string line = sim.ReadOutputLine();
    ASSERT_EQ(line.rfind("listening on 127.0.0.1:", 0), 0u) << line;
    RawConnection silent(PortOf(line));
    EXPECT_TRUE(silent.ClosedByPeer(std::chrono::milliseconds(10000)));
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.WaitForExit(), 0);
}

TEST(SimProcessTest, HelpListsOptionsFaultsStopCodesAndStatusBits) {
    SimProcess sim({"--help"});
    EXPECT_EQ(sim.WaitForExit(), 0);
    const std::string help = sim.Output();
    for (const char* text :
         {"--bind", "--port", "--fault", "--idle-timeout", "stall:AXIS", "torque:AXIS",
          "limit:AXIS:forward", "cn:1", "delay:MS", "drop:N", "reject:COMMAND", "short-record",
          "silent", "Stop codes", "Status word bits", "5023"}) {
        EXPECT_NE(help.find(text), std::string::npos) << text;
    }
}

}  // namespace
}  // namespace trevane::sim::testing
#endif
