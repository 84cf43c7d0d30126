#include <ostream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "machine/Procedures.h"
#include "support/LinkFixture.h"

namespace trevane::testing {
namespace {

using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

struct ProcedureCase {
    const char* name;
    void (*procedure)(ControllerLink&);
    void (*handler)(ControllerLink&);
    std::vector<std::string> commands;
};

// Keeps test names free of the case's bytes (function addresses differ from run to run).
void PrintTo(const ProcedureCase& procedureCase, std::ostream* out) {
    *out << procedureCase.name;
}

const std::vector<ProcedureCase>& Cases() {
    static const std::vector<ProcedureCase> cases = {
        {"EnableMachine",
         EnableMachine,
         OnTurnOn,
         {"SB7", "TL*=5.0", "BL-214783648,-214783648,-214783648;",
          "FL214783647,214783647,214783647;", "AB1", "CB1", "CB2", "CB3", "CB4", "MO", "HX"}},
        {"DisableMachine",
         DisableMachine,
         OnTurnOff,
         {"AB1", "CB1", "CB2", "CB3", "CB4", "MO", "CB7"}},
        {"PrepareMotion",
         PrepareMotion,
         OnPrepareMotion,
         {"TL*=5.0", "AB1", "SH", "DC*=2000000", "AC*=300000", "SP*=10000",
          "BL-214783648,-214783648,-214783648", "FL214783647,214783647,214783647", "PT1,1,1", "SB1",
          "SB2", "SB3"}},
        {"ExitMotion", ExitMotion, OnExitMotion, {"AB1", "CB1", "CB2", "CB3", "CB4", "MO"}},
        {"SetZero", SetZero, OnSetZero, {"DP0,0,0,0"}},
    };
    return cases;
}

class ProceduresOnTheMachineTest : public SimulatedLinkTest,
                                   public ::testing::WithParamInterface<ProcedureCase> {};

TEST_P(ProceduresOnTheMachineTest, SendsItsSequenceWhichTheMachineAcceptsAndShowsNothing) {
    Connect();
    GetParam().procedure(Link());
    EXPECT_THAT(machine_->ReceivedCommands(), ElementsAreArray(GetParam().commands));
    EXPECT_THAT(window_->Transcript(), IsEmpty());
    EXPECT_THAT(window_->Messages(), IsEmpty());
}

class ProceduresTest : public ScriptedLinkTest,
                       public ::testing::WithParamInterface<ProcedureCase> {};

TEST_P(ProceduresTest, GoesOnPastEveryFailedCommandWithOneErrorLineEach) {
    Connect();
    controller_->FailCommands(true);
    GetParam().procedure(Link());
    const auto& expected = GetParam().commands;
    EXPECT_THAT(controller_->Commands(), ElementsAreArray(expected));
    EXPECT_EQ(CountErrorLines(window_->Transcript()), static_cast<int>(expected.size()));
    EXPECT_EQ(window_->Transcript().size(),
              expected.size() * (std::string(kCommandErrorText).size() + 2));
}

TEST_P(ProceduresTest, SendsNothingWithoutTheConnectedFlagAndTheButtonNothingWhileATestRuns) {
    GetParam().procedure(Link());
    GetParam().handler(Link());
    EXPECT_THAT(window_->Transcript(), IsEmpty()) << "before any Connect";
    // A Connect that failed after opening its sessions leaves them open but the flag clear.
    controller_->FailConnection();
    OnConnect();
    ASSERT_FALSE(Connected());
    ASSERT_TRUE(Link().CommandSession());
    controller_->ClearExchanges();
    GetParam().procedure(Link());
    EXPECT_THAT(controller_->Commands(), IsEmpty());

    const SessionFactory sessions = controller_->Factory();
    Link().Attach(sessions("127.0.0.1"), sessions("127.0.0.1"), "127.0.0.1");
    ASSERT_TRUE(Connected());
    TestState().running = true;
    GetParam().handler(Link());
    EXPECT_THAT(controller_->Commands(), IsEmpty());
    TestState().running = false;
    GetParam().handler(Link());
    EXPECT_THAT(controller_->Commands(), ElementsAreArray(GetParam().commands));
    EXPECT_THAT(window_->Transcript(), IsEmpty());
}

std::string CaseName(const ::testing::TestParamInfo<ProcedureCase>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(AllFive, ProceduresOnTheMachineTest, ::testing::ValuesIn(Cases()),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(AllFive, ProceduresTest, ::testing::ValuesIn(Cases()), CaseName);

}  // namespace
}  // namespace trevane::testing
