#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/Median.h"
#include "history/HistoryStore.h"

// A test's maxima set against the same machine's earlier tests: drift is wear, a dry guide or a
// loose coupling showing long before a move is aborted.
namespace trevane::history {

// Drift: at least this much above the baseline, relatively and absolutely.
inline constexpr double kDriftRatio = 1.25;
inline constexpr double kDriftTorqueVolts = 0.1;
inline constexpr double kDriftErrorCounts = 10.0;
// The baseline is the median over this many earlier tests that completed and measured the move,
// and there is none with fewer than kMinimumBaselineTests of them.
inline constexpr int kBaselineTests = 5;
inline constexpr int kMinimumBaselineTests = 3;
// Tests per axis in the report's trend plot.
inline constexpr int kTrendTests = 20;

bool IsDrift(double value, double baseline, double minimumRise);

struct Drift {
    char axis = 'X';
    int target = 0;
    std::string quantity;  // "torque" or "error"
    double value = 0;
    double baseline = 0;
    double change = 0;  // percent above the baseline
};

struct MoveComparison {
    StoredMove move;
    int earlierTests = 0;                // clean earlier moves found
    std::vector<std::string> baseTests;  // their tests' start times, newest first
    bool compared = false;               // measured, and enough earlier moves for a baseline
    double torqueBaseline = 0;
    double errorBaseline = 0;
    bool torqueDrift = false;
    bool errorDrift = false;
};

struct TrendPoint {
    std::string started;
    double maxTorque = 0;
    double maxError = 0;
};

struct Comparison {
    std::vector<MoveComparison> moves;
    std::vector<Drift> drift;
    std::map<char, std::vector<TrendPoint>> trends;  // per axis, oldest first
};

Comparison Compare(HistoryStore& history, const StoredTest& test, bool withTrends);

// "Y: error 62 % above earlier tests", one per axis and quantity, the larger change of the
// axis's two moves.
std::vector<std::string> DriftFlagTexts(const std::vector<Drift>& drift);

// The axes of X, Y, Z and W with a measured move that had no baseline, in that order.
std::vector<char> AxesWithoutBaseline(const Comparison& comparison);
// "X, Y: no baseline yet"; "" for none.
std::string NoBaselineText(const std::vector<char>& axes);

}  // namespace trevane::history
