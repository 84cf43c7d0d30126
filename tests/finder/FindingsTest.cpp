#include <cmath>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "finder/Findings.h"

// The finder on readings made by hand: each axis's moves at constant speed, with what each
// cause does to torque and error written in directly.
namespace trevane::finder {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// What an axis does, in the terms a cause changes.
struct AxisShape {
    double friction = 1.0;        // volts opposing motion
    double weight = 0;            // volts one way, at rest too
    double followingError = 140;  // counts at speed
    int noise = 0;                // counts, alternating reading to reading
    double startShare = 0.8;      // torque of the first 20 ms, as a share of the friction
    double bindFrom = 0;          // a stretch of travel with 1 V more friction
    double bindTo = 0;
};

MoveTrace Move(char axis, int target, const AxisShape& shape) {
    MoveTrace move;
    move.moveIndex = (axis - 'X') * 2 + (target == 0 ? 1 : 0);
    move.axis = axis;
    move.target = target;
    const double direction = target == 0 ? 1 : -1;
    const double start = target == 0 ? -20000 : 0;
    for (int cycle = 0; cycle < kCyclesPerMove; ++cycle) {
        const double position = start + direction * 20000.0 * cycle / (kCyclesPerMove - 1);
        double torque = direction * shape.friction + shape.weight;
        if (shape.bindTo > shape.bindFrom && position >= shape.bindFrom && position <= shape.bindTo) {
            torque += direction * 1.0;
        }
        if (cycle == 0) {
            torque = shape.weight;
        } else if (cycle <= 2) {
            torque = direction * shape.friction * shape.startShare + shape.weight;
        }
        const double jitter = cycle % 2 == 0 ? shape.noise : -shape.noise;
        move.samples.push_back({10.0 * cycle, static_cast<float>(torque),
                                static_cast<float>(direction * shape.followingError + jitter)});
    }
    move.sampleCount = move.samples.size();
    move.watchEnded = true;
    move.currentPosition = target == 0 ? "0" : "-20000";
    return move;
}

TestRecord Record(const AxisShape& y, const AxisShape& others = {}) {
    TestRecord record;
    record.testNumber = 1;
    record.outcome = TestOutcome::Completed;
    for (const char axis : {'X', 'Y', 'Z'}) {
        const AxisShape& shape = axis == 'Y' ? y : others;
        record.moves.push_back(Move(axis, -20000, shape));
        record.moves.push_back(Move(axis, 0, shape));
    }
    return record;
}

std::vector<std::string> Causes(const std::vector<Finding>& findings) {
    std::vector<std::string> causes;
    for (const Finding& finding : findings) {
        causes.push_back(std::string(1, finding.axis) + " " + CauseWord(finding.cause));
    }
    return causes;
}

TEST(Findings, AHealthyMachineHasNone) {
    EXPECT_THAT(FindCauses(Record({})), IsEmpty());
    // Two counts of jitter is the encoder's own, not a fault.
    AxisShape quiet;
    quiet.noise = 1;
    EXPECT_THAT(FindCauses(Record(quiet, quiet)), IsEmpty());
}

TEST(Findings, EachCauseIsNamedWithItsEvidence) {
    AxisShape friction;
    friction.friction = 2.0;
    friction.followingError = 177;
    const std::vector<Finding> rubbing = FindCauses(Record(friction));
    EXPECT_THAT(Causes(rubbing), ElementsAre("Y friction"));
    EXPECT_EQ(rubbing[0].Headline(), "Y: likely friction");
    EXPECT_EQ(rubbing[0].evidence, "torque at constant speed 2.0 V both ways, 1.0 V on X and Z");

    AxisShape weight;
    weight.weight = 1.0;
    const std::vector<Finding> heavy = FindCauses(Record(weight));
    EXPECT_THAT(Causes(heavy), ElementsAre("Y imbalance"));
    EXPECT_THAT(heavy[0].evidence,
                HasSubstr("holding torque 1.0 V at rest; 0.0 V moving to -20000, 2.0 V moving back"));

    AxisShape bind;
    bind.bindFrom = -12000;
    bind.bindTo = -8000;
    const std::vector<Finding> bound = FindCauses(Record(bind));
    EXPECT_THAT(Causes(bound), ElementsAre("Y bind"));
    EXPECT_EQ(bound[0].Headline(), "Y: likely binding between -12,000 and -8,000 counts");

    AxisShape slack;
    slack.startShare = 0.05;
    EXPECT_THAT(Causes(FindCauses(Record(slack))), ElementsAre("Y backlash"));

    AxisShape noisy;
    noisy.noise = 4;
    EXPECT_THAT(Causes(FindCauses(Record(noisy))), ElementsAre("Y encoder_noise"));

    AxisShape soft;
    soft.followingError = 414;
    EXPECT_THAT(Causes(FindCauses(Record(soft))), ElementsAre("Y gain_too_low"));
    AxisShape stiff;
    stiff.followingError = 19;
    EXPECT_THAT(Causes(FindCauses(Record(stiff))), ElementsAre("Y gain_too_high"));
}

// Two causes at once give both, never one of them alone passed off as the whole story.
TEST(Findings, TwoCausesAtOnceGiveBoth) {
    AxisShape both;
    both.friction = 2.0;
    both.followingError = 500;  // far more than the friction explains
    EXPECT_THAT(Causes(FindCauses(Record(both))), ElementsAre("Y friction", "Y gain_too_low"));

    AxisShape heavyAndBound;
    heavyAndBound.weight = 1.0;
    heavyAndBound.bindFrom = -12000;
    heavyAndBound.bindTo = -8000;
    EXPECT_THAT(Causes(FindCauses(Record(heavyAndBound))), ElementsAre("Y imbalance", "Y bind"));
}

// With the other axes unlike each other there is no reference, and nothing that needs one is
// named; an axis's own signs still are.
TEST(Findings, NoReferenceNoComparison) {
    AxisShape high;
    high.friction = 2.0;
    TestRecord record = Record({});
    record.moves[0] = Move('X', -20000, high);  // X's two directions unlike, Z like Y
    record.moves[1] = Move('X', 0, high);
    // X stands out from Y and Z, which agree; Y and Z have no agreeing pair to be held against.
    EXPECT_THAT(Causes(FindCauses(record)), ElementsAre("X friction"));

    // An aborted move is no evidence of the mechanics: its axis gets nothing.
    AxisShape weight;
    weight.weight = 1.0;
    TestRecord aborted = Record(weight);
    aborted.moves[2].aborted = true;
    EXPECT_THAT(FindCauses(aborted), IsEmpty());
}

}  // namespace
}  // namespace trevane::finder
