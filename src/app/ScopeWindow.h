#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include <QString>
#include <QTimer>
#include <QWidget>

#include "app/ScopePlot.h"
#include "scope/Acquisition.h"
#include "scope/ScopeBuffer.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGridLayout;
class QLabel;
class QPushButton;
class QTableWidget;
class QVBoxLayout;

namespace trevane {

// Any of the status table's 52 values live, up to eight at once, from the records the status
// monitor polls anyway: run, single or stop, free running or on a trigger, two cursors, and
// export of what is shown. A top-level window of its own; closing it changes nothing else.
class ScopeWindow final : public QWidget {
    Q_OBJECT
  public:
    // 20 Hz: smooth for the eye at a few percent of a core.
    static constexpr int kRefreshMs = 50;
    static constexpr std::array<int, 3> kSpansSeconds = {2, 10, 60};

    explicit ScopeWindow(scope::ScopeBuffer& buffer, QWidget* parent = nullptr);

    // Adds a trace of the value unless it is shown already or eight are; true when it is shown.
    bool AddTrace(scope::Channel channel);
    void RemoveTrace(int index);
    void SetTrace(int index, const ScopeTrace& trace);
    int TraceCount() const { return static_cast<int>(traces_.size()); }
    const ScopeTrace& Trace(int index) const { return traces_.at(static_cast<std::size_t>(index)); }

    void SetSpan(int seconds);
    void Run();
    void Single();
    void Stop();
    // A trigger on the trace at `index`, the level in that trace's unit; none: free running.
    void SetTrigger(std::optional<int> traceIndex, double level, scope::Edge edge);
    const scope::Acquisition& Acquisition() const { return acquisition_; }
    QString StateText() const;

    ScopePlot* Plot() const { return plot_; }
    void SetCursor(int which, std::optional<double> seconds) { plot_->SetCursor(which, seconds); }
    // The cursors' times and each trace's values at them, with the differences, as shown.
    QString CursorTimesText() const;
    QTableWidget* CursorTable() const { return cursorTable_; }

    // The records of the shown frame as CSV, or the shown plot as PNG. Each returns what failed,
    // or an empty text once the whole file is written.
    QString ExportCsv(const QString& path) const;
    QString ExportPng(const QString& path) const;

    // One look at the buffer; the timer calls it while the window is shown.
    void Refresh();

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    static constexpr std::size_t kDefaultSpanIndex = 1;  // 10 s

    QWidget* MakeControls();
    void AddCursorReadout(QVBoxLayout& layout);
    void RebuildTraceRows();
    void AddTraceRow(int index);
    void OnTraceRowEdited(int index);
    void RebuildTriggerSources();
    void ApplyTriggerControls();
    // `layout`: which values are shown changed, not only how.
    void TracesChanged(bool layout);
    void UpdateCursorReadout();
    void UpdateState();
    void OnExportClicked(bool png);
    scope::TimePoint Now() const;

    scope::ScopeBuffer& buffer_;
    scope::Acquisition acquisition_;
    std::vector<ScopeTrace> traces_;
    std::optional<int> triggerTrace_;
    QTimer refresh_;
    ScopePlot* plot_ = nullptr;
    QComboBox* span_ = nullptr;
    QLabel* state_ = nullptr;
    QComboBox* triggerSource_ = nullptr;
    QComboBox* triggerEdge_ = nullptr;
    QDoubleSpinBox* triggerLevel_ = nullptr;
    struct TraceRow {
        QComboBox* axis;
        QComboBox* value;
        QComboBox* unit;
        QCheckBox* automatic;
        QDoubleSpinBox* low;
        QDoubleSpinBox* high;
    };
    std::vector<TraceRow> rows_;
    QGridLayout* traceGrid_ = nullptr;
    QWidget* traceRows_ = nullptr;
    QPushButton* addTrace_ = nullptr;
    QLabel* cursorTimes_ = nullptr;
    QTableWidget* cursorTable_ = nullptr;
    std::optional<scope::Frame> drawn_;
    bool drawnWhole_ = false;
    std::uint64_t drawnVersion_ = 0;
    bool dirty_ = true;
};

}  // namespace trevane
