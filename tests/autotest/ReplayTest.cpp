#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AutotestHarness.h"
#include "autotest/TestLog.h"
#include "autotest/TestRunner.h"
#include "common/TraceFormat.h"
#include "link/ControllerLink.h"
#include "report/TestVerdict.h"
#include "sim/Replay.h"
#include "sim/Simulator.h"
#include "traffic/TraceWriter.h"
#include "traffic/TrafficRecorder.h"

// A test recorded against the simulated machine, then run again against its trace alone.
namespace trevane::autotest_testing {
namespace {

class ReplayedTest : public AutotestFixture {
  protected:
    void SetUp() override {
        AutotestFixture::SetUp();
        DropController();
    }

    // Connects through `factory`, runs the whole test and returns its log.
    std::string RunOn(SessionFactory factory) {
        SetSessionFactory(std::move(factory));
        window_->SetAddress("127.0.0.1");
        OnConnect();
        EXPECT_TRUE(Connected());
        MakeLogFileName();
        RunWholeTest();
        CloseLink();
        return LogBytes();
    }

    std::shared_ptr<sim::Replay> LoadReplay(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::make_shared<sim::Replay>(ReadTrace(in), clock_);
    }
};

TEST_F(ReplayedTest, AStalledAxisReplaysToTheSameLogAndVerdict) {
    auto machine = std::make_shared<sim::Machine>(clock_);
    machine->AddFault(sim::ParseFault("stall:Y"));
    TraceWriter trace(Traffic());
    ASSERT_FALSE(trace.Start("trace.txt"));
    const std::string original = RunOn(sim::InProcessSessionFactory(machine));
    ASSERT_FALSE(trace.Stop());
    ASSERT_TRUE(LastTestVerdict());
    const std::string originalVerdict = VerdictLine(*LastTestVerdict());
    ASSERT_NE(originalVerdict.find("Y aborted"), std::string::npos) << originalVerdict;

    const std::shared_ptr<sim::Replay> replay = LoadReplay("trace.txt");
    const std::string replayed = RunOn(sim::InProcessSessionFactory(replay));
    const std::vector<std::string> expected = SplitLogEntries(original);
    const std::vector<std::string> got = SplitLogEntries(replayed);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i], expected[i]) << "entry " << i;
    }
    ASSERT_TRUE(LastTestVerdict());
    EXPECT_EQ(VerdictLine(*LastTestVerdict()), originalVerdict);
    const sim::ReplayCounts counts = replay->Counts();
    EXPECT_GT(counts.matched, 100u);
    EXPECT_EQ(counts.unknown, 0u) << ::testing::PrintToString(replay->UnknownRequests());
    EXPECT_EQ(counts.repeated, 0u);
}

// The site's controller closed the connection under the test: the replay closes it where the
// trace says, so the test ends as it did there and the failure reads as the site's, not as a
// reply too slow for the timeout.
TEST_F(ReplayedTest, ALinkTheSitesControllerClosedIsLostTheSameWayInTheReplay) {
    auto machine = std::make_shared<sim::Machine>(clock_);
    machine->AddFault(sim::ParseFault("cut:100"));
    TraceWriter trace(Traffic());
    ASSERT_FALSE(trace.Start("trace.txt"));
    RunOn(sim::InProcessSessionFactory(machine));
    ASSERT_FALSE(trace.Stop());
    ASSERT_TRUE(LastTestVerdict());
    const std::string originalVerdict = VerdictLine(*LastTestVerdict());
    ASSERT_NE(originalVerdict.find("link lost"), std::string::npos) << originalVerdict;
    const std::optional<TrafficEntry> originalFailure = Traffic().LastFailure();
    ASSERT_TRUE(originalFailure);
    ASSERT_NE(originalFailure->reason.find("closed the connection"), std::string::npos)
        << originalFailure->reason;
    Traffic().Clear();

    RunOn(sim::InProcessSessionFactory(LoadReplay("trace.txt")));
    ASSERT_TRUE(LastTestVerdict());
    EXPECT_EQ(VerdictLine(*LastTestVerdict()), originalVerdict);
    const std::optional<TrafficEntry> replayedFailure = Traffic().LastFailure();
    ASSERT_TRUE(replayedFailure);
    EXPECT_EQ(replayedFailure->reason, originalFailure->reason);
}

}  // namespace
}  // namespace trevane::autotest_testing
