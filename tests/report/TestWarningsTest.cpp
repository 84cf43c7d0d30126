#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "HandMadeRecords.h"
#include "report/TestVerdict.h"
#include "report/TestWarnings.h"

// Warnings of records made by hand: which switch readings and CN swaps the test names, and when
// a pass stops being a plain one.
namespace trevane {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// A clean pass whose checks read every limit switch off.
TestRecord PassedRecord() {
    TestRecord record = testing::CleanCompletedRecord();
    for (const char axis : {'X', 'Y', 'Z', 'W'}) {
        for (const char* side : {" Forward Limit: ", " Reverse Limit: "}) {
            record.checks.push_back({std::string(1, axis) + side, "1.0000\r\n"});
        }
    }
    return record;
}

void SetSwitchAtRest(TestRecord& record, const std::string& label, const std::string& reply) {
    for (LoggedReading& check : record.checks) {
        if (check.label == label) {
            check.reply = reply;
        }
    }
}

std::vector<std::string> Kinds(const TestVerdict& verdict) {
    std::vector<std::string> kinds;
    for (const TestWarning& warning : verdict.warnings) {
        kinds.push_back(std::string(1, warning.axis) + " " + warning.KindText());
    }
    return kinds;
}

// A switch on at rest is named with the CN set for it; the swaps that only follow from the first
// one (CN reads every switch the other way then) are not.
TEST(TestWarnings, ASwitchActiveAtRestIsNamedAndTheSwapsItCausedAreNot) {
    TestRecord record = PassedRecord();
    SetSwitchAtRest(record, "Y Forward Limit: ", "0.0000\r\n");
    record.cnSwaps = {{'Y', true, 1, false}, {'Z', false, -1, false}};
    const TestVerdict verdict = VerdictOfTest(record, std::nullopt);
    EXPECT_THAT(Kinds(verdict), ElementsAre("Y limit_switch_active"));
    EXPECT_EQ(verdict.warnings[0].Text(),
              "Y forward limit switch active at rest: stuck, or wired normally closed; the test "
              "set CN to 1");
    EXPECT_EQ(verdict.warnings[0].reading, "0.0000");
    EXPECT_TRUE(verdict.PassedWithWarnings());
    EXPECT_EQ(HeadlineOf(verdict).kind, std::string("warning"));
    EXPECT_THAT(HeadlineOf(verdict).text,
                HasSubstr("PASSED WITH WARNINGS: Y forward limit switch active at rest"));
    EXPECT_THAT(VerdictLine(verdict),
                HasSubstr("Z passed. Warning: Y forward limit switch active at rest: stuck, or "
                          "wired normally closed; the test set CN to 1. Report: none"));

    // W is never moved, so nothing is swapped for it, but a switch on at rest is still named.
    TestRecord w = PassedRecord();
    SetSwitchAtRest(w, "W Reverse Limit: ", "0.0000\r\n");
    const TestVerdict wVerdict = VerdictOfTest(w, std::nullopt);
    EXPECT_THAT(Kinds(wVerdict), ElementsAre("W limit_switch_active"));
    EXPECT_EQ(wVerdict.warnings[0].cnSet, std::nullopt);
}

TEST(TestWarnings, AFirstSwapWithoutASwitchOnAtRestIsATripOrAFailedReading) {
    TestRecord tripped = PassedRecord();
    tripped.cnSwaps = {{'Z', false, 1, false}};
    EXPECT_THAT(Kinds(VerdictOfTest(tripped, std::nullopt)), ElementsAre("Z limit_switch_tripped"));
    EXPECT_THAT(VerdictOfTest(tripped, std::nullopt).warnings[0].Text(),
                HasSubstr("before the move to -20000, inactive at rest"));

    TestRecord unread = PassedRecord();
    unread.cnSwaps = {{'X', true, 1, true}};
    EXPECT_THAT(Kinds(VerdictOfTest(unread, std::nullopt)), ElementsAre("X limit_switch_unread"));

    // A failed query at rest is no reading of the switch: no warning of its own.
    TestRecord failedAtRest = PassedRecord();
    SetSwitchAtRest(failedAtRest, "X Forward Limit: ", "");
    EXPECT_TRUE(VerdictOfTest(failedAtRest, std::nullopt).warnings.empty());
}

// Above 80 % of a limit a passed axis is named with its share; at 80 % and below, nothing.
TEST(TestWarnings, AnAxisThatPassedNearALimitIsNamedWithItsShare) {
    TestRecord record = PassedRecord();
    record.moves[2].maxTorque = 3.0051f;  // Y out
    record.moves[5].moveMaxError = 560.0f;  // Z back: exactly 80 %
    const TestVerdict verdict = VerdictOfTest(record, std::nullopt);
    EXPECT_THAT(Kinds(verdict), ElementsAre("Y torque_near_limit"));
    EXPECT_NEAR(verdict.warnings[0].sharePercent, 96.94, 0.01);
    EXPECT_THAT(VerdictLine(verdict),
                HasSubstr("X passed, Y passed, torque at 97 % of its limit, Z passed."));
    EXPECT_THAT(HeadlineOf(verdict).text,
                HasSubstr("Y torque at 97 % of its limit (3.0051 of 3.1 V)"));

    record.moves[5].moveMaxError = 561.0f;
    EXPECT_THAT(Kinds(VerdictOfTest(record, std::nullopt)),
                ElementsAre("Y torque_near_limit", "Z error_near_limit"));

    // An aborted axis was over its limit: its failure says so, no margin is added.
    record.moves[2].aborted = true;
    record.moves[2].abortReason = AbortReason::Torque;
    const TestVerdict aborted = VerdictOfTest(record, std::nullopt);
    EXPECT_THAT(Kinds(aborted), ElementsAre("Z error_near_limit"));
    EXPECT_FALSE(aborted.PassedWithWarnings());
    EXPECT_EQ(HeadlineOf(aborted).kind, std::string("failed"));
}

TEST(TestWarnings, DriftAloneMakesAPassOneWithWarnings) {
    const TestVerdict plain = VerdictOfTest(PassedRecord(), std::nullopt);
    EXPECT_FALSE(plain.PassedWithWarnings());
    EXPECT_EQ(HeadlineOf(plain).text, "PASSED");
    const TestVerdict drifted =
        VerdictOfTest(PassedRecord(), std::nullopt, {{'Y', -20000, "torque", 1.8, 1.2, 50.0}});
    EXPECT_TRUE(drifted.PassedWithWarnings());
    EXPECT_EQ(HeadlineOf(drifted).text, "PASSED WITH WARNINGS: Y: torque 50 % above earlier tests");
    EXPECT_THAT(VerdictLine(drifted), HasSubstr("Z passed. Y: torque 50 % above earlier tests."));
}

}  // namespace
}  // namespace trevane
