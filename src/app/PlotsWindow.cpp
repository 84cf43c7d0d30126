#include "app/PlotsWindow.h"
#include "autotest/TestRecorder.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <string>
#include <vector>

#include <QGridLayout>
#include <QLabel>
#include <QPen>
#include <QVBoxLayout>

#include <qcustomplot.h>

#include "autotest/TestLog.h"
#include "controller/Controller.h"
#include "history/History.h"
#include "report/AxisVerdict.h"
#include "report/TestReport.h"
#include "report/TestVerdict.h"
#include "report/TestWarnings.h"

namespace trevane {
namespace {

// A clean move's watch lasts 200 cycles of 10 ms plus two exchanges; the axes start there and
// only grow, so that the limits stay in view and the plots of one test compare directly.
constexpr double kTimeSpanMs = 2200;
constexpr double kTorqueSpan = 4.0;  // volts, above the 3.1 V limit
constexpr double kErrorSpan = 1000;  // counts, above the 700-count limit
constexpr double kGrowth = 1.2;

const QColor kTorqueColour(0x1f, 0x77, 0xb4);
const QColor kErrorColour(0xd6, 0x5f, 0x00);

QString MoveName(int moveIndex) {
    const char axis = "XYZ"[moveIndex / 2];
    return QStringLiteral("%1 to %2")
        .arg(QChar::fromLatin1(axis))
        .arg(moveIndex % 2 == 0 ? -20000 : 0);
}

void StyleAxis(QCPAxis* axis, const QString& label, double low, double high, const QColor& colour) {
    axis->setVisible(true);
    axis->setLabel(label);
    axis->setRange(low, high);
    axis->ticker()->setTickCount(5);
    if (colour.isValid()) {
        axis->setLabelColor(colour);
        axis->setTickLabelColor(colour);
    }
}

QPen TracePen(const QColor& colour, Qt::PenStyle style) {
    QPen pen(colour);
    pen.setWidthF(style == Qt::SolidLine ? 1.5 : 1.0);
    pen.setStyle(style);
    // Cosmetic pens take the raster engine's fast line path; a scaled dashed pen goes through
    // the general stroker on every repaint.
    pen.setCosmetic(true);
    return pen;
}

QCPGraph* MakeGraph(QCustomPlot* view, const QColor& colour, Qt::PenStyle style, QCPAxis* value) {
    QCPGraph* graph = view->addGraph(view->xAxis, value);
    graph->setPen(TracePen(colour, style));
    return graph;
}

// A limit across the whole plot, however far the time axis grows.
QCPItemStraightLine* MakeLimit(QCustomPlot* view, const QColor& colour, QCPAxis* value,
                               double level) {
    auto* line = new QCPItemStraightLine(view);
    line->setPen(TracePen(colour, Qt::DashLine));
    for (QCPItemPosition* point : {line->point1, line->point2}) {
        point->setAxes(view->xAxis, value);
    }
    line->point1->setCoords(0, level);
    line->point2->setCoords(1, level);
    return line;
}

// "torque limit -3.1 V": which limit a dashed line is, beside it, in its colour. The torque's
// stand at the left, the error's at the right, as their axes do: their lines lie close together.
QCPItemText* MakeLimitLabel(QCustomPlot* view, const QCPItemStraightLine* line, const QString& name,
                            const QString& unit, bool atLeft) {
    const double level = line->point1->value();
    auto* label = new QCPItemText(view);
    label->position->setAxes(view->xAxis, line->point1->valueAxis());
    label->position->setAxisRect(view->axisRect());
    label->position->setTypeX(QCPItemPosition::ptAxisRectRatio);
    label->position->setTypeY(QCPItemPosition::ptPlotCoords);
    label->position->setCoords(atLeft ? 0.01 : 0.99, level);
    // Above a line over zero, below one under it: towards the plot's edge, away from the traces.
    label->setPositionAlignment((atLeft ? Qt::AlignLeft : Qt::AlignRight) |
                                (level >= 0 ? Qt::AlignBottom : Qt::AlignTop));
    label->setColor(line->pen().color());
    label->setText(QStringLiteral("%1 limit %2 %3").arg(name, QString::number(level), unit));
    return label;
}

QString MoveStatus(const MoveSummary& move) {
    if (move.aborted) {
        return QStringLiteral("aborted: %1 %2")
            .arg(QString::fromLatin1(AbortReasonText(move.abortReason)),
                 QString::fromLocal8Bit(move.abortReading));
    }
    if (move.Reported()) {
        // How close to the limits: what is left before a move is aborted.
        const double torqueShare = static_cast<double>(move.maxTorque) / kTorqueLimit * 100.0;
        const double errorShare =
            static_cast<double>(move.moveMaxError) / static_cast<double>(kErrorLimit) * 100.0;
        return QStringLiteral("max %1 V (%2 % of its limit), %3 counts (%4 % of its limit)")
            .arg(QString::number(move.maxTorque, 'f', 2))
            .arg(std::lround(torqueShare))
            .arg(QString::number(move.moveMaxError, 'f', 0))
            .arg(std::lround(errorShare));
    }
    return move.watchEnded ? QStringLiteral("watch ended") : QStringLiteral("running");
}

// "  Y: passed, torque at 97 % of its limit."
QString AxisText(const AxisVerdict& verdict) {
    const std::string nearLimit = verdict.NearLimitText();
    return QStringLiteral("  %1: %2.")
        .arg(QChar::fromLatin1(verdict.axis))
        .arg(QString::fromLocal8Bit(verdict.Text() + (nearLimit.empty() ? "" : ", " + nearLimit)));
}

// What a running test is doing now: "Test 1 running: X moving to -20000 (cycle 120 of 200)",
// then the verdicts of the axes it is done with.
QString RunningText(const TestRecord& summary) {
    QString text = QStringLiteral("Test %1 running: ").arg(summary.testNumber);
    if (summary.moves.empty()) {
        text += QStringLiteral("configuration checks");
    } else if (const MoveSummary& move = summary.moves.back(); !move.watchEnded && !move.aborted) {
        text += QStringLiteral("%1 moving to %2 (cycle %3 of %4)")
                    .arg(QChar::fromLatin1(move.axis))
                    .arg(move.target)
                    .arg(move.sampleCount)
                    .arg(kCyclesPerMove);
    } else {
        text += QStringLiteral("after %1's move to %2")
                    .arg(QChar::fromLatin1(move.axis))
                    .arg(move.target);
    }
    text += QLatin1Char('.');
    for (const char axis : {'X', 'Y', 'Z'}) {
        const AxisVerdict verdict = VerdictOf(summary, axis);
        if (verdict.kind == AxisVerdict::Kind::Passed ||
            verdict.kind == AxisVerdict::Kind::Aborted) {
            text += AxisText(verdict);
        }
    }
    return text;
}

}  // namespace

PlotsWindow::PlotsWindow(Controller& controller, QWidget* parent)
    : QWidget(parent, Qt::Window), controller_(controller), recorder_(controller.Recorder()) {
    setObjectName(QStringLiteral("PlotsWindow"));
    setWindowTitle(QStringLiteral("Trevane \u2014 Plots"));
    setAttribute(Qt::WA_DeleteOnClose, false);  // closing hides it; reopening shows the same

    auto* layout = new QVBoxLayout(this);
    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("PlotsSummary"));
    summary_->setTextFormat(Qt::PlainText);
    summary_->setWordWrap(true);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(summary_);

    auto* grid = new QGridLayout;
    for (int move = 0; move < kMovesPerTest; ++move) {
        plots_[static_cast<std::size_t>(move)] = MakePlot(move);
        grid->addWidget(plots_[static_cast<std::size_t>(move)].view, move / 2, move % 2);
    }
    layout->addLayout(grid, 1);
    resize(960, 760);

    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &PlotsWindow::Refresh);
    summary_->setText(QStringLiteral("No automatic test has run yet."));
}

PlotsWindow::~PlotsWindow() = default;

PlotsWindow::MovePlot PlotsWindow::MakePlot(int moveIndex) {
    MovePlot plot;
    plot.view = new QCustomPlot(this);
    plot.view->setObjectName(QStringLiteral("Move%1").arg(moveIndex));
    plot.view->setNotAntialiasedElements(QCP::aeAll);
    plot.view->setMinimumSize(300, 200);
    plot.title = MoveName(moveIndex);
    plot.view->plotLayout()->insertRow(0);
    plot.heading = new QCPTextElement(plot.view, plot.title);
    plot.view->plotLayout()->addElement(0, 0, plot.heading);

    plot.time = plot.view->xAxis;
    plot.torqueAxis = plot.view->yAxis;
    plot.errorAxis = plot.view->yAxis2;
    StyleAxis(plot.time, QStringLiteral("time (ms)"), 0, kTimeSpanMs, QColor());
    StyleAxis(plot.torqueAxis, QStringLiteral("torque (V)"), -kTorqueSpan, kTorqueSpan,
              kTorqueColour);
    StyleAxis(plot.errorAxis, QStringLiteral("error (counts)"), -kErrorSpan, kErrorSpan,
              kErrorColour);

    plot.limits[0] = MakeLimit(plot.view, kTorqueColour, plot.torqueAxis, kTorqueLimit);
    plot.limits[1] = MakeLimit(plot.view, kTorqueColour, plot.torqueAxis, -kTorqueLimit);
    plot.limits[2] = MakeLimit(plot.view, kErrorColour, plot.errorAxis, kErrorLimit);
    plot.limits[3] = MakeLimit(plot.view, kErrorColour, plot.errorAxis, -kErrorLimit);
    for (std::size_t i = 0; i < plot.limits.size(); ++i) {
        const bool torque = i < 2;
        plot.limitLabels[i] = MakeLimitLabel(
            plot.view, plot.limits[i], torque ? QStringLiteral("torque") : QStringLiteral("error"),
            torque ? QStringLiteral("V") : QStringLiteral("counts"), torque);
    }
    // Drawn first, so the current move lies on top.
    plot.previousTorque =
        MakeGraph(plot.view, kTorqueColour.lighter(170), Qt::DashLine, plot.torqueAxis);
    plot.previousError =
        MakeGraph(plot.view, kErrorColour.lighter(170), Qt::DashLine, plot.errorAxis);
    plot.torque = MakeGraph(plot.view, kTorqueColour, Qt::SolidLine, plot.torqueAxis);
    plot.error = MakeGraph(plot.view, kErrorColour, Qt::SolidLine, plot.errorAxis);
    plot.torque->setName(QStringLiteral("torque"));
    plot.error->setName(QStringLiteral("error"));
    return plot;
}

void PlotsWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Refresh();
    refresh_.start();
}

void PlotsWindow::hideEvent(QHideEvent* event) {
    // A hidden window costs the test nothing; showing it again catches up in one step.
    refresh_.stop();
    QWidget::hideEvent(event);
}

void PlotsWindow::Refresh() {
    const std::uint64_t version = recorder_.Version();
    // The report is written after the record's last change, so its name is looked for until
    // it is there.
    if (version == shownVersion_ && !awaitingReport_ && !awaitingVerdict_) {
        return;
    }
    shownVersion_ = version;
    const TestRecord summary = recorder_.Summary();
    if (summary.testNumber != shownTest_ || summary.startTime != shownStart_) {
        StartTest(summary);
    }
    // Only while the test runs: once it ended, the history's latest test is this one.
    if (!previousShown_ && summary.identity && summary.outcome == TestOutcome::Running) {
        ShowPreviousTraces(*summary.identity);
    }
    for (const MoveTrace& move : summary.moves) {
        UpdateMove(move);
    }
    UpdateSummary(summary);
    MarkFindings(summary);
    for (MovePlot& plot : plots_) {
        if (plot.changed) {
            plot.changed = false;
            plot.view->replot(QCustomPlot::rpQueuedReplot);
        }
    }
}

void PlotsWindow::ShowPreviousTraces(const std::string& connectionText) {
    previousShown_ = true;
    try {
        history::History store(controller_.History().Path(), history::History::Access::Read);
        for (int move = 0; move < kMovesPerTest; ++move) {
            MovePlot& plot = plots_[static_cast<std::size_t>(move)];
            QVector<QCPGraphData> torque;
            QVector<QCPGraphData> error;
            for (const TraceSample& sample : store.PreviousTrace(connectionText, move)) {
                torque.append({sample.timeMs, sample.torque});
                error.append({sample.timeMs, sample.error});
                FitAxes(plot, sample.torque, sample.error, sample.timeMs);
            }
            plot.previousTorque->data()->set(torque);
            plot.previousError->data()->set(error);
            plot.changed = true;
        }
    } catch (const std::exception&) {
        // No history to compare with is no fault of the plots; the test's own strip says why.
    }
}

void PlotsWindow::ClearFindingMarks() {
    for (MovePlot& plot : plots_) {
        for (QCPItemRect* mark : plot.findingMarks) {
            plot.view->removeItem(mark);
        }
        for (QCPItemText* label : plot.findingLabels) {
            plot.view->removeItem(label);
        }
        plot.changed = plot.changed || !plot.findingMarks.empty();
        plot.findingMarks.clear();
        plot.findingLabels.clear();
    }
}

void PlotsWindow::MarkFindings(const TestRecord& summary) {
    const bool ended =
        summary.outcome != TestOutcome::Running && summary.outcome != TestOutcome::NoConnection;
    if (!ended || findingsMarked_) {
        awaitingVerdict_ = false;
        return;
    }
    // The verdict follows the record's last change; until it is there, keep looking.
    const std::optional<TestVerdict> verdict = controller_.Conclusion().LastVerdict();
    if (!verdict || verdict->testNumber != summary.testNumber) {
        awaitingVerdict_ = true;
        return;
    }
    awaitingVerdict_ = false;
    findingsMarked_ = true;
    ClearFindingMarks();
    for (const finder::Finding& finding : verdict->findings) {
        for (const finder::WatchStretch& stretch : finding.marks) {
            if (stretch.moveIndex < 0 || stretch.moveIndex >= kMovesPerTest) {
                continue;
            }
            MovePlot& plot = plots_[static_cast<std::size_t>(stretch.moveIndex)];
            auto* mark = new QCPItemRect(plot.view);
            // Across the whole height, over the stretch of the watch.
            for (QCPItemPosition* corner : {mark->topLeft, mark->bottomRight}) {
                corner->setAxes(plot.time, plot.torqueAxis);
                corner->setAxisRect(plot.time->axisRect());
                corner->setTypeX(QCPItemPosition::ptPlotCoords);
                corner->setTypeY(QCPItemPosition::ptAxisRectRatio);
            }
            mark->topLeft->setCoords(stretch.fromMs, 0);
            mark->bottomRight->setCoords(stretch.toMs, 1);
            mark->setPen(Qt::NoPen);
            mark->setBrush(QColor(0xb2, 0x6a, 0x00, 40));
            auto* label = new QCPItemText(plot.view);
            label->position->setAxes(plot.time, plot.torqueAxis);
            label->position->setAxisRect(plot.time->axisRect());
            label->position->setTypeX(QCPItemPosition::ptPlotCoords);
            label->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
            label->position->setCoords(stretch.fromMs, 0.02);
            label->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setColor(QColor(0xb2, 0x6a, 0x00));
            label->setText(QString::fromLocal8Bit(finding.Headline()));
            plot.findingMarks.push_back(mark);
            plot.findingLabels.push_back(label);
            plot.changed = true;
        }
    }
}

void PlotsWindow::StartTest(const TestRecord& summary) {
    previousShown_ = false;
    findingsMarked_ = false;
    ClearFindingMarks();
    shownTest_ = summary.testNumber;
    shownStart_ = summary.startTime;
    for (int move = 0; move < kMovesPerTest; ++move) {
        MovePlot& plot = plots_[static_cast<std::size_t>(move)];
        for (QCPGraph* graph : {plot.torque, plot.error, plot.previousTorque, plot.previousError}) {
            graph->data()->clear();
        }
        plot.drawn = 0;
        plot.time->setRange(0, kTimeSpanMs);
        plot.torqueAxis->setRange(-kTorqueSpan, kTorqueSpan);
        plot.errorAxis->setRange(-kErrorSpan, kErrorSpan);
        SetTitle(plot, MoveName(move));
        plot.changed = true;
    }
}

void PlotsWindow::UpdateMove(const MoveSummary& move) {
    if (move.moveIndex < 0 || move.moveIndex >= kMovesPerTest) {
        return;
    }
    MovePlot& plot = plots_[static_cast<std::size_t>(move.moveIndex)];
    if (move.sampleCount > plot.drawn) {
        const std::vector<TraceSample> samples = recorder_.SamplesSince(move.moveIndex, plot.drawn);
        QVector<QCPGraphData> torque;
        QVector<QCPGraphData> error;
        torque.reserve(static_cast<qsizetype>(samples.size()));
        error.reserve(static_cast<qsizetype>(samples.size()));
        for (const TraceSample& sample : samples) {
            torque.append({sample.timeMs, sample.torque});
            error.append({sample.timeMs, sample.error});
            FitAxes(plot, sample.torque, sample.error, sample.timeMs);
        }
        // Samples come in time order, so they are appended without a sort.
        plot.torque->data()->add(torque, true);
        plot.error->data()->add(error, true);
        plot.drawn += samples.size();
        plot.changed = true;
    }
    SetTitle(plot, MoveName(move.moveIndex) + QStringLiteral(" \u2014 ") + MoveStatus(move));
}

void PlotsWindow::SetTitle(MovePlot& plot, const QString& title) {
    if (title != plot.title) {
        plot.title = title;
        plot.heading->setText(title);
        plot.changed = true;
    }
}

void PlotsWindow::FitAxes(MovePlot& plot, float torque, float error, double timeMs) {
    if (timeMs > plot.time->range().upper) {
        plot.time->setRangeUpper(timeMs * kGrowth);
    }
    const double torqueSpan = std::abs(static_cast<double>(torque));
    if (std::isfinite(torqueSpan) && torqueSpan > plot.torqueAxis->range().upper) {
        plot.torqueAxis->setRange(-torqueSpan * kGrowth, torqueSpan * kGrowth);
    }
    const double errorSpan = std::abs(static_cast<double>(error));
    if (std::isfinite(errorSpan) && errorSpan > plot.errorAxis->range().upper) {
        plot.errorAxis->setRange(-errorSpan * kGrowth, errorSpan * kGrowth);
    }
}

void PlotsWindow::UpdateSummary(const TestRecord& summary) {
    QString text;
    if (summary.testNumber == 0) {
        text = QStringLiteral("No automatic test has run yet.");
    } else if (summary.outcome == TestOutcome::Running) {
        awaitingReport_ = false;
        text = RunningText(summary);
    } else {
        text = QStringLiteral("Test %1: %2.")
                   .arg(summary.testNumber)
                   .arg(QString::fromLatin1(TestOutcomeText(summary.outcome)));
        std::vector<AxisVerdict> axes;
        for (const char axis : {'X', 'Y', 'Z'}) {
            axes.push_back(VerdictOf(summary, axis));
            text += AxisText(axes.back());
        }
        // The margins are told with their axes; the rest of what wants a look, each once.
        for (const TestWarning& warning : WarningsOf(summary, axes)) {
            if (warning.kind != TestWarning::Kind::NearLimit) {
                text += QStringLiteral("\nWarning: ") +
                        QString::fromLocal8Bit(warning.Text()) + QLatin1Char('.');
            }
        }
        const bool ended =
            summary.outcome != TestOutcome::Running && summary.outcome != TestOutcome::NoConnection;
        const TestConclusion& conclusion = controller_.Conclusion();
        const std::optional<TestReportResult> report =
            ended && conclusion.ReportEnabled() ? conclusion.LastReport() : std::nullopt;
        const bool reportShown =
            report && report->files.html ==
                          ReportFileNames(controller_.Log().FilePath(), summary.testNumber).html;
        awaitingReport_ = ended && conclusion.ReportEnabled() && !reportShown;
        if (reportShown) {
            text += QStringLiteral("\nReport: ") + QString::fromLocal8Bit(report->files.html);
            if (report->failure) {
                text += QStringLiteral(" (") + QString::fromLocal8Bit(*report->failure) +
                        QStringLiteral(")");
            }
        }
    }
    if (text != summary_->text()) {
        summary_->setText(text);
    }
}

QString PlotsWindow::SummaryText() const {
    return summary_->text();
}

}  // namespace trevane
