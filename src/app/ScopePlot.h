#pragma once

#include <array>
#include <optional>
#include <vector>

#include <QColor>
#include <QString>

#include <qcustomplot.h>

#include "scope/Acquisition.h"
#include "scope/RecordValues.h"
#include "scope/ScopeBuffer.h"

namespace trevane {

// One trace of the scope: which value, in which unit, on which scale.
struct ScopeTrace {
    scope::Channel channel;
    bool volts = false;  // torque and analog: volts instead of the record's counts
    bool autoScale = true;
    double low = -1000;
    double high = 1000;

    // What one raw value is worth in the trace's unit.
    double Scale() const;
    bool CanShowVolts() const { return scope::HasVolts(channel.row); }
    QString Unit() const;
    // "X torque", as `record --watch --csv` names the value.
    QString Name() const;
    // "X torque (V)": the name with the unit, where it has one.
    QString Label() const;
};

// The traces stacked one above the other on one time axis, each with its own value axis, and
// two cursors across all of them.
class ScopePlot final : public QCustomPlot {
    Q_OBJECT
  public:
    static constexpr int kMaxTraces = 8;
    static const std::array<QColor, kMaxTraces> kColours;

    explicit ScopePlot(QWidget* parent = nullptr);

    void SetTraces(const std::vector<ScopeTrace>& traces);
    const std::vector<ScopeTrace>& Traces() const { return traces_; }
    // The frame's records of every trace, against time in seconds from the frame's origin.
    void Draw(const scope::ScopeBuffer& buffer, const scope::Frame& frame);
    // The same without drawing; the axes' ranges are set.
    void Fill(const scope::ScopeBuffer& buffer, const scope::Frame& frame);

    QCPGraph* Graph(int trace) const { return graphs_.at(static_cast<std::size_t>(trace)); }
    QCPAxis* ValueAxis(int trace) const;
    QCPAxis* TimeAxis() const;

    // Cursor 0 (A) and 1 (B), in seconds on the time axis; a left click places A, a right
    // click B.
    void SetCursor(int which, std::optional<double> seconds);
    std::optional<double> Cursor(int which) const { return cursors_.at(which); }
    // The shown value of a trace nearest to a time; none in a gap or away from every record.
    std::optional<double> ValueAt(int trace, double seconds) const;

  signals:
    void CursorsMoved();

  protected:
    void mousePressEvent(QMouseEvent* event) override;

  private:
    void PlaceCursorLines();

    std::vector<ScopeTrace> traces_;
    std::vector<QCPAxisRect*> rects_;
    std::vector<QCPGraph*> graphs_;
    std::vector<QCPItemText*> names_;
    std::vector<std::array<QCPItemStraightLine*, 2>> cursorLines_;
    std::array<std::optional<double>, 2> cursors_;
    QCPMarginGroup* margins_ = nullptr;
    bool axesChanged_ = true;
    std::vector<scope::Point> points_;  // reused between draws
};

}  // namespace trevane
