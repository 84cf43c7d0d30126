#include <limits>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "machine/Jog.h"
#include "machine/Procedures.h"
#include "support/LinkFixture.h"

namespace trevane::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr int kUp = +1;
constexpr int kDown = -1;

class JogTest : public ScriptedLinkTest {
  protected:
    void Tick(std::initializer_list<int> axes) {
        for (int axis : axes) {
            window_->SetAxisChecked(axis, true);
        }
    }
    std::vector<std::string> Press(int direction) {
        controller_->ClearExchanges();
        OnJogButtonDown(direction);
        return controller_->Commands();
    }
    std::vector<std::string> Release() {
        controller_->ClearExchanges();
        OnJogButtonUp();
        return controller_->Commands();
    }
};

TEST_F(JogTest, UpAndDownJogTheTickedAxesInOppositeDirectionsAndReleaseStops) {
    Connect();
    Tick({0, 2});
    window_->SetSpeed(-50);
    EXPECT_THAT(Press(kUp), ElementsAre("PT0,0,0,0", "JG-50,0,-50,0", "BG"));
    EXPECT_THAT(Release(), ElementsAre("AB1", "PT1,1,1,1", "SP*=10000"));
    EXPECT_THAT(Press(kDown), ElementsAre("PT0,0,0,0", "JG50,0,50,0", "BG"));
    EXPECT_THAT(Release(), ElementsAre("AB1", "PT1,1,1,1", "SP*=10000"));
}

TEST_F(JogTest, TheFourthAxisNeverJogs) {
    Connect();
    EXPECT_THAT(Press(kUp), ElementsAre("PT0,0,0,0", "JG0,0,0,0", "BG")) << "no box ticked";
    Tick({3});
    EXPECT_THAT(Press(kUp), ElementsAre("PT0,0,0,0", "JG0,0,0,0", "BG")) << "only W ticked";
    Tick({0, 1, 2});
    EXPECT_THAT(Press(kDown), ElementsAre("PT0,0,0,0", "JG50,50,50,0", "BG")) << "all ticked";
}

TEST_F(JogTest, SliderAtZeroStopsInsteadOfJogging) {
    Connect();
    Tick({0});
    window_->SetSpeed(0);
    EXPECT_THAT(Press(kUp), ElementsAre("AB1", "PT1,1,1,1", "SP*=10000"));
    EXPECT_THAT(Press(kDown), ElementsAre("AB1", "PT1,1,1,1", "SP*=10000"));
}

TEST_F(JogTest, SliderBelowZeroSwapsTheDirections) {
    Connect();
    Tick({1});
    window_->SetSpeed(7);
    EXPECT_THAT(Press(kUp), ElementsAre("PT0,0,0,0", "JG0,7,0,0", "BG"));
    EXPECT_THAT(Press(kDown), ElementsAre("PT0,0,0,0", "JG0,-7,0,0", "BG"));
}

TEST_F(JogTest, SliderAtItsTopJogsAtFullSpeed) {
    Connect();
    Tick({0, 1, 2, 3});
    window_->SetSpeed(-10000);
    EXPECT_THAT(Press(kUp), ElementsAre("PT0,0,0,0", "JG-10000,-10000,-10000,0", "BG"));
    EXPECT_THAT(Press(kDown), ElementsAre("PT0,0,0,0", "JG10000,10000,10000,0", "BG"));
}

TEST_F(JogTest, ReleaseStopsEvenWithNoBoxTicked) {
    Connect();
    EXPECT_THAT(Release(), ElementsAre("AB1", "PT1,1,1,1", "SP*=10000"));
}

TEST_F(JogTest, NothingIsSentWithoutAConnectionOrWhileATestRuns) {
    Tick({0});
    EXPECT_THAT(Press(kUp), IsEmpty());
    EXPECT_THAT(Release(), IsEmpty());

    Connect();
    g_testRunning = true;
    EXPECT_THAT(Press(kUp), IsEmpty());
    EXPECT_THAT(Release(), IsEmpty());
    EXPECT_THAT(window_->Transcript(), IsEmpty());
}

TEST_F(JogTest, AFailedCommandDoesNotKeepTheRestOfTheStopFromBeingSent) {
    Connect();
    controller_->FailCommands(true);
    EXPECT_THAT(Release(), ElementsAre("AB1", "PT1,1,1,1", "SP*=10000"));
    EXPECT_EQ(CountErrorLines(window_->Transcript()), 3);
}

TEST_F(JogTest, ExtremeSliderPositionsDoNotOverflow) {
    Connect();
    Tick({0});
    window_->SetSpeed(std::numeric_limits<int>::min());
    EXPECT_THAT(Press(kDown), ElementsAre("PT0,0,0,0", "JG2147483647,0,0,0", "BG"));
}

class JogOnTheMachineTest : public SimulatedLinkTest {};

TEST_F(JogOnTheMachineTest, HoldingUpMovesOnlyTheTickedAxesAndReleasingStopsThem) {
    Connect();
    EnableMachine();
    PrepareMotion();
    window_->SetAxisChecked(0, true);
    window_->SetAxisChecked(2, true);
    window_->SetAxisChecked(3, true);
    window_->SetSpeed(-500);

    OnJogButtonDown(kUp);
    Advance(std::chrono::seconds(1));
    EXPECT_LT(machine_->ReadAxis(0).velocity, 0);
    EXPECT_LT(machine_->ReadAxis(2).motorPosition, -100);
    EXPECT_EQ(machine_->ReadAxis(1).motorPosition, 0);
    EXPECT_EQ(machine_->ReadAxis(3).motorPosition, 0) << "W must never jog";

    OnJogButtonUp();
    Advance(std::chrono::seconds(1));
    for (int axis = 0; axis < 4; ++axis) {
        EXPECT_EQ(machine_->ReadAxis(axis).velocity, 0) << "axis " << axis;
        EXPECT_FALSE(machine_->ReadAxis(axis).moving) << "axis " << axis;
    }
    EXPECT_THAT(window_->Transcript(), IsEmpty());
}

}  // namespace
}  // namespace trevane::testing
