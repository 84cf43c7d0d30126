#include "report/ReportPlot.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "report/HtmlText.h"

namespace trevane {
namespace {

constexpr double kWidth = 720;
constexpr double kLeft = 64;
constexpr double kRight = 16;
constexpr double kTop = 24;
constexpr double kPanelHeight = 120;
constexpr double kPanelGap = 40;
constexpr double kBottom = 34;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr double kHeight = kTop + 2 * kPanelHeight + kPanelGap + kBottom;
constexpr double kNominalWatchMs = kCyclesPerMove * 10.0;

constexpr const char* kLimitColour = "#c62828";
constexpr const char* kGridColour = "#e0e0e0";

struct Panel {
    const char* title;
    double limit;
    const char* limitText;
    int decimals;  // of the scale's labels
    const char* colour;
    float TraceSample::*reading;
    double top;
};

// Coordinates and labels are plain "C" numbers whatever the process locale is.
std::string Fixed(double value, int decimals) {
    char buffer[400];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return std::string(buffer, result.ptr);
}

std::string Px(double value) {
    return Fixed(value, 1);
}

// At least the nominal 2 s of a watch, in whole tenths of a second.
double TimeSpanMs(const MoveTrace& move) {
    double last = 0;
    for (const TraceSample& sample : move.samples) {
        if (std::isfinite(sample.timeMs)) {
            last = std::max(last, sample.timeMs);
        }
    }
    return std::ceil(std::max(kNominalWatchMs, last) / 100.0) * 100.0;
}

double TimeStepMs(double spanMs) {
    if (spanMs <= 5000) {
        return 500;
    }
    return std::ceil(spanMs / 10000.0) * 1000.0;
}

// Symmetric around 0, with room above the limits and every finite reading.
double ScaleOf(const MoveTrace& move, const Panel& panel) {
    double scale = panel.limit * 1.25;
    for (const TraceSample& sample : move.samples) {
        const double value = std::fabs(static_cast<double>(sample.*panel.reading));
        if (std::isfinite(value)) {
            scale = std::max(scale, value * 1.1);
        }
    }
    return scale;
}

void AppendLine(std::string& out, double x1, double y1, double x2, double y2, const char* colour,
                const char* extra = "") {
    out += "<line x1=\"" + Px(x1) + "\" y1=\"" + Px(y1) + "\" x2=\"" + Px(x2) + "\" y2=\"" +
           Px(y2) + "\" stroke=\"" + colour + "\"" + extra + "/>\n";
}

void AppendText(std::string& out, double x, double y, const char* anchor, const std::string& text,
                const char* colour = "#444") {
    out += "<text x=\"" + Px(x) + "\" y=\"" + Px(y) + "\" text-anchor=\"" + anchor + "\" fill=\"" +
           colour + "\">" + text + "</text>\n";
}

void AppendTrace(std::string& out, const MoveTrace& move, const Panel& panel, double spanMs,
                 double scale) {
    const double middle = panel.top + kPanelHeight / 2;
    std::string points;
    auto flush = [&] {
        if (!points.empty()) {
            out += "<polyline fill=\"none\" stroke-width=\"1.5\" stroke=\"";
            out += panel.colour;
            out += "\" points=\"" + points + "\"/>\n";
            points.clear();
        }
    };
    for (const TraceSample& sample : move.samples) {
        const double value = sample.*panel.reading;
        if (!std::isfinite(value) || !std::isfinite(sample.timeMs)) {
            flush();
            continue;
        }
        if (!points.empty()) {
            points += ' ';
        }
        points += Px(kLeft + sample.timeMs / spanMs * kPlotWidth) + "," +
                  Px(middle - value / scale * (kPanelHeight / 2));
    }
    flush();
}

void AppendPanel(std::string& out, const MoveTrace& move, const Panel& panel, double spanMs) {
    const double scale = ScaleOf(move, panel);
    const double middle = panel.top + kPanelHeight / 2;
    const double bottom = panel.top + kPanelHeight;
    auto y = [&](double value) { return middle - value / scale * (kPanelHeight / 2); };

    out += "<rect x=\"" + Px(kLeft) + "\" y=\"" + Px(panel.top) + "\" width=\"" + Px(kPlotWidth) +
           "\" height=\"" + Px(kPanelHeight) + "\" fill=\"#fafafa\" stroke=\"#bbb\"/>\n";
    AppendText(out, kLeft, panel.top - 7, "start", panel.title, "#222");
    const double step = TimeStepMs(spanMs);
    for (double t = step; t < spanMs; t += step) {
        const double x = kLeft + t / spanMs * kPlotWidth;
        AppendLine(out, x, panel.top, x, bottom, kGridColour);
    }
    AppendLine(out, kLeft, middle, kLeft + kPlotWidth, middle, "#999");
    AppendText(out, kLeft - 6, middle + 4, "end", "0");
    for (const double sign : {1.0, -1.0}) {
        const double at = y(sign * panel.limit);
        AppendLine(out, kLeft, at, kLeft + kPlotWidth, at, kLimitColour,
                   " stroke-dasharray=\"6 4\"");
        AppendText(out, kLeft - 6, at + 4, "end",
                   (sign < 0 ? "-" : "") + std::string(panel.limitText), kLimitColour);
    }
    // The scale's ends are labelled only where they do not crowd the limits' labels.
    if (y(panel.limit) - panel.top > 14) {
        AppendText(out, kLeft - 6, panel.top + 10, "end", Fixed(scale, panel.decimals));
        AppendText(out, kLeft - 6, bottom, "end", Fixed(-scale, panel.decimals));
    }
    AppendTrace(out, move, panel, spanMs, scale);
    if (move.aborted && move.abortCycle >= 0 &&
        static_cast<std::size_t>(move.abortCycle) < move.samples.size()) {
        const double x = kLeft + move.samples[move.abortCycle].timeMs / spanMs * kPlotWidth;
        AppendLine(out, x, panel.top, x, bottom, kLimitColour, " stroke-width=\"1.5\"");
    }
}

void AppendMarks(std::string& out, const MoveTrace& move,
                 const std::vector<finder::Finding>& findings, double spanMs) {
    for (const finder::Finding& finding : findings) {
        for (const finder::WatchStretch& mark : finding.marks) {
            if (mark.moveIndex != move.moveIndex || finding.axis != move.axis) {
                continue;
            }
            const double x = kLeft + mark.fromMs / spanMs * kPlotWidth;
            const double width = std::max(2.0, (mark.toMs - mark.fromMs) / spanMs * kPlotWidth);
            out += "<rect class=\"finding\" x=\"" + Px(x) + "\" y=\"" + Px(kTop) +
                   "\" width=\"" + Px(width) + "\" height=\"" + Px(kPanelHeight) +
                   "\" fill=\"#b26a00\" fill-opacity=\"0.15\"/>\n";
            AppendText(out, x + 3, kTop + 12, "start", html::Escaped(finding.Headline()),
                       "#b26a00");
        }
    }
}

void AppendTimeAxis(std::string& out, double spanMs) {
    const double labels = kTop + 2 * kPanelHeight + kPanelGap + 16;
    const double step = TimeStepMs(spanMs);
    for (double t = 0; t <= spanMs + 0.5; t += step) {
        AppendText(out, kLeft + t / spanMs * kPlotWidth, labels, "middle", Fixed(t, 0));
    }
    AppendText(out, kLeft + kPlotWidth, labels + 16, "end", "time since the watch began (ms)");
}

}  // namespace

void AppendTracePlot(std::string& out, const MoveTrace& move,
                     const std::vector<finder::Finding>& findings) {
    const double spanMs = TimeSpanMs(move);
    const Panel torque{"Torque (V)", kTorqueLimit, "3.1", 2, "#1f5fbf", &TraceSample::torque, kTop};
    const Panel error{
        "Position error (counts)", static_cast<double>(kErrorLimit), "700", 0, "#7b3fa0",
        &TraceSample::error,       kTop + kPanelHeight + kPanelGap};
    out += "<svg width=\"" + Px(kWidth) + "\" height=\"" + Px(kHeight) + "\" viewBox=\"0 0 " +
           Px(kWidth) + " " + Px(kHeight) +
           "\" font-family=\"sans-serif\" font-size=\"11\" role=\"img\">\n";
    out += "<title>";
    out += move.axis;
    out += " to " + Fixed(move.target, 0) + ": torque and position error</title>\n";
    AppendPanel(out, move, torque, spanMs);
    AppendMarks(out, move, findings, spanMs);
    AppendPanel(out, move, error, spanMs);
    AppendTimeAxis(out, spanMs);
    out += "</svg>\n";
}

}  // namespace trevane
