#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "AutotestHarness.h"
#include "autotest/TestRecorder.h"
#include "autotest/TestRunner.h"
#include "link/ControllerLink.h"
#include "net/TcpMotionClient.h"
#include "report/TestVerdict.h"
#include "sim/Simulator.h"
#include "support/StrayRelay.h"

namespace trevane::autotest_testing {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

// The whole test over TCP in virtual time, through a relay that adds stray replies: a reply the
// test cannot place is never a reading, never a pass and never a reason to act on the machine.
class OutOfStepRun : public AutotestFixture {
  protected:
    void SetUp() override {
        AutotestFixture::SetUp();
        DropController();
        machine_ = std::make_shared<sim::Machine>(clock_);
        server_.emplace(machine_, "127.0.0.1", 0);
    }

    void RunThrough(testing::StrayPlan plan) {
        relay_.emplace(server_->Port(), std::move(plan));
        SetSessionFactory(MakeTcpSessionFactory(relay_->Port()));
        window_->SetAddress("127.0.0.1");
        OnConnect();
        ASSERT_TRUE(Connected());
        RunWholeTest();
        verdict_ = LastTestVerdict();
        ASSERT_TRUE(verdict_.has_value());
    }

    const AxisVerdict& Axis(char axis) const { return verdict_->axes.at(axis - 'X'); }

    std::shared_ptr<sim::Machine> machine_;
    std::optional<sim::Server> server_;
    std::optional<testing::StrayRelay> relay_;
    std::optional<TestVerdict> verdict_;
};

// A position error's reply ahead of a torque reading: read as torque it would abort X.
TEST_F(OutOfStepRun, AnotherReadingAheadOfATorqueReplyAbortsNothing) {
    RunThrough(testing::InjectBefore("TTX", " 140\r\n:", 3));
    EXPECT_THAT(Entries(), Not(Contains(HasSubstr("aborted due to torque"))));
    EXPECT_EQ(Axis('X').kind, AxisVerdict::Kind::Unverified);
    EXPECT_THAT(Axis('X').Text(), HasSubstr("3 replies out of step"));
    EXPECT_EQ(Axis('Y').kind, AxisVerdict::Kind::Passed);
    EXPECT_EQ(verdict_->kind, TestVerdict::Kind::Unverified);
    EXPECT_TRUE(LastTestCompleted());
}

// A repeated error reply after every "TE": no axis can be shown to pass, yet the moves run and
// the machine ends as a clean test leaves it.
TEST_F(OutOfStepRun, RepeatedErrorRepliesLeaveEveryAxisUnverifiedAndTheMachineAtZero) {
    RunThrough(testing::CopyAfter("TE"));
    for (char axis : {'X', 'Y', 'Z'}) {
        EXPECT_EQ(Axis(axis).kind, AxisVerdict::Kind::Unverified) << axis;
    }
    EXPECT_EQ(verdict_->kind, TestVerdict::Kind::Unverified);
    EXPECT_THAT(window_->Transcript(), Not(HasSubstr("passed")));
    for (int axis = 0; axis < 3; ++axis) {
        EXPECT_NEAR(static_cast<double>(machine_->ReadAxis(axis).motorPosition), 0.0, 50.0);
    }
}

// A stray "on" ahead of a switch reading: the test must not rewire the switches on it.
TEST_F(OutOfStepRun, AStrayAheadOfASwitchReadingSwapsNoCn) {
    const int cn = machine_->Cn();
    // The checks read the switch first, then the move back relies on it.
    RunThrough(testing::InjectBefore("MG _LFX", " 0.0000\r\n:", 2));
    EXPECT_THAT(Entries(), Not(Contains(HasSubstr("Limit was on"))));
    EXPECT_THAT(machine_->ReceivedCommands(), Not(Contains("CN1")));
    EXPECT_EQ(machine_->Cn(), cn);
    EXPECT_EQ(Axis('X').kind, AxisVerdict::Kind::Unverified);
    EXPECT_NEAR(static_cast<double>(machine_->ReadAxis(0).motorPosition), 0.0, 50.0);
}

// The saved CN read out of step: the closing sequence restores nothing from it.
TEST_F(OutOfStepRun, ACnReadOutOfStepIsNeverRestored) {
    RunThrough(testing::InjectBefore("MG _CN", " -1.0000\r\n:"));
    EXPECT_THAT(Entries(), Not(Contains(HasSubstr("Restoring CN"))));
    EXPECT_EQ(verdict_->kind, TestVerdict::Kind::Unverified);
    EXPECT_THAT(VerdictLine(*verdict_), HasSubstr("1 reply of the checks came out of step"));
}

}  // namespace
}  // namespace trevane::autotest_testing
