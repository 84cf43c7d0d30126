#include <algorithm>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "AutotestHarness.h"
#include "autotest/AxisMotionTest.h"
#include "autotest/ConfigurationChecks.h"
#include "autotest/TestRunner.h"
#include "link/ControllerLink.h"
#include "report/TestVerdict.h"

namespace trevane::autotest_testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

// Both phases on the calling thread, against scripted readings.
class Readings : public AutotestFixture {
  protected:
    void Script(ScriptedController::Script script) {
        UseController(std::make_shared<ScriptedController>(std::move(script)));
    }
    void RunBothPhases() {
        RunConfigurationChecks(Context());
        RunAxisMotionTest(Context());
    }
    std::vector<std::string> CommandsAfter(const std::string& first) const {
        return After(controller_->Commands(), first);
    }
};

std::vector<std::string> MoveReport(const std::string& axis, const std::string& torque,
                                    const std::string& error, const std::string& position) {
    return {axis + " Axis move finished.  Max torque: " + torque + "\n",
            axis + " Axis move finished.  Max error: " + error + "\n",
            axis + " Axis move finished.  Current Error: -12",
            axis + " Axis move finished.  Current Position: " + position};
}

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> joined;
    for (const auto& part : parts) {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

TEST_F(Readings, TorqueAbortsAboveThreePointOneOnlyAndEndsThatAxis) {
    Script([](const std::string& command, int n) -> std::optional<std::string> {
        if (command == "TTX" && n == 5) {
            return "3.1";  // exactly the limit: no abort
        }
        if (command == "TTY" && n == 10) {
            return "3.2";
        }
        if (command == "TTZ" && n == 0) {
            return "-3.5";  // the absolute value counts
        }
        return std::nullopt;
    });
    RunBothPhases();

    EXPECT_EQ(EntriesOf("X"), Join({{"X Axis is being moved to -20000\n"},
                                    MoveReport("X", "3.100000", "12.000000", "-20000"),
                                    {"X Axis is being moved to 0\n"},
                                    MoveReport("X", "0.432100", "12.000000", "0")}));
    EXPECT_EQ(EntriesOf("Y"),
              (std::vector<std::string>{
                  "Y Axis is being moved to -20000\n",
                  "Y Axis move aborted due to torque above threshhold.  Torque: 3.2"}));
    EXPECT_EQ(EntriesOf("Z"),
              (std::vector<std::string>{
                  "Z Axis is being moved to -20000\n",
                  "Z Axis move aborted due to torque above threshhold.  Torque: -3.5"}));

    // The abort goes out right after the reading, before the error reading of the same cycle.
    const std::vector<std::string> afterY = CommandsAfter("PAY=-20000");
    ASSERT_GE(afterY.size(), 25u);
    EXPECT_THAT(std::vector<std::string>(afterY.begin() + 20, afterY.begin() + 24),
                ElementsAre("TTY", "AB1", "MOY", "TEY"));
    // The watch runs all its cycles anyway; Y gets no second move.
    EXPECT_EQ(std::count(afterY.begin(), afterY.end(), "TTY"), 200);
    EXPECT_THAT(afterY, Not(Contains("PAY=0")));

    EXPECT_EQ(TestState().progress, 60);
    EXPECT_TRUE(Context().moveAborted);
    EXPECT_TRUE(Context().anyMoveAborted);
}

TEST_F(Readings, ErrorAbortsAboveSevenHundredAndItsMaximumCarriesAcrossAxes) {
    Script([](const std::string& command, int n) -> std::optional<std::string> {
        if (command == "TEX" && n == 3) {
            return "700";  // exactly the limit: no abort
        }
        if (command == "TEZ" && n == 7) {
            return "700.5";
        }
        if (command == "TEZ" && n == 8) {
            return "-701";
        }
        return std::nullopt;
    });
    RunBothPhases();

    EXPECT_EQ(EntriesOf("X")[1], "X Axis move finished.  Max torque: 0.432100\n");
    EXPECT_EQ(EntriesOf("X")[2], "X Axis move finished.  Max error: 700.000000\n");
    // Y's errors never pass 12, but the maximum is the test's, not the move's.
    EXPECT_EQ(EntriesOf("Y")[2], "Y Axis move finished.  Max error: 700.000000\n");
    EXPECT_EQ(EntriesOf("Z"),
              (std::vector<std::string>{
                  "Z Axis is being moved to -20000\n",
                  "Z Axis move aborted due to position error above threshhold.  Position error: "
                  "700.5",
                  "Z Axis move aborted due to position error above threshhold.  Position error: "
                  "-701"}));
    EXPECT_EQ(TestState().progress, 70);
    EXPECT_EQ(Entries().back(), "Restoring CN to -1\n");
}

TEST_F(Readings, AReadingStuckAboveItsLimitAbortsAgainInEveryRemainingCycle) {
    Script([](const std::string& command, int n) -> std::optional<std::string> {
        if (command == "TTY" && n >= 150) {
            return "5.0";
        }
        return std::nullopt;
    });
    RunBothPhases();

    const std::vector<std::string> y = EntriesOf("Y");
    EXPECT_EQ(std::count(y.begin(), y.end(),
                         "Y Axis move aborted due to torque above threshhold.  Torque: 5.0"),
              50);
    const std::vector<std::string> afterY = CommandsAfter("PAY=-20000");
    EXPECT_EQ(std::count(afterY.begin(), afterY.end(), "MOY"), 50);
    // Z is tested as usual and the phase ends with the restore.
    EXPECT_EQ(EntriesOf("Z").size(), 10u);
    EXPECT_EQ(TestState().progress, 70);
    EXPECT_FALSE(Context().moveAborted);
    EXPECT_TRUE(Context().anyMoveAborted);
}

TEST_F(Readings, CnSwapsAlternateAcrossSwitchesAndAxesAndTheRestoreUsesTheSavedValue) {
    Script([](const std::string& command, int n) -> std::optional<std::string> {
        if (command == "MG _LRX" || command == "MG _LFX") {
            return "0";
        }
        if (command == "MG _LRY") {
            return "0.5";
        }
        if (command == "MG _LRZ" && n == 1) {        // the checks phase's query is the first
            throw MotionError("MG _LRZ: no reply");  // a failed query counts as a switch on
        }
        return std::nullopt;  // "MG _CN" reads -1; the other switches read 1
    });
    RunBothPhases();

    std::vector<std::string> swaps;
    for (const std::string& command : controller_->Commands()) {
        if (command.starts_with("CN")) {
            swaps.push_back(command);
        }
    }
    EXPECT_THAT(swaps, ElementsAre("CN1", "CN-1", "CN1", "CN-1", "CN-1"));
    std::vector<std::string> entries;
    for (const std::string& entry : Entries()) {
        if (entry.find("CN") != std::string::npos && !entry.starts_with("_CN")) {
            entries.push_back(entry);
        }
    }
    EXPECT_THAT(entries,
                ElementsAre("X Reverse Limit was on, swapping CN to 1\n",
                            "X Forward Limit was on, swapping CN to -1\n",
                            "Y Reverse Limit was on, swapping CN to 1\n",
                            "Z Reverse Limit was on, swapping CN to -1\n", "Restoring CN to -1\n"));
    EXPECT_EQ(window_->Transcript(), "a command error occurred\r\n");
    EXPECT_EQ(Context().cnSaved, -1.0f);
    EXPECT_EQ(Context().cnCurrent, -1.0f);
}

TEST_F(Readings, APositiveSavedCnIsRestoredAsOne) {
    Script([](const std::string& command, int) -> std::optional<std::string> {
        if (command == "MG _CN") {
            return "1.0000";
        }
        if (command == "MG _LRX") {
            return "0";
        }
        return std::nullopt;
    });
    RunBothPhases();
    EXPECT_THAT(Entries(), Contains("X Reverse Limit was on, swapping CN to -1\n"));
    EXPECT_EQ(Entries().back(), "Restoring CN to 1\n");
    EXPECT_EQ(controller_->Commands().back(), "CN1");
    EXPECT_EQ(Context().cnSaved, 1.0f);
    EXPECT_EQ(Context().cnCurrent, 1.0f);
}

TEST_F(Readings, AFailedCnQueryLogsTheBareLabelAndRestoresMinusOne) {
    Script([](const std::string& command, int) -> std::optional<std::string> {
        if (command == "MG _CN" || command == "KI*=?") {
            throw MotionError::Rejection(command + ": rejected", "");
        }
        return std::nullopt;
    });
    RunBothPhases();
    EXPECT_THAT(Entries(), Contains("_CN: "));
    EXPECT_THAT(Entries(), Contains("KI: "));
    EXPECT_EQ(Context().cnSaved, 0.0f);
    EXPECT_EQ(Entries().back(), "Restoring CN to -1\n");
    EXPECT_EQ(controller_->Commands().back(), "CN-1");
}

TEST_F(Readings, AFailedDescriptionIsLoggedEmptyAndTheTestGoesOn) {
    controller_->FailConnection();
    RunBothPhases();
    const std::vector<std::string> entries = Entries();
    ASSERT_GE(entries.size(), 3u);
    EXPECT_EQ(entries[0], "ID: \r\n");
    EXPECT_EQ(entries[1], "SP: 10000,10000,10000,10000");
    EXPECT_EQ(entries.back(), "Restoring CN to -1\n");
}

TEST_F(Readings, WithoutASessionTheTestEndsAtItsFirstCommandAsALostLink) {
    // Connected, but the controller has closed the session and it cannot be opened again: the
    // link is gone before the test begins.
    Link().NoteSessionFailure(Link().CommandSession(),
                              MotionError::ClosedByController("closed by the controller", true));
    RunWholeTest();
    EXPECT_FALSE(LastTestCompleted());
    EXPECT_EQ(Entries(),
              (std::vector<std::string>{"Starting Test\n",
                                        "Test Aborted: the link to the controller was lost\n"}));
    ASSERT_TRUE(LastTestVerdict());
    EXPECT_EQ(LastTestVerdict()->kind, TestVerdict::Kind::LinkLost);
    EXPECT_EQ(LastTestVerdict()->lostDuring, "the checks");
    EXPECT_TRUE(controller_->Commands().empty());
}

}  // namespace
}  // namespace trevane::autotest_testing
