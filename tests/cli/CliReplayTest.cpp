#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/ScratchFolder.h"

// A site's trace, recorded by trevane-cli --trace, replayed by trevane-sim to trevane-cli.
namespace trevane {
namespace {

using testing::ChildProcess;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::ProgramRun;
using testing::RunProgram;

// trevane-sim with `arguments` on a free loopback port.
class ServedSim {
  public:
    explicit ServedSim(std::vector<std::string> arguments)
        : sim_(TREVANE_SIM_PATH, With(arguments)) {
        EXPECT_TRUE(sim_.WaitForOutput("listening on 127.0.0.1:", std::chrono::seconds(10)))
            << sim_.Errors();
        EXPECT_TRUE(sim_.WaitForOutput("\n", std::chrono::seconds(10)));
        const std::string out = sim_.Output();
        port_ = std::stoi(out.substr(out.rfind(':') + 1));
    }
    ~ServedSim() {
        sim_.Signal(SIGTERM);
        sim_.WaitForExit();
    }

    std::string Port() const { return std::to_string(port_); }

  private:
    static std::vector<std::string> With(std::vector<std::string> arguments) {
        arguments.insert(arguments.end(), {"--port", "0"});
        return arguments;
    }

    ChildProcess sim_;
    int port_ = 0;
};

// The port out of a message, so that the site's and the replay's compare.
std::string WithoutPort(const std::string& text) {
    return std::regex_replace(text, std::regex("127\\.0\\.0\\.1:[0-9]+"), "127.0.0.1:PORT");
}

// The site's controller closed the connection under TPY. The replay closes it there too, so
// the technician reads what the site read, not a hint to raise --timeout.
TEST(CliReplayTest, ALinkTheSitesControllerClosedReadsAsItDidAtTheSite) {
    testing::ScratchFolder folder("trevane-cli-replay");
    const std::string trace = (folder.Path() / "site.txt").string();
    const std::vector<std::string> send = {"send", "TPX", "TPY", "TPZ"};
    ProgramRun site;
    {
        // Its fourth request after the greeting and the identity: TPY.
        ServedSim sim({"--fault", "cut:4"});
        std::vector<std::string> arguments = {"--address", "127.0.0.1", "--port",
                                              sim.Port(),  "--trace",   trace};
        arguments.insert(arguments.end(), send.begin(), send.end());
        site = RunProgram(TREVANE_CLI_PATH, arguments);
    }
    ASSERT_THAT(site.err, HasSubstr("TPY failed: connection to 127.0.0.1:"));
    ASSERT_THAT(site.err, HasSubstr("closed the connection"));

    ServedSim replay({"--replay", trace});
    std::vector<std::string> arguments = {"--address", "127.0.0.1", "--port", replay.Port()};
    arguments.insert(arguments.end(), send.begin(), send.end());
    const ProgramRun replayed = RunProgram(TREVANE_CLI_PATH, arguments);
    EXPECT_THAT(replayed.err, Not(HasSubstr("--timeout")));
    EXPECT_EQ(WithoutPort(replayed.err), WithoutPort(site.err));
    EXPECT_EQ(replayed.out, site.out);
    EXPECT_EQ(replayed.exitCode, site.exitCode);
}

}  // namespace
}  // namespace trevane
