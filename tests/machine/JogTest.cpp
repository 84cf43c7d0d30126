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
        OnJogButtonDown(Link(), direction);
        return controller_->Commands();
    }
    std::vector<std::string> Release() {
        controller_->ClearExchanges();
        OnJogButtonUp(Link());
        return controller_->Commands();
    }
};

// The JG speeds of a press: the slider's value, negated for Up, on the ticked axes but never W.
struct JogCase {
    std::vector<int> ticked;
    int slider;
    const char* up;
    const char* down;
};

TEST_F(JogTest, APressJogsTheTickedAxesAtTheSlidersSpeedAndTheFourthAxisNever) {
    const JogCase cases[] = {
        {{0, 2}, -50, "JG-50,0,-50,0", "JG50,0,50,0"},
        {{}, -50, "JG0,0,0,0", "JG0,0,0,0"},
        {{3}, -50, "JG0,0,0,0", "JG0,0,0,0"},
        {{0, 1, 2}, -50, "JG-50,-50,-50,0", "JG50,50,50,0"},
        {{1}, 7, "JG0,7,0,0", "JG0,-7,0,0"},  // below zero the directions swap
        {{0, 1, 2, 3}, -10000, "JG-10000,-10000,-10000,0", "JG10000,10000,10000,0"},
        {{0}, std::numeric_limits<int>::min(), "JG-2147483648,0,0,0", "JG2147483647,0,0,0"},
    };
    Connect();
    for (const JogCase& jog : cases) {
        for (int axis = 0; axis < 4; ++axis) {
            window_->SetAxisChecked(axis, false);
        }
        for (int axis : jog.ticked) {
            window_->SetAxisChecked(axis, true);
        }
        window_->SetSpeed(jog.slider);
        EXPECT_THAT(Press(kUp), ElementsAre("PT0,0,0,0", jog.up, "BG")) << jog.slider;
        EXPECT_THAT(Press(kDown), ElementsAre("PT0,0,0,0", jog.down, "BG")) << jog.slider;
        EXPECT_THAT(Release(), ElementsAre("AB1", "PT1,1,1,1", "SP*=10000"));
    }
}

TEST_F(JogTest, SliderAtZeroStopsInsteadOfJogging) {
    Connect();
    Tick({0});
    window_->SetSpeed(0);
    EXPECT_THAT(Press(kUp), ElementsAre("AB1", "PT1,1,1,1", "SP*=10000"));
    EXPECT_THAT(Press(kDown), ElementsAre("AB1", "PT1,1,1,1", "SP*=10000"));
}

TEST_F(JogTest, NothingIsSentWithoutAConnectionOrWhileATestRuns) {
    Tick({0});
    EXPECT_THAT(Press(kUp), IsEmpty());
    EXPECT_THAT(Release(), IsEmpty());

    Connect();
    TestState().running = true;
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

class JogOnTheMachineTest : public SimulatedLinkTest {};

TEST_F(JogOnTheMachineTest, HoldingUpMovesOnlyTheTickedAxesAndReleasingStopsThem) {
    Connect();
    EnableMachine(Link());
    PrepareMotion(Link());
    window_->SetAxisChecked(0, true);
    window_->SetAxisChecked(2, true);
    window_->SetAxisChecked(3, true);
    window_->SetSpeed(-500);

    OnJogButtonDown(Link(), kUp);
    Advance(std::chrono::seconds(1));
    EXPECT_LT(machine_->ReadAxis(0).velocity, 0);
    EXPECT_LT(machine_->ReadAxis(2).motorPosition, -100);
    EXPECT_EQ(machine_->ReadAxis(1).motorPosition, 0);
    EXPECT_EQ(machine_->ReadAxis(3).motorPosition, 0) << "W must never jog";

    OnJogButtonUp(Link());
    Advance(std::chrono::seconds(1));
    for (int axis = 0; axis < 4; ++axis) {
        EXPECT_EQ(machine_->ReadAxis(axis).velocity, 0) << "axis " << axis;
        EXPECT_FALSE(machine_->ReadAxis(axis).moving) << "axis " << axis;
    }
    EXPECT_THAT(window_->Transcript(), IsEmpty());
}

}  // namespace
}  // namespace trevane::testing
