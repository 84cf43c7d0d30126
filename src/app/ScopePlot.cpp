#include "app/ScopePlot.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "console/StatusMonitor.h"

namespace trevane {
namespace {

constexpr double kMargin = 0.05;  // of the span, above and below the values
// A cursor reads a trace only this close to one of its records.
constexpr double kNearestSeconds = std::chrono::duration<double>(scope::kJoinLimit).count();

const QString kTraceLayer = QStringLiteral("traces");

const QColor kCursorColours[2] = {QColor(0x20, 0x20, 0x20), QColor(0x80, 0x20, 0x80)};

double Seconds(scope::TimePoint time, scope::TimePoint origin) {
    return std::chrono::duration<double>(time - origin).count();
}

// Whole multiples of a round step, so that the scale changes in steps rather than on every look.
QCPRange RoundedOut(double low, double high) {
    const double step = std::pow(10.0, std::floor(std::log10((high - low) / 5)));
    return {std::floor(low / step) * step, std::ceil(high / step) * step};
}

// An automatic scale stays while the values fill at least a third of it, so that a trace does not
// jitter and an unchanged scale lets the axes be left as they are drawn. It keeps the margin
// either side too: a trace that comes to rest at its extreme would otherwise lie on the frame's
// edge, where a flat line cannot be seen.
QCPRange ValueRange(const ScopeTrace& trace, const QCPRange& shown, double low, double high,
                    bool any) {
    if (!trace.autoScale) {
        return {std::min(trace.low, trace.high), std::max(trace.low, trace.high)};
    }
    if (scope::IsFlagRow(trace.channel.row)) {
        return {-0.2, 1.2};
    }
    if (!any) {
        return shown;
    }
    const double span = high - low;
    // A value that stands still gets some room either side, at least one count.
    const double pad = span > 0 ? span * kMargin : std::max(std::abs(low) * kMargin, trace.Scale());
    if (low - pad >= shown.lower && high + pad <= shown.upper && span >= shown.size() / 3) {
        return shown;
    }
    return RoundedOut(low - pad, high + pad);
}

}  // namespace

const std::array<QColor, ScopePlot::kMaxTraces> ScopePlot::kColours = {
    QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x5f, 0x00), QColor(0x2c, 0xa0, 0x2c),
    QColor(0xd6, 0x27, 0x28), QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
    QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf)};

double ScopeTrace::Scale() const {
    return volts && CanShowVolts() ? scope::Volts(1.0) : 1.0;
}

QString ScopeTrace::Unit() const {
    return volts && CanShowVolts() ? QStringLiteral("V")
                                   : QString::fromLatin1(scope::RowUnit(channel.row));
}

QString ScopeTrace::Name() const {
    return QString::fromStdString(StatusFieldName(channel.axis, channel.row));
}

QString ScopeTrace::Label() const {
    const QString unit = Unit();
    return unit.isEmpty() ? Name() : Name() + QStringLiteral(" (") + unit + QLatin1Char(')');
}

ScopePlot::ScopePlot(QWidget* parent) : QCustomPlot(parent) {
    setObjectName(QStringLiteral("ScopePlot"));
    // Thin unsmoothed lines draw fastest, and at the poll rate smoothing shows nothing more.
    setNotAntialiasedElements(QCP::aeAll);
    setPlottingHints(QCP::phCacheLabels);
    // The axes, grid and cursors share one paint buffer, the traces have one of their own.
    layer(QStringLiteral("overlay"))->setMode(QCPLayer::lmLogical);
    addLayer(kTraceLayer, layer(QStringLiteral("main")), QCustomPlot::limAbove);
    layer(kTraceLayer)->setMode(QCPLayer::lmBuffered);
    SetTraces({});
}

void ScopePlot::SetTraces(const std::vector<ScopeTrace>& traces) {
    axesChanged_ = true;
    const bool sameValues =
        std::equal(traces.begin(), traces.end(), traces_.begin(), traces_.end(),
                   [](const ScopeTrace& a, const ScopeTrace& b) { return a.channel == b.channel; });
    traces_ = traces;
    if (sameValues && !traces_.empty()) {
        // Only units or scales changed: the next draw applies them.
        for (std::size_t i = 0; i < traces_.size(); ++i) {
            names_[i]->setText(traces_[i].Label());
            graphs_[i]->setName(traces_[i].Label());
        }
        return;
    }
    clearItems();
    clearGraphs();
    plotLayout()->clear();
    rects_.clear();
    graphs_.clear();
    names_.clear();
    cursorLines_.clear();
    delete margins_;
    margins_ = new QCPMarginGroup(this);
    if (traces_.empty()) {
        plotLayout()->addElement(
            0, 0,
            new QCPTextElement(this, QStringLiteral("Add a trace, or double-click a value in the "
                                                    "status table.")));
        replot();
        return;
    }
    for (std::size_t i = 0; i < traces_.size(); ++i) {
        auto* rect = new QCPAxisRect(this);
        plotLayout()->addElement(static_cast<int>(i), 0, rect);
        rect->setMarginGroup(QCP::msLeft | QCP::msRight, margins_);
        rect->setRangeDrag(Qt::Orientations());
        rect->setRangeZoom(Qt::Orientations());
        QCPAxis* time = rect->axis(QCPAxis::atBottom);
        QCPAxis* value = rect->axis(QCPAxis::atLeft);
        for (QCPAxis* axis : {time, value}) {
            // Solid grid lines: a dotted pen goes through the general stroker pixel by pixel.
            axis->grid()->setPen(QPen(QColor(0xe0, 0xe0, 0xe0), 0));
            axis->grid()->setZeroLinePen(QPen(QColor(0xb0, 0xb0, 0xb0), 0));
            axis->setSubTicks(false);
        }
        const bool last = i + 1 == traces_.size();
        time->setTickLabels(last);
        time->setLabel(last ? QStringLiteral("time (s)") : QString());
        value->setTickLabelColor(kColours[i]);
        value->ticker()->setTickCount(4);
        QCPGraph* graph = addGraph(time, value);
        graph->setLayer(kTraceLayer);
        QPen pen(kColours[i]);
        pen.setCosmetic(true);
        graph->setPen(pen);
        graph->setName(traces_[i].Label());
        // The name inside the trace's own strip: a rotated axis label does not fit a low strip.
        auto* name = new QCPItemText(this);
        name->setClipAxisRect(rect);
        name->position->setAxisRect(rect);
        name->position->setType(QCPItemPosition::ptAxisRectRatio);
        name->position->setCoords(0.005, 0.02);
        name->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
        name->setColor(kColours[i]);
        name->setBrush(QBrush(QColor(255, 255, 255, 200)));
        name->setText(traces_[i].Label());
        names_.push_back(name);
        graphs_.push_back(graph);
        rects_.push_back(rect);
        std::array<QCPItemStraightLine*, 2> lines{};
        for (int which = 0; which < 2; ++which) {
            auto* line = new QCPItemStraightLine(this);
            line->setClipAxisRect(rect);
            for (QCPItemPosition* point : {line->point1, line->point2}) {
                point->setAxes(time, value);
            }
            QPen cursorPen(kCursorColours[which]);
            cursorPen.setStyle(which == 0 ? Qt::DashLine : Qt::DashDotLine);
            cursorPen.setCosmetic(true);
            line->setPen(cursorPen);
            lines[static_cast<std::size_t>(which)] = line;
        }
        cursorLines_.push_back(lines);
    }
    PlaceCursorLines();
}

QCPAxis* ScopePlot::ValueAxis(int trace) const {
    return rects_.at(static_cast<std::size_t>(trace))->axis(QCPAxis::atLeft);
}

QCPAxis* ScopePlot::TimeAxis() const {
    return rects_.empty() ? nullptr : rects_.back()->axis(QCPAxis::atBottom);
}

void ScopePlot::Draw(const scope::ScopeBuffer& buffer, const scope::Frame& frame) {
    Fill(buffer, frame);
    // The traces have a buffer of their own: while the axes stand, only it is drawn anew.
    if (axesChanged_) {
        axesChanged_ = false;
        replot();
    } else {
        layer(kTraceLayer)->replot();
    }
}

void ScopePlot::Fill(const scope::ScopeBuffer& buffer, const scope::Frame& frame) {
    const double start = Seconds(frame.start, frame.origin);
    const double end = Seconds(frame.end, frame.origin);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (std::size_t i = 0; i < traces_.size(); ++i) {
        const ScopeTrace& trace = traces_[i];
        points_.clear();
        buffer.Read(trace.channel.Index(), frame.start, frame.end, points_);
        QVector<QCPGraphData> data;
        data.reserve(static_cast<qsizetype>(points_.size() + points_.size() / 8 + 1));
        double low = std::numeric_limits<double>::infinity();
        double high = -low;
        const double scale = trace.Scale();
        for (const scope::Point& point : points_) {
            const double key = Seconds(point.time, frame.origin);
            if (!point.joined && !data.isEmpty()) {
                // A point without a value between two records breaks the line.
                data.append({(data.last().key + key) / 2, nan});
            }
            const double value = point.value * scale;
            low = std::min(low, value);
            high = std::max(high, value);
            data.append({key, value});
        }
        graphs_[i]->data()->set(data, true);
        QCPAxis* value = rects_[i]->axis(QCPAxis::atLeft);
        const QCPRange range = ValueRange(trace, value->range(), low, high, !data.isEmpty());
        QCPAxis* time = rects_[i]->axis(QCPAxis::atBottom);
        if (range != value->range() || time->range() != QCPRange(start, end)) {
            axesChanged_ = true;
            value->setRange(range);
            time->setRange(start, end);
        }
    }
}

void ScopePlot::SetCursor(int which, std::optional<double> seconds) {
    cursors_.at(static_cast<std::size_t>(which)) = seconds;
    PlaceCursorLines();
    replot(rpQueuedReplot);
    emit CursorsMoved();
}

void ScopePlot::PlaceCursorLines() {
    for (const auto& lines : cursorLines_) {
        for (std::size_t which = 0; which < 2; ++which) {
            const std::optional<double>& at = cursors_[which];
            lines[which]->setVisible(at.has_value());
            // Two points on one time: a vertical line, whatever the value axis shows.
            lines[which]->point1->setCoords(at.value_or(0), 0);
            lines[which]->point2->setCoords(at.value_or(0), 1);
        }
    }
}

std::optional<double> ScopePlot::ValueAt(int trace, double seconds) const {
    const QSharedPointer<QCPGraphDataContainer> data = Graph(trace)->data();
    if (data->isEmpty()) {
        return std::nullopt;
    }
    auto nearest = data->findBegin(seconds, false);
    if (nearest == data->constEnd() ||
        (nearest != data->constBegin() &&
         std::abs(std::prev(nearest)->key - seconds) < std::abs(nearest->key - seconds))) {
        nearest = std::prev(nearest);
    }
    if (std::isnan(nearest->value) || std::abs(nearest->key - seconds) > kNearestSeconds) {
        return std::nullopt;
    }
    return nearest->value;
}

void ScopePlot::mousePressEvent(QMouseEvent* event) {
    QCustomPlot::mousePressEvent(event);
    if (rects_.empty() ||
        (event->button() != Qt::LeftButton && event->button() != Qt::RightButton)) {
        return;
    }
    const double seconds = TimeAxis()->pixelToCoord(event->position().x());
    SetCursor(event->button() == Qt::LeftButton ? 0 : 1, seconds);
}

}  // namespace trevane
