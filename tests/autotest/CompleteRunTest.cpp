#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "AutotestHarness.h"
#include "autotest/AxisMotionTest.h"
#include "autotest/ConfigurationChecks.h"
#include "autotest/TestLog.h"
#include "autotest/TestRunner.h"

namespace trevane::autotest_testing {
namespace {

using ::testing::ElementsAre;
using CompleteRun = AutotestFixture;

// Every byte of the log of one complete test against a controller with plain replies: two blanks
// between stamp and text, the replies' entries running on in one line, CR CR LF after the
// description, and the time stamps following the test's waits.
const char* const kCompleteLog =
    "11/29/12 14:05:09  Starting Test\r\n"
    "11/29/12 14:05:09  ID: 127.0.0.1:23 Scripted controller rev 1.0\r\r\n"
    "11/29/12 14:05:09  SP: 10000,10000,10000,10000"
    "11/29/12 14:05:09  AC: 300000,300000,300000,300000"
    "11/29/12 14:05:09  DC: 2000000,2000000,2000000,2000000"
    "11/29/12 14:05:09  KP: 6.00,6.00,6.00,6.00"
    "11/29/12 14:05:09  KI: 0.50,0.50,0.50,0.50"
    "11/29/12 14:05:09  KD: 64.00,64.00,64.00,64.00"
    "11/29/12 14:05:09  _CN: -1.0000"
    "11/29/12 14:05:09  BIT1: 0.0000"
    "11/29/12 14:05:09  BIT2: 0.0000"
    "11/29/12 14:05:09  BIT3: 0.0000"
    "11/29/12 14:05:09  BIT4: 0.0000"
    "11/29/12 14:05:09  X Forward Limit: 1.0000"
    "11/29/12 14:05:09  X Reverse Limit: 1.0000"
    "11/29/12 14:05:09  Y Forward Limit: 1.0000"
    "11/29/12 14:05:09  Y Reverse Limit: 1.0000"
    "11/29/12 14:05:09  Z Forward Limit: 1.0000"
    "11/29/12 14:05:09  Z Reverse Limit: 1.0000"
    "11/29/12 14:05:09  W Forward Limit: 1.0000"
    "11/29/12 14:05:09  W Reverse Limit: 1.0000"
    "11/29/12 14:05:11  Done with Checks\r\n"
    "11/29/12 14:05:11  Enable Machine\r\n"
    "11/29/12 14:05:15  Preparing For Motion\r\n"
    "11/29/12 14:05:16  BIT1: 0.0000"
    "11/29/12 14:05:16  BIT2: 0.0000"
    "11/29/12 14:05:16  BIT3: 0.0000"
    "11/29/12 14:05:16  BIT4: 0.0000"
    "11/29/12 14:05:16  SetZero (DP0,0,0,0)\r\n"
    "11/29/12 14:05:16  X Axis is being moved to -20000\r\n"
    "11/29/12 14:05:18  X Axis move finished.  Max torque: 0.432100\r\n"
    "11/29/12 14:05:18  X Axis move finished.  Max error: 12.000000\r\n"
    "11/29/12 14:05:18  X Axis move finished.  Current Error: -12"
    "11/29/12 14:05:18  X Axis move finished.  Current Position: -20000"
    "11/29/12 14:05:19  X Axis is being moved to 0\r\n"
    "11/29/12 14:05:21  X Axis move finished.  Max torque: 0.432100\r\n"
    "11/29/12 14:05:21  X Axis move finished.  Max error: 12.000000\r\n"
    "11/29/12 14:05:21  X Axis move finished.  Current Error: -12"
    "11/29/12 14:05:21  X Axis move finished.  Current Position: 0"
    "11/29/12 14:05:22  Y Axis is being moved to -20000\r\n"
    "11/29/12 14:05:24  Y Axis move finished.  Max torque: 0.432100\r\n"
    "11/29/12 14:05:24  Y Axis move finished.  Max error: 12.000000\r\n"
    "11/29/12 14:05:24  Y Axis move finished.  Current Error: -12"
    "11/29/12 14:05:24  Y Axis move finished.  Current Position: -20000"
    "11/29/12 14:05:25  Y Axis is being moved to 0\r\n"
    "11/29/12 14:05:27  Y Axis move finished.  Max torque: 0.432100\r\n"
    "11/29/12 14:05:27  Y Axis move finished.  Max error: 12.000000\r\n"
    "11/29/12 14:05:27  Y Axis move finished.  Current Error: -12"
    "11/29/12 14:05:27  Y Axis move finished.  Current Position: 0"
    "11/29/12 14:05:28  Z Axis is being moved to -20000\r\n"
    "11/29/12 14:05:30  Z Axis move finished.  Max torque: 0.432100\r\n"
    "11/29/12 14:05:30  Z Axis move finished.  Max error: 12.000000\r\n"
    "11/29/12 14:05:30  Z Axis move finished.  Current Error: -12"
    "11/29/12 14:05:30  Z Axis move finished.  Current Position: -20000"
    "11/29/12 14:05:31  Z Axis is being moved to 0\r\n"
    "11/29/12 14:05:33  Z Axis move finished.  Max torque: 0.432100\r\n"
    "11/29/12 14:05:33  Z Axis move finished.  Max error: 12.000000\r\n"
    "11/29/12 14:05:33  Z Axis move finished.  Current Error: -12"
    "11/29/12 14:05:33  Z Axis move finished.  Current Position: 0"
    "11/29/12 14:05:34  Restoring CN to -1\r\n"
    "11/29/12 14:05:34  Exit Motion\r\n"
    "11/29/12 14:05:36  Disable Machine\r\n";

std::vector<std::string> ExpectedCommandsOfCompleteRun() {
    std::vector<std::string> commands = {
        "HX", "SP*=?", "AC*=?", "DC*=?", "KP*=?", "KI*=?", "KD*=?", "MG _CN", "MG @OUT[1]",
        "MG @OUT[2]", "MG @OUT[3]", "MG @OUT[4]", "MG _LFX", "MG _LRX", "MG _LFY", "MG _LRY",
        "MG _LFZ", "MG _LRZ", "MG _LFW", "MG _LRW",
        // EnableMachine
        "SB7", "TL*=5.0", "BL-214783648,-214783648,-214783648;", "FL214783647,214783647,214783647;",
        "AB1", "CB1", "CB2", "CB3", "CB4", "MO", "HX",
        // PrepareMotion
        "TL*=5.0", "AB1", "SH", "DC*=2000000", "AC*=300000", "SP*=10000",
        "BL-214783648,-214783648,-214783648", "FL214783647,214783647,214783647", "PT1,1,1", "SB1",
        "SB2", "SB3", "MG @OUT[1]", "MG @OUT[2]", "MG @OUT[3]", "MG @OUT[4]", "DP0,0,0,0"};
    for (const char* axis : {"X", "Y", "Z"}) {
        for (const std::string& command : CommandsOfCleanAxis(axis)) {
            commands.push_back(command);
        }
    }
    const std::vector<std::string> closing = {"CN-1", "AB1", "CB1", "CB2", "CB3", "CB4", "MO",
                                              "AB1",  "CB1", "CB2", "CB3", "CB4", "MO",  "CB7"};
    commands.insert(commands.end(), closing.begin(), closing.end());
    return commands;
}

TEST_F(CompleteRun, LogsEveryEntryByteForByte) {
    RunWholeTest();
    EXPECT_EQ(LogBytes(), kCompleteLog);
    EXPECT_EQ(window_->TestStatus(), "Disable Machine\n");
}

TEST_F(CompleteRun, SendsEveryCommandInOrderAndNeverMovesW) {
    RunWholeTest();
    const std::vector<std::string> commands = controller_->Commands();
    EXPECT_EQ(commands, ExpectedCommandsOfCompleteRun());
    for (const std::string& command : commands) {
        EXPECT_FALSE(command == "PTW=1" || command.starts_with("PAW") || command == "TTW")
            << command;
    }
}

TEST_F(CompleteRun, ShowsProgressAndEndsIdle) {
    RunWholeTest();
    EXPECT_THAT(SeenProgress().Values(), ElementsAre(0, 40, 50, 60, 70, 80, 100, 0));
    EXPECT_FALSE(TestState().running);
    EXPECT_TRUE(LastTestCompleted());
    const TestResult result = TheController().LastResult();
    EXPECT_FALSE(result.AnyMoveAborted());
    EXPECT_EQ(window_->RunTestCaption(), "Run Auto Test");
    EXPECT_TRUE(window_->TimerRunning(IDT_PROGRESS));

    window_->SetProgress(55);
    window_->SetProgress(TestState().progress);
    EXPECT_EQ(window_->Progress(), 0);
    // The checks phase: 40 from the "KP: " entry on, 50 two seconds before "Done with Checks".
    ASSERT_TRUE(result.record.has_value());
    EXPECT_EQ(result.record->cnSaved, -1.0f);
    EXPECT_EQ(result.record->cnRestored, -1);
}

TEST_F(CompleteRun, TwoTestsAppendToOneFile) {
    RunWholeTest();
    RunWholeTest();
    const std::string log = LogBytes();
    const std::string first(kCompleteLog);
    ASSERT_EQ(log.substr(0, first.size()), first);
    // The second test starts where the first one's waits ended.
    EXPECT_EQ(log.substr(first.size(), 34), "11/29/12 14:05:37  Starting Test\r\n");
    EXPECT_EQ(log.size(), 2 * first.size());
}

TEST_F(CompleteRun, APassesMidnightWithoutChangingItsFile) {
    StartClockAt(WallTime(23, 59, 50));
    RunWholeTest();
    EXPECT_EQ(LogFilePath(), "logFile.txt 112912-235950.txt");
    const std::string log = LogBytes();
    EXPECT_TRUE(log.starts_with("11/29/12 23:59:50  Starting Test\r\n"));
    EXPECT_TRUE(log.ends_with("11/30/12 00:00:17  Disable Machine\r\n"));
}

}  // namespace
}  // namespace trevane::autotest_testing
