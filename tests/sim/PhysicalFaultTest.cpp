#include <array>
#include <cmath>
#include <vector>

#include "sim/SimFixture.h"

// The faults of an axis's mechanics, encoder and tuning against the physics they stand for. The
// faulty X moves beside a clean Y on the same machine, so the difference is the fault's.
namespace trevane::sim::testing {
namespace {

using std::chrono::milliseconds;

constexpr int X = 0, Y = 1, Z = 2;

class PhysicalFaultTest : public SimFixture {
  protected:
    void MoveBoth(int target) {
        Send("PAX=" + std::to_string(target));
        Send("PAY=" + std::to_string(target));
    }
    // X's and Y's states, one a millisecond, for `ms` milliseconds.
    std::array<std::vector<AxisState>, 2> Sample(int ms) {
        std::array<std::vector<AxisState>, 2> samples;
        for (int i = 0; i < ms; ++i, Advance(milliseconds(1))) {
            samples[X].push_back(machine->ReadAxis(X));
            samples[Y].push_back(machine->ReadAxis(Y));
        }
        return samples;
    }
    // X's and Y's states in mid-move, at constant speed; both have arrived on return.
    std::pair<AxisState, AxisState> CruiseBoth(int target) {
        MoveBoth(target);
        Advance(milliseconds(500));
        const auto states = std::make_pair(machine->ReadAxis(X), machine->ReadAxis(Y));
        Advance(milliseconds(3000));
        return states;
    }
};

template <typename Value>
int SignChanges(const std::vector<AxisState>& states, Value AxisState::*field) {
    int changes = 0;
    double last = 0;
    for (const AxisState& state : states) {
        const auto value = static_cast<double>(state.*field);
        changes += value * last < 0 ? 1 : 0;
        last = value != 0 ? value : last;
    }
    return changes;
}

TEST_F(PhysicalFaultTest, FrictionIsLargerWhileMovingAndAlikeBothWays) {
    machine->AddFault(ParseFault("friction:X:2"));
    PrepareLikeTheTest();
    EXPECT_EQ(machine->ReadAxis(X).torque, 0);
    const auto [out, cleanOut] = CruiseBoth(-20000);
    const auto [back, cleanBack] = CruiseBoth(0);
    EXPECT_NEAR(out.torque, 2 * cleanOut.torque, 0.02);
    EXPECT_LT(out.positionError, cleanOut.positionError - 20);
    EXPECT_NEAR(back.torque, -out.torque, 0.001);
    EXPECT_EQ(back.positionError, -out.positionError);
}

TEST_F(PhysicalFaultTest, GravityPullsOneWayAndIsHeldAtRest) {
    machine->AddFault(ParseFault("gravity:X:1.2"));
    machine->AddFault(ParseFault("gravity:Z:-1.2"));
    PrepareLikeTheTest();
    Advance(milliseconds(500));
    EXPECT_NEAR(machine->ReadAxis(X).torque, 1.2, 0.001);
    EXPECT_GT(machine->ReadAxis(X).positionError, 30);  // sags below its reference
    EXPECT_NEAR(machine->ReadAxis(Z).torque, -1.2, 0.001);
    EXPECT_LT(machine->ReadAxis(Z).positionError, -30);
    for (const int target : {-20000, 0}) {
        const auto [faulty, clean] = CruiseBoth(target);
        EXPECT_NEAR(faulty.torque - clean.torque, 1.2, 0.01) << target;
    }
}

TEST_F(PhysicalFaultTest, BindingIsAtTheSamePlaceBothWaysAndNowhereElse) {
    machine->AddFault(ParseFault("bind:X:-12000:-8000"));
    PrepareLikeTheTest();
    for (const int target : {-20000, 0}) {
        MoveBoth(target);
        int inside = 0, outside = 0;
        const auto [faulty, clean] = Sample(2500);
        for (std::size_t i = 0; i < faulty.size(); ++i) {
            const double fromMiddle =
                std::abs(static_cast<double>(faulty[i].motorPosition) + 10000);
            const bool inRange = fromMiddle < 1500;
            if (std::abs(faulty[i].velocity) < 9990 || (!inRange && fromMiddle < 2500)) {
                continue;  // speeding up, slowing down, or near the edges of the range
            }
            const double extra = std::abs(faulty[i].torque) - std::abs(clean[i].torque);
            EXPECT_NEAR(extra, inRange ? 1.0 : 0.0, 0.01) << faulty[i].motorPosition;
            ++(inRange ? inside : outside);
        }
        EXPECT_GT(inside, 200) << target;
        EXPECT_GT(outside, 50) << target;
    }
}

// Power-on finds the motor pressing forward, so the first move out is a reversal.
TEST_F(PhysicalFaultTest, BacklashShowsAtReversalsOnly) {
    machine->AddFault(ParseFault("backlash:X:60"));
    PrepareLikeTheTest();
    for (const auto& [target, reverses] : {std::pair{-5000, true}, {-10000, false}, {0, true}}) {
        MoveBoth(target);
        double largestDifference = 0;
        const auto [faulty, clean] = Sample(1500);
        for (std::size_t i = 0; i < faulty.size(); ++i) {
            largestDifference =
                std::max(largestDifference, std::abs(faulty[i].torque - clean[i].torque));
            ASSERT_TRUE(reverses || faulty[i].positionError == clean[i].positionError) << target;
        }
        // Free of the load while it crosses the play, then the blow as it takes the load up.
        EXPECT_EQ(largestDifference > 0.5, reverses) << target << ": " << largestDifference;
        EXPECT_EQ(Send("TPX"), std::to_string(target));
    }
}

TEST_F(PhysicalFaultTest, EncoderNoiseShowsAtRestAndRepeatsRunAfterRun) {
    machine->AddFault(ParseFault("noise:X:3"));
    PrepareLikeTheTest();
    auto otherClock = std::make_shared<VirtualClock>();
    auto other = std::make_shared<Machine>(otherClock);
    other->AddFault(ParseFault("noise:X:3"));
    MakeInProcessClient(other)->command("SH", "\r", ":", true);
    otherClock->Advance(clock->Elapsed());
    const auto [faulty, clean] = Sample(200);
    for (std::size_t i = 0; i < faulty.size(); ++i, otherClock->Advance(milliseconds(1))) {
        EXPECT_LE(std::abs(faulty[i].motorPosition), 3);
        EXPECT_EQ(faulty[i].positionError, -faulty[i].motorPosition);
        EXPECT_EQ(clean[i].motorPosition, 0);
        EXPECT_EQ(other->ReadAxis(X).motorPosition, faulty[i].motorPosition);
    }
    EXPECT_GT(SignChanges(faulty, &AxisState::motorPosition), 20);
}

TEST_F(PhysicalFaultTest, LowGainLagsMoreTheFasterItMoves) {
    machine->AddFault(ParseFault("gain:X:0.5"));
    PrepareLikeTheTest();
    Send("SP*=5000");
    const auto [slow, cleanSlow] = CruiseBoth(-10000);
    Send("SP*=20000");
    const auto [fast, cleanFast] = CruiseBoth(0);
    EXPECT_GT(std::abs(slow.positionError), 2 * std::abs(cleanSlow.positionError));
    EXPECT_GT(std::abs(fast.positionError), 3 * std::abs(slow.positionError));
    EXPECT_GT(std::abs(fast.positionError), 2 * std::abs(cleanFast.positionError));
}

TEST_F(PhysicalFaultTest, HighGainRingsAfterAStopAndSettles) {
    machine->AddFault(ParseFault("gain:X:4"));
    PrepareLikeTheTest();
    MoveBoth(-5000);
    Advance(milliseconds(500));  // just before the reference stops
    const auto [faulty, clean] = Sample(300);
    EXPECT_GE(SignChanges(faulty, &AxisState::positionError), 3);
    EXPECT_GE(SignChanges(faulty, &AxisState::torque), 3);
    EXPECT_EQ(SignChanges(clean, &AxisState::positionError), 0);
    EXPECT_EQ(faulty.back().positionError, 0);
    EXPECT_EQ(faulty.back().velocity, 0);
}

TEST_F(PhysicalFaultTest, FaultsCombineOnOneAxisAndWithTheOlderOnes) {
    for (const char* fault : {"friction:X:2", "gravity:X:1", "gravity:Z:0.5", "load:Z:2"}) {
        machine->AddFault(ParseFault(fault));
    }
    PrepareLikeTheTest();
    Advance(milliseconds(2000));  // friction slows the sag
    EXPECT_NEAR(machine->ReadAxis(X).torque, 1.0, 0.001);
    EXPECT_NEAR(machine->ReadAxis(Z).torque, 1.0, 0.001);
    for (const int target : {-20000, 0}) {
        const auto [faulty, clean] = CruiseBoth(target);
        EXPECT_NEAR(faulty.torque, 2 * clean.torque + 1.0, 0.02) << target;
    }
}

// The other axes of a machine with faults read exactly what a clean machine's do.
TEST_F(PhysicalFaultTest, AxesWithoutThemMoveExactlyAsOnACleanMachine) {
    auto cleanClock = std::make_shared<VirtualClock>();
    auto clean = std::make_shared<Machine>(cleanClock);
    auto cleanClient = MakeInProcessClient(clean);
    for (const char* fault : {"friction:W:3", "gravity:W:1", "backlash:W:30", "noise:W:2",
                              "gain:W:2", "bind:W:-100:100"}) {
        machine->AddFault(ParseFault(fault));
    }
    for (const char* command : {"SH", "PT1,1,1,1", "PA-3000,2000,-1000,4000"}) {
        Send(command);
        cleanClient->command(command, "\r", ":", true);
    }
    for (int i = 0; i < 1000; ++i, Advance(milliseconds(1)), cleanClock->Advance(milliseconds(1))) {
        for (const int axis : {X, Y, Z}) {
            const AxisState a = machine->ReadAxis(axis), b = clean->ReadAxis(axis);
            ASSERT_EQ(a.motorPosition, b.motorPosition) << axis << " at " << i;
            ASSERT_EQ(a.torque, b.torque) << axis << " at " << i;
        }
    }
}

TEST_F(PhysicalFaultTest, EveryFaultAtOnceStillComesToRestAfterAnAbort) {
    for (const char* fault :
         {"friction:X:3", "backlash:X:200", "noise:X:5", "gain:X:10", "bind:X:-3000:-1000"}) {
        machine->AddFault(ParseFault(fault));
    }
    PrepareLikeTheTest();
    Send("PAX=-20000");
    Advance(milliseconds(300));
    Send("AB1");
    Advance(milliseconds(3000));
    const long long resting = machine->ReadAxis(X).referencePosition;
    const auto samples = Sample(700);
    for (const AxisState& state : samples[X]) {
        ASSERT_FALSE(state.moving);
        ASSERT_EQ(state.velocity, 0);
        ASSERT_LE(std::abs(state.motorPosition - resting), 5);  // the encoder's noise alone
    }
}

TEST_F(PhysicalFaultTest, FaultsMadeInCodeAreHeldToTheRangesOfTheirText) {
    Fault gain{};
    gain.kind = Fault::Kind::Gain;
    gain.factor = std::nan("");
    Fault backlash{};
    backlash.kind = Fault::Kind::Backlash;
    backlash.value = -5;
    machine->AddFault(gain);
    machine->AddFault(backlash);
    PrepareLikeTheTest();
    Send("PAX=-2000");
    Advance(milliseconds(8000));
    EXPECT_NEAR(ReadNumber(Send("TPX")), -2000, 2);
}

}  // namespace
}  // namespace trevane::sim::testing
