#include "report/ComparisonHtml.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <set>

#include "autotest/Outcomes.h"
#include "common/CLocale.h"

namespace trevane::history {
namespace {

constexpr double kPlotWidth = 240;
constexpr double kPlotHeight = 48;

std::string Fixed(double value, int decimals) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return std::string(buffer, result.ptr);
}

// One line per quantity, each scaled to its own largest value, the newest test at the right.
void AppendTrendLine(std::string& out, const std::vector<TrendPoint>& points,
                     double TrendPoint::*value, const char* colour) {
    double top = 0;
    for (const TrendPoint& p : points) {
        top = std::max(top, p.*value);
    }
    const double step = points.size() > 1 ? kPlotWidth / double(points.size() - 1) : 0;
    out += "<polyline fill=\"none\" stroke-width=\"1.5\" stroke=\"";
    out += colour;
    out += "\" points=\"";
    for (std::size_t i = 0; i < points.size(); ++i) {
        const double y = top > 0 ? kPlotHeight - 4 - (points[i].*value / top) * (kPlotHeight - 8)
                                 : kPlotHeight - 4;
        out += (i == 0 ? "" : " ") + Fixed(double(i) * step, 1) + "," + Fixed(y, 1);
    }
    out += "\"/>";
}

void AppendTrendPlot(std::string& out, char axis, const std::vector<TrendPoint>& points) {
    out += "<p>" + std::string(1, axis) + ", last " + FormatInt(long(points.size())) +
           " tests (torque blue, error violet, each scaled to its largest value):<br>";
    out += "<svg width=\"" + Fixed(kPlotWidth, 0) + "\" height=\"" + Fixed(kPlotHeight, 0) +
           "\" viewBox=\"0 0 " + Fixed(kPlotWidth, 0) + " " + Fixed(kPlotHeight, 0) +
           "\" role=\"img\"><rect width=\"100%\" height=\"100%\" fill=\"#fafafa\" "
           "stroke=\"#bbb\"/>";
    AppendTrendLine(out, points, &TrendPoint::maxTorque, "#1f5fbf");
    AppendTrendLine(out, points, &TrendPoint::maxError, "#7b3fa0");
    out += "</svg></p>\n";
}

std::string Cell(double value, int decimals) {
    return "<td class=\"num\">" + Fixed(value, decimals) + "</td>";
}

void AppendRow(std::string& out, const MoveComparison& m, const char* quantity, double value,
               double baseline, bool drift, int decimals) {
    out += "<tr><th>" + std::string(1, m.move.axis) + " to " + FormatInt(m.move.target) +
           "</th><td>" + quantity + "</td>";
    if (!m.compared) {
        const std::string why = m.move.verdict != outcome::kCompleted
                                    ? std::string("not compared: ") + m.move.verdict
                                    : "no baseline yet (" + FormatInt(m.earlierTests) + " of " +
                                          FormatInt(kMinimumBaselineTests) + " earlier tests)";
        out += "<td class=\"num\">-</td>" + Cell(value, decimals) + "<td class=\"num\">-</td><td>" +
               why + "</td></tr>\n";
        return;
    }
    const double change = baseline > 0 ? (value - baseline) / baseline * 100.0 : 0.0;
    out += Cell(baseline, decimals) + Cell(value, decimals) + "<td class=\"num\">" +
           (change >= 0 ? "+" : "") + Fixed(change, 0) + " %</td><td" +
           (drift ? " class=\"aborted\">drift" : ">-") + "</td></tr>\n";
}

// The tests the baselines came from, oldest first.
void AppendBaseTests(std::string& out, const Comparison& comparison) {
    std::set<std::string> tests;
    for (const MoveComparison& m : comparison.moves) {
        if (m.compared) {
            tests.insert(m.baseTests.begin(), m.baseTests.end());
        }
    }
    if (tests.empty()) {
        out += "<p>Base: none yet.</p>\n";
        return;
    }
    out += "<p>Base: the tests started ";
    bool first = true;
    for (const std::string& started : tests) {
        out += (first ? "" : ", ") + started;
        first = false;
    }
    out += ".</p>\n";
}

}  // namespace

std::string RenderComparisonHtml(const Comparison& comparison) {
    std::string out =
        "<h2>Compared with earlier tests</h2>\n<p>Baseline: the median of the same "
        "move in the last " +
        FormatInt(kBaselineTests) +
        " earlier tests of this controller that completed it with every reading and did not lose "
        "the link, once there are at least " +
        FormatInt(kMinimumBaselineTests) + ". Drift: at least " +
        FormatInt(std::llround((kDriftRatio - 1) * 100)) + " % and " + Fixed(kDriftTorqueVolts, 1) +
        " V or " + Fixed(kDriftErrorCounts, 0) + " counts above it.</p>\n";
    out +=
        "<table>\n<tr><th>Move</th><th>Quantity</th><th>Baseline</th><th>This test</th>"
        "<th>Change</th><th>Flag</th></tr>\n";
    for (const MoveComparison& m : comparison.moves) {
        AppendRow(out, m, "torque (V)", m.move.maxTorque, m.torqueBaseline, m.torqueDrift, 4);
        AppendRow(out, m, "error (counts)", m.move.maxError, m.errorBaseline, m.errorDrift, 0);
    }
    out += "</table>\n";
    AppendBaseTests(out, comparison);
    for (const auto& [axis, points] : comparison.trends) {
        AppendTrendPlot(out, axis, points);
    }
    return out;
}

}  // namespace trevane::history
