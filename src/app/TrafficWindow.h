#pragma once

#include <cstdint>
#include <vector>

#include <QAbstractTableModel>
#include <QTimer>
#include <QWidget>

#include "traffic/TraceWriter.h"
#include "traffic/TrafficRecorder.h"

class QCheckBox;
class QComboBox;
class QPushButton;
class QTableView;

namespace trevane {

// The recorder's entries as a table, one exchange a row. New entries arrive in batches.
class TrafficModel final : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum class Filter { CommandSession, Both, ErrorsOnly };
    static constexpr int kColumns = 7;

    using QAbstractTableModel::QAbstractTableModel;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Appends those of `entries` that pass the filter, as one insertion; the oldest rows go
    // beyond the recorder's capacity.
    void Append(const std::vector<TrafficEntry>& entries);
    void SetFilter(Filter filter, const std::vector<TrafficEntry>& all);
    void Clear();
    const TrafficEntry& Entry(int row) const { return rows_[static_cast<std::size_t>(row)]; }

  private:
    bool Passes(const TrafficEntry& entry) const;
    std::vector<TrafficEntry> rows_;
    Filter filter_ = Filter::Both;
};

// Every exchange of both sessions, newest at the bottom: followed unless the operator scrolled
// up, filtered, paused, cleared, saved as the trace's tab-separated lines.
class TrafficWindow final : public QWidget {
    Q_OBJECT
  public:
    // Batches, not one row per exchange: the record session alone makes 100 a second.
    static constexpr int kRefreshMs = 200;

    explicit TrafficWindow(TrafficRecorder& recorder, QWidget* parent = nullptr);

    TrafficModel& Model() { return model_; }
    QTableView* Table() const { return table_; }
    // One look at the recorder; the timer calls it while the window is shown and not paused.
    void Refresh();
    void SetFilter(TrafficModel::Filter filter);
    void SetPaused(bool paused);
    void ClearShown();
    // The shown rows as tab-separated lines; what failed, or an empty text when all was written.
    QString SaveAs(const QString& path) const;

    // Every exchange of both sessions from now on, written to `path` as --trace writes it (not
    // sampled, the window shown or not); what failed, or an empty text.
    QString StartRecording(const QString& path);
    // What went wrong meanwhile, or an empty text when every exchange is in the file.
    QString StopRecording();
    bool Recording() const { return trace_.Recording(); }
    // "recording to trace.txt: 1234 exchanges", or an empty text when not recording.
    QString RecordingText() const;

  signals:
    // The recording started, stopped or wrote more; `text` as RecordingText gives it.
    void RecordingChanged(const QString& text);

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void OnSaveClicked();
    void OnRecordClicked();

    TrafficRecorder& recorder_;
    TrafficModel model_;
    QTimer refresh_;
    QTableView* table_ = nullptr;
    QComboBox* filter_ = nullptr;
    QCheckBox* pause_ = nullptr;
    QPushButton* record_ = nullptr;
    QTimer recordingTick_;
    TraceWriter trace_;
    std::uint64_t seen_ = 0;
    std::uint64_t clearedAt_ = 0;  // the filter shows nothing older than the last Clear
    bool paused_ = false;
};

}  // namespace trevane
