#include "app/StatusTableModel.h"

#include <algorithm>

#include <QGuiApplication>
#include <QPalette>

#include "console/StatusMonitor.h"

namespace trevane {

StatusTableModel::StatusTableModel(QObject* parent) : QAbstractTableModel(parent) {
    for (int row = 0; row < kRows; ++row) {
        cells_[static_cast<std::size_t>(row)][0] =
            QString::fromLatin1(kStatusRowLabels[static_cast<std::size_t>(row)]);
    }
}

int StatusTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kRows;
}

int StatusTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant StatusTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= kRows || index.column() >= kColumns) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return cells_[static_cast<std::size_t>(index.row())]
                     [static_cast<std::size_t>(index.column())];
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    }
    if (role == Qt::ForegroundRole && stale_ && index.column() > 0) {
        return QGuiApplication::palette().brush(QPalette::Disabled, QPalette::Text);
    }
    return {};
}

QVariant StatusTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumns) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return QString::fromLatin1(kStatusColumnHeadings[static_cast<std::size_t>(section)]);
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    }
    return {};
}

void StatusTableModel::SetCell(int row, int column, const QString& text) {
    if (row < 0 || row >= kRows || column < 1 || column >= kColumns) {
        return;
    }
    QString& cell = cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
    if (cell == text) {
        return;  // a value that did not change needs no repaint
    }
    cell = text;
    MarkChanged(row, column);
}

QString StatusTableModel::Cell(int row, int column) const {
    if (row < 0 || row >= kRows || column < 0 || column >= kColumns) {
        return {};
    }
    return cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

void StatusTableModel::BeginBatch() {
    ++batchDepth_;
}

void StatusTableModel::EndBatch() {
    if (batchDepth_ > 0 && --batchDepth_ > 0) {
        return;
    }
    if (dirty_) {
        dirty_ = false;
        emit dataChanged(index(firstRow_, firstColumn_), index(lastRow_, lastColumn_),
                         {Qt::DisplayRole});
    }
}

void StatusTableModel::SetStale(bool stale) {
    if (stale == stale_) {
        return;
    }
    stale_ = stale;
    emit dataChanged(index(0, 1), index(kRows - 1, kColumns - 1), {Qt::ForegroundRole});
}

void StatusTableModel::MarkChanged(int row, int column) {
    if (!dirty_) {
        dirty_ = true;
        firstRow_ = lastRow_ = row;
        firstColumn_ = lastColumn_ = column;
    } else {
        firstRow_ = std::min(firstRow_, row);
        lastRow_ = std::max(lastRow_, row);
        firstColumn_ = std::min(firstColumn_, column);
        lastColumn_ = std::max(lastColumn_, column);
    }
    if (batchDepth_ == 0) {
        EndBatch();
    }
}

}  // namespace trevane
