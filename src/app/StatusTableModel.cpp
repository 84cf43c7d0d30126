#include "app/StatusTableModel.h"

#include <algorithm>

#include <QGuiApplication>
#include <QPalette>

#include "console/StatusMonitor.h"

namespace trevane {
namespace {

// What each row's number means, for the operator who does not know the record by heart.
constexpr const char* kRowUnits[StatusTableModel::kRows] = {
    "reference position, in counts",
    "motor (encoder) position, in counts",
    "position error, in counts (the test aborts a move above 700)",
    "auxiliary encoder position, in counts",
    "velocity, in counts per second",
    "torque command, in volts = value x 10 / 32767 (the test aborts a move above 3.1 V)",
    "analog input, in volts = value x 10 / 32767",
    "stop code: why the axis last stopped, as the controller numbers it (0 to 255)",
    "forward limit switch: bit 3 of the switch byte, shown as read (1 = set)",
    "reverse limit switch: bit 2 of the switch byte, shown as read (1 = set)",
    "1 while the axis is in motion (bit 15 of the status word)",
    "bit 4 of the status word, shown as read",
    "1 while the motor is off (bit 0 of the status word)",
};
constexpr int kTorqueRow = 5;
constexpr int kAnalogRow = 6;
constexpr double kVoltsFullScale = 10.0;
constexpr double kCountsFullScale = 32767.0;

QString ToolTipOf(int row, const QString& cell) {
    QString tip = QString::fromLatin1(kRowUnits[row]);
    bool isNumber = false;
    const int value = cell.toInt(&isNumber);
    if (isNumber && (row == kTorqueRow || row == kAnalogRow)) {
        tip += QStringLiteral("\n%1 = %2 V")
                   .arg(cell, QString::number(value * kVoltsFullScale / kCountsFullScale, 'f', 3));
    }
    return tip;
}

}  // namespace

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
    if (role == Qt::ToolTipRole) {
        return ToolTipOf(index.row(),
                         index.column() > 0 ? Cell(index.row(), index.column()) : QString());
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
