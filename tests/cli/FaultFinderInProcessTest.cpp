#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "InProcessCli.h"
#include "sim/Simulator.h"
#include "support/JsonValue.h"
#include "support/ScratchFolder.h"

// The fault finder's whole chain: a physical fault of the simulator, the automatic test on the
// virtual clock, and the cause named in the verdict line, JSON and the report.
namespace trevane {
namespace {

using ::testing::HasSubstr;

struct FaultCase {
    const char* fault;
    const char* cause;
    const char* headline;
};

class FaultFinderInProcess : public ::testing::TestWithParam<FaultCase> {
  protected:
    testing::ScopedWorkingFolder scratch_{"trevane-finder"};
    testing::InProcessCli cli_;
};

TEST_P(FaultFinderInProcess, NamesTheCauseWithItsEvidenceEverywhere) {
    const FaultCase& c = GetParam();
    cli_.AddController(5023)->AddFault(sim::ParseFault(c.fault));
    const testing::CliRun run = cli_.Run("--json --address 127.0.0.1 --port 5023 autotest --report");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const testing::JsonValue verdict = testing::ParseJsonLines(run.out).back();
    EXPECT_THAT(verdict["verdict_line"].text, HasSubstr(std::string(" ") + c.headline + "."));
    const std::vector<testing::JsonValue>& findings = verdict["findings"].items;
    ASSERT_EQ(findings.size(), 1u) << run.out;
    EXPECT_EQ(findings[0]["axis"].text, "Y");
    EXPECT_EQ(findings[0]["cause"].text, c.cause);
    EXPECT_EQ(findings[0]["text"].text, c.headline);
    EXPECT_FALSE(findings[0]["evidence"].text.empty());
    EXPECT_FALSE(findings[0]["check"].text.empty());
    const std::string html = testing::ReadFile(std::filesystem::current_path() / verdict["report"].text);
    EXPECT_NE(html.find("<h1 class=\"headline warning\">PASSED WITH WARNINGS: "), std::string::npos);
    EXPECT_NE(html.find("<h2>Findings</h2>\n<ul class=\"findings\">\n<li><b>" +
                        std::string(c.headline) + "</b>: "),
              std::string::npos);
    // A binding is shaded where it was, on both of Y's moves; nothing else is placed in time.
    const std::ptrdiff_t shaded = [&] {
        std::ptrdiff_t count = 0;
        for (std::size_t at = html.find("<rect class=\"finding\""); at != std::string::npos;
             at = html.find("<rect class=\"finding\"", at + 1)) {
            ++count;
        }
        return count;
    }();
    EXPECT_EQ(shaded, std::string(c.cause) == "bind" ? 2 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    PhysicalFaults, FaultFinderInProcess,
    ::testing::Values(FaultCase{"friction:Y:2", "friction", "Y: likely friction"},
                      FaultCase{"gravity:Y:1", "imbalance", "Y: likely out of balance"},
                      FaultCase{"bind:Y:-12000:-8000", "bind",
                                "Y: likely binding between -12,000 and -8,000 counts"},
                      FaultCase{"backlash:Y:50", "backlash", "Y: likely backlash"},
                      FaultCase{"noise:Y:6", "encoder_noise", "Y: likely encoder noise"},
                      FaultCase{"gain:Y:0.5", "gain_too_low", "Y: likely gain too low"},
                      FaultCase{"gain:Y:3", "gain_too_high", "Y: likely gain too high"}),
    [](const ::testing::TestParamInfo<FaultCase>& info) {
        std::string name = info.param.cause;
        name.erase(std::remove(name.begin(), name.end(), '_'), name.end());
        return name;
    });

TEST(FaultFinderClean, AHealthyMachineGetsNoFindingAndAPlainPass) {
    testing::ScopedWorkingFolder scratch{"trevane-finder"};
    testing::InProcessCli cli;
    cli.AddController(5023);
    const testing::CliRun run = cli.Run("--json --address 127.0.0.1 --port 5023 autotest");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const testing::JsonValue verdict = testing::ParseJsonLines(run.out).back();
    EXPECT_TRUE(verdict["findings"].items.empty()) << run.out;
    EXPECT_EQ(verdict["headline"].text, "PASSED");
    EXPECT_THAT(verdict["verdict_line"].text,
                ::testing::StartsWith("Test result: X passed, Y passed, Z passed. X, Y, Z: no "
                                      "baseline yet."));
}

}  // namespace
}  // namespace trevane
