#include "history/Trends.h"

#include <algorithm>
#include <cmath>

#include "autotest/Outcomes.h"
#include "common/CLocale.h"

namespace trevane::history {
namespace {

double Change(double value, double baseline) {
    return baseline > 0 ? (value - baseline) / baseline * 100.0 : 100.0;
}

void AddDrift(Comparison& out, const StoredMove& move, const char* quantity, double value,
              double baseline) {
    out.drift.push_back(
        {move.axis, move.target, quantity, value, baseline, Change(value, baseline)});
}

MoveComparison CompareMove(HistoryStore& history, const StoredTest& test, const StoredMove& move) {
    MoveComparison result;
    result.move = move;
    const std::vector<StoredMove> earlier =
        history.EarlierMoves(test, move.moveIndex, kBaselineTests);
    result.earlierTests = static_cast<int>(earlier.size());
    for (const StoredMove& m : earlier) {
        result.baseTests.push_back(m.testStarted);
    }
    // An unverified move read 0 where readings failed: it is neither flagged nor a base.
    if (move.verdict != outcome::kCompleted || result.earlierTests < kMinimumBaselineTests) {
        return result;
    }
    result.compared = true;
    std::vector<double> torques;
    std::vector<double> errors;
    for (const StoredMove& m : earlier) {
        torques.push_back(m.maxTorque);
        errors.push_back(m.maxError);
    }
    result.torqueBaseline = Median(torques);
    result.errorBaseline = Median(errors);
    result.torqueDrift = IsDrift(move.maxTorque, result.torqueBaseline, kDriftTorqueVolts);
    result.errorDrift = IsDrift(move.maxError, result.errorBaseline, kDriftErrorCounts);
    return result;
}

}  // namespace

bool IsDrift(double value, double baseline, double minimumRise) {
    return value >= baseline * kDriftRatio && value - baseline >= minimumRise;
}

Comparison Compare(HistoryStore& history, const StoredTest& test, bool withTrends) {
    Comparison out;
    for (const StoredMove& move : test.moves) {
        MoveComparison compared = CompareMove(history, test, move);
        if (compared.torqueDrift) {
            AddDrift(out, move, "torque", move.maxTorque, compared.torqueBaseline);
        }
        if (compared.errorDrift) {
            AddDrift(out, move, "error", move.maxError, compared.errorBaseline);
        }
        out.moves.push_back(std::move(compared));
    }
    if (!withTrends) {
        return out;
    }
    for (const StoredTest& earlier : history.RecentTests(test, kTrendTests)) {
        std::map<char, TrendPoint> points;
        for (const StoredMove& move : earlier.moves) {
            // Failed readings read as 0: no point to draw.
            if (move.verdict == outcome::kUnverified ||
                (move.maxTorque == 0 && move.maxError == 0)) {
                continue;
            }
            TrendPoint& point = points[move.axis];
            point.started = earlier.startedUtc;
            point.maxTorque = std::max(point.maxTorque, move.maxTorque);
            point.maxError = std::max(point.maxError, move.maxError);
        }
        for (auto& [axis, point] : points) {
            out.trends[axis].push_back(point);
        }
    }
    return out;
}

std::vector<std::string> DriftFlagTexts(const std::vector<Drift>& drift) {
    std::vector<std::string> texts;
    for (const char axis : {'X', 'Y', 'Z', 'W'}) {
        for (const char* quantity : {"torque", "error"}) {
            std::optional<double> change;
            for (const Drift& d : drift) {
                if (d.axis == axis && d.quantity == quantity) {
                    change = std::max(change.value_or(d.change), d.change);
                }
            }
            if (change) {
                texts.push_back(std::string(1, axis) + ": " + quantity + " " +
                                FormatInt(std::llround(*change)) + " % above earlier tests");
            }
        }
    }
    return texts;
}

std::vector<char> AxesWithoutBaseline(const Comparison& comparison) {
    std::vector<char> axes;
    for (const char axis : {'X', 'Y', 'Z', 'W'}) {
        for (const MoveComparison& m : comparison.moves) {
            if (m.move.axis == axis && m.move.verdict == outcome::kCompleted && !m.compared) {
                axes.push_back(axis);
                break;
            }
        }
    }
    return axes;
}

std::string NoBaselineText(const std::vector<char>& axes) {
    std::string text;
    for (const char axis : axes) {
        text += (text.empty() ? "" : ", ") + std::string(1, axis);
    }
    return text.empty() ? text : text + ": no baseline yet";
}

}  // namespace trevane::history
