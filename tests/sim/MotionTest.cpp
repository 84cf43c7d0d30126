#include <cmath>

#include "sim/SimFixture.h"

// The machine model against what the automatic test, the jog and the status table rely on.
namespace trevane::sim::testing {
namespace {

using std::chrono::milliseconds;

class MotionTest : public SimFixture {};

TEST_F(MotionTest, PowerOnStateIsMotorsOffAtZeroWithPlausibleSettings) {
    for (int axis = 0; axis < 4; ++axis) {
        const AxisState state = machine->ReadAxis(axis);
        EXPECT_TRUE(state.motorOff);
        EXPECT_FALSE(state.moving);
        EXPECT_EQ(state.motorPosition, 0);
        EXPECT_EQ(state.torque, 0);
    }
    EXPECT_EQ(Send("MG _CN"), "-1.0000");
    EXPECT_EQ(Send("SP*=?"), "25000, 25000, 25000, 25000");
    EXPECT_EQ(Send("AC*=?"), "256000, 256000, 256000, 256000");
    EXPECT_EQ(Send("KP*=?"), "6.0000, 6.0000, 6.0000, 6.0000");
    EXPECT_EQ(Send("KD*=?"), "64.0000, 64.0000, 64.0000, 64.0000");
    for (int output = 1; output <= 16; ++output) {
        EXPECT_FALSE(machine->Output(output));
    }
}

TEST_F(MotionTest, HealthyAxisMovesCleanlyAtTheTestsSettingsThereAndBack) {
    PrepareLikeTheTest();
    for (const std::string axis : {"X", "Y", "Z"}) {
        for (const int target : {-20000, 0}) {
            SCOPED_TRACE(axis + " to " + std::to_string(target));
            Send("PT" + axis + "=1");
            Send("PA" + axis + "=" + std::to_string(target));
            const Watch watch = WatchMove(axis);
            // Well inside the test's thresholds, yet clearly a loaded axis.
            EXPECT_LT(watch.maxError, 300);
            EXPECT_GT(watch.maxError, 50);
            EXPECT_LT(watch.maxTorque, 2.5);
            EXPECT_GT(watch.maxTorque, 0.5);
            Advance(milliseconds(200));  // 2.2 s after the start
            EXPECT_EQ(Send("TP" + axis), std::to_string(target));
            EXPECT_EQ(Send("TE" + axis), "0");
            EXPECT_FALSE(machine->ReadAxis(axis == "X" ? 0 : axis == "Y" ? 1 : 2).moving);
        }
    }
}

TEST_F(MotionTest, ErrorAndTorqueGrowWithSpeed) {
    PrepareLikeTheTest();
    Send("PAX=-20000");
    Advance(milliseconds(500));
    const double slowError = std::abs(ReadNumber(Send("TEX")));
    const double slowTorque = std::abs(ReadNumber(Send("TTX")));
    Send("SP*=40000");
    Advance(milliseconds(100));
    EXPECT_GT(std::abs(ReadNumber(Send("TEX"))), 3 * slowError);
    EXPECT_GT(std::abs(ReadNumber(Send("TTX"))), slowTorque);
}

TEST_F(MotionTest, StalledAxisExceedsTheErrorLimitWithinTheWatch) {
    machine->AddFault(ParseFault("stall:Y"));
    PrepareLikeTheTest();
    Send("PAY=-20000");
    const Watch watch = WatchMove("Y", 50);
    ASSERT_GE(watch.firstErrorAbove, 0);
    EXPECT_LT(watch.firstErrorAbove, 20);
    EXPECT_LE(watch.maxTorque, 3.1);  // a stall is an error fault, not a torque fault
    // The test's reaction, "AB1" and "MOY", switches the axis off, but the stalled drive keeps
    // its following error latched until it is servoed again.
    Send("AB1");
    Send("MOY");
    EXPECT_GT(std::abs(ReadNumber(Send("TEY"))), 700);
    EXPECT_TRUE(machine->ReadAxis(1).motorOff);
    Send("SH");
    EXPECT_EQ(Send("TEY"), "0");
    // Other axes are unaffected.
    Send("PAX=-20000");
    EXPECT_LT(WatchMove("X").maxError, 300);
}

TEST_F(MotionTest, TorqueFaultExceedsTheTorqueLimitOnlyWhileMoving) {
    machine->AddFault(ParseFault("torque:Z"));
    PrepareLikeTheTest();
    EXPECT_EQ(Send("TTZ"), "0.0000");
    Send("PAZ=-20000");
    const Watch watch = WatchMove("Z", 20);
    EXPECT_EQ(watch.firstTorqueAbove, 0);
    EXPECT_LE(watch.maxTorque, 5.0);  // clamped by "TL*=5.0"
    EXPECT_LE(watch.maxError, 700);
    Send("MOZ");
    EXPECT_EQ(Send("TTZ"), "0.0000");
}

TEST_F(MotionTest, JogMovesAtTheGivenSpeedsAndAbortStopsIt) {
    PrepareLikeTheTest();
    Send("PT0,0,0,0");
    Send("JG-5000,0,5000,0");
    Send("BG");
    Advance(milliseconds(1000));
    const AxisState x = machine->ReadAxis(0);
    EXPECT_TRUE(x.moving);
    EXPECT_NEAR(static_cast<double>(x.velocity), -5000, 5);
    EXPECT_NEAR(static_cast<double>(machine->ReadAxis(2).velocity), 5000, 5);
    EXPECT_FALSE(machine->ReadAxis(1).moving);
    EXPECT_FALSE(machine->ReadAxis(3).moving);

    Send("AB1");
    Advance(milliseconds(100));
    const AxisState stopped = machine->ReadAxis(0);
    EXPECT_FALSE(stopped.moving);
    EXPECT_TRUE(stopped.stopped);
    EXPECT_EQ(stopped.stopCode, kStopAborted);
    EXPECT_NEAR(static_cast<double>(stopped.motorPosition), -5000, 200);
    const long long held = stopped.motorPosition;
    Advance(milliseconds(1000));
    EXPECT_EQ(machine->ReadAxis(0).motorPosition, held);

    // The jog release sequence leaves the axes holding where they stopped.
    Send("PT1,1,1,1");
    Send("SP*=10000");
    Advance(milliseconds(500));
    EXPECT_EQ(machine->ReadAxis(0).motorPosition, held);
}

TEST_F(MotionTest, MotorOffZeroesTorqueAndRefusesMotion) {
    PrepareLikeTheTest();
    Send("PAX=-20000");
    Advance(milliseconds(300));
    Send("MO");
    const AxisState state = machine->ReadAxis(0);
    EXPECT_TRUE(state.motorOff);
    EXPECT_FALSE(state.moving);
    EXPECT_EQ(state.stopCode, kStopMotorOff);
    EXPECT_EQ(state.torque, 0);
    EXPECT_EQ(Send("TEX"), "0");
    EXPECT_THROW(Send("PAX=0"), MotionError);
    EXPECT_EQ(Send("TC1"), "4 Not valid while the motor is off");
    Send("JG100");
    Send("PT0");
    EXPECT_THROW(Send("BGX"), MotionError);
}

TEST_F(MotionTest, ServoHereHoldsThePresentPosition) {
    PrepareLikeTheTest();
    Send("PAX=-5000");
    Advance(milliseconds(2000));
    Send("MO");
    Send("SH");
    Advance(milliseconds(500));
    const AxisState state = machine->ReadAxis(0);
    EXPECT_FALSE(state.motorOff);
    EXPECT_EQ(state.motorPosition, -5000);
    EXPECT_EQ(state.positionError, 0);
}

TEST_F(MotionTest, DefinePositionSetsEveryAxisAndIsRefusedWhileMoving) {
    PrepareLikeTheTest();
    Send("DP100,-200,300,-400");
    EXPECT_EQ(Send("TP"), "100, -200, 300, -400");
    EXPECT_EQ(Send("TE"), "0, 0, 0, 0");
    Send("PAX=0");
    EXPECT_THROW(Send("DP0,0,0,0"), MotionError);
    EXPECT_EQ(Send("TPY"), "-200");  // nothing changed by the refused command
}

TEST_F(MotionTest, LimitReadingsFollowCnAndTheWiring) {
    EXPECT_EQ(Send("MG _LFX"), "1.0000");
    EXPECT_EQ(Send("MG _LRW"), "1.0000");
    Send("CN1");
    EXPECT_EQ(Send("MG _LFX"), "0.0000");  // wrong configuration: every switch reads as on
    EXPECT_TRUE(machine->ReadAxis(0).forwardLimitOn);
    Send("CN-1");
    machine->AddFault(ParseFault("cn:1"));
    EXPECT_EQ(Send("MG _LRY"), "0.0000");
    Send("CN1");
    EXPECT_EQ(Send("MG _LRY"), "1.0000");
}

TEST_F(MotionTest, StuckLimitReadsOnAndBlocksMotionUntilCnIsSwapped) {
    machine->AddFault(ParseFault("limit:X:reverse"));
    PrepareLikeTheTest();
    EXPECT_EQ(Send("MG _LRX"), "0.0000");
    EXPECT_EQ(Send("MG _LFX"), "1.0000");
    Send("PAX=-20000");
    Advance(milliseconds(500));
    EXPECT_EQ(Send("TPX"), "0");
    EXPECT_EQ(machine->ReadAxis(0).stopCode, kStopReverseLimit);
    // What the automatic test does: swap CN, after which the move runs.
    Send("CN1");
    EXPECT_EQ(Send("MG _LRX"), "1.0000");
    Send("PAX=-20000");
    Advance(milliseconds(2500));
    EXPECT_EQ(Send("TPX"), "-20000");
}

// The same move on a loaded axis and on a clean one, one after the other: the load multiplies
// the loaded axis's error and torque and leaves the others as they are.
TEST_F(MotionTest, ALoadMultipliesTheErrorAndTorqueOfItsAxisAlone) {
    machine->AddFault(ParseFault("load:X:2"));
    PrepareLikeTheTest();
    Send("PAX=-20000");
    const Watch loaded = WatchMove("X");
    Send("PAY=-20000");
    const Watch clean = WatchMove("Y");
    Send("PAZ=-20000");
    const Watch other = WatchMove("Z");
    ASSERT_GT(clean.maxError, 0);
    ASSERT_GT(clean.maxTorque, 0);
    EXPECT_NEAR(loaded.maxError / clean.maxError, 2.0, 0.1);
    EXPECT_NEAR(loaded.maxTorque / clean.maxTorque, 2.0, 0.1);
    EXPECT_NEAR(other.maxError, clean.maxError, 0.05 * clean.maxError);
    EXPECT_NEAR(other.maxTorque, clean.maxTorque, 0.05 * clean.maxTorque);
    // It still arrives.
    Advance(milliseconds(500));
    EXPECT_EQ(Send("TPX"), "-20000");
}

// The other switch of another axis: the move out runs, the move back to 0 is stopped by the
// stuck switch until CN is swapped, as the automatic test does before it.
TEST_F(MotionTest, AStuckForwardSwitchStopsTheMoveBackUntilCnIsSwapped) {
    machine->AddFault(ParseFault("limit:Z:forward"));
    PrepareLikeTheTest();
    EXPECT_EQ(Send("MG _LFZ"), "0.0000");
    EXPECT_EQ(Send("MG _LRZ"), "1.0000");
    EXPECT_EQ(Send("MG _LFX"), "1.0000");
    EXPECT_TRUE(machine->ReadAxis(2).forwardLimitOn);
    EXPECT_FALSE(machine->ReadAxis(2).reverseLimitOn);
    Send("PAZ=-5000");
    Advance(milliseconds(2000));
    ASSERT_EQ(Send("TPZ"), "-5000");
    Send("PAZ=0");
    Advance(milliseconds(2000));
    EXPECT_EQ(Send("TPZ"), "-5000");
    EXPECT_EQ(machine->ReadAxis(2).stopCode, kStopForwardLimit);
    Send("CN1");
    EXPECT_EQ(Send("MG _LFZ"), "1.0000");
    Send("PAZ=0");
    Advance(milliseconds(2000));
    EXPECT_EQ(Send("TPZ"), "0");
}

TEST_F(MotionTest, LimitSwitchesStopAJogOutsideTheTestsTravel) {
    PrepareLikeTheTest();
    Send("SP*=100000");
    Send("PAX=300000");
    Advance(milliseconds(5000));
    const AxisState state = machine->ReadAxis(0);
    EXPECT_EQ(state.stopCode, kStopForwardLimit);
    EXPECT_TRUE(state.forwardLimitOn);
    EXPECT_GE(state.motorPosition, 200000);
    EXPECT_LT(state.motorPosition, 210000);
    EXPECT_EQ(Send("MG _LFX"), "0.0000");
    // Moving away is allowed.
    Send("PAX=0");
    Advance(milliseconds(5000));
    EXPECT_EQ(Send("TPX"), "0");
}

TEST_F(MotionTest, SoftwareLimitsStopMotion) {
    PrepareLikeTheTest();
    Send("FL1000,1000,1000,1000");
    Send("PT0,0,0,0");
    Send("JG5000");
    Send("BGX");
    Advance(milliseconds(2000));
    const AxisState state = machine->ReadAxis(0);
    EXPECT_FALSE(state.moving);
    EXPECT_EQ(state.stopCode, kStopForwardSoftLimit);
    EXPECT_EQ(state.referencePosition, 1000);
    // A jog further out ends at once.
    Send("BGX");
    Advance(milliseconds(100));
    EXPECT_EQ(machine->ReadAxis(0).referencePosition, 1000);
}

TEST_F(MotionTest, PositionMoveWithoutTrackingWaitsForBegin) {
    PrepareLikeTheTest();
    Send("PT0,0,0,0");
    Send("PAY=3000");
    Advance(milliseconds(500));
    EXPECT_EQ(Send("TPY"), "0");
    Send("BGY");
    Advance(milliseconds(1000));
    EXPECT_EQ(Send("TPY"), "3000");
    EXPECT_EQ(machine->ReadAxis(1).stopCode, kStopFinished);
}

TEST_F(MotionTest, NewTargetDuringAMoveTurnsTheAxisRound) {
    PrepareLikeTheTest();
    Send("PAX=-20000");
    Advance(milliseconds(500));
    Send("PAX=1000");
    Advance(milliseconds(2000));
    EXPECT_EQ(Send("TPX"), "1000");
}

TEST_F(MotionTest, TheModelDoesNotDependOnHowOftenItIsAsked) {
    auto otherClock = std::make_shared<VirtualClock>();
    auto other = std::make_shared<Machine>(otherClock);
    auto otherClient = MakeInProcessClient(other);
    for (const char* command : {"SH", "AC*=300000", "PT1,1,1,1", "PAX=-7000"}) {
        Send(command);
        otherClient->command(command, "\r", ":", true);
    }
    for (int i = 0; i < 100; ++i) {
        Advance(milliseconds(7));
        Send("TPX");
    }
    otherClock->Advance(milliseconds(700));
    EXPECT_EQ(Send("TPX"), otherClient->command("TPX", "\r", ":", true));
    EXPECT_EQ(Send("TTX"), otherClient->command("TTX", "\r", ":", true));
}

}  // namespace
}  // namespace trevane::sim::testing
