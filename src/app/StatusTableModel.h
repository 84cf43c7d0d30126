#pragma once

#include <array>

#include <QAbstractTableModel>
#include <QString>

namespace trevane {

// The status table: the fixed row labels in column 0 and one column per axis. A poll writes all
// 52 axis cells; between BeginBatch and EndBatch the writes are collected and the view hears of
// them once, so a poll costs one update of the view, not 52.
class StatusTableModel final : public QAbstractTableModel {
    Q_OBJECT
  public:
    static constexpr int kRows = 13;
    static constexpr int kColumns = 5;

    explicit StatusTableModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Column 0 holds the labels and is not written; other cells out of range are ignored.
    void SetCell(int row, int column, const QString& text);
    QString Cell(int row, int column) const;

    void BeginBatch();
    void EndBatch();

    // Stale values stay readable but greyed, so nobody takes them for the machine's state now.
    void SetStale(bool stale);
    bool Stale() const { return stale_; }

  private:
    void MarkChanged(int row, int column);

    std::array<std::array<QString, kColumns>, kRows> cells_;
    int batchDepth_ = 0;
    bool stale_ = false;
    bool dirty_ = false;
    int firstRow_ = 0, lastRow_ = 0, firstColumn_ = 0, lastColumn_ = 0;
};

}  // namespace trevane
