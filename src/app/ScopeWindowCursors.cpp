// The Scope's cursor readout: the cursors' times and each trace's values at them.
#include <cmath>
#include <limits>

#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/ScopeWindow.h"

namespace trevane {
namespace {

constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

QString ValueText(const ScopeTrace& trace, double value) {
    if (std::isnan(value)) {
        return QStringLiteral("\u2014");
    }
    return QString::number(value, 'f', trace.Scale() == 1.0 ? 0 : 3);
}

}  // namespace

void ScopeWindow::AddCursorReadout(QVBoxLayout& layout) {
    cursorTimes_ = new QLabel(this);
    cursorTimes_->setObjectName(QStringLiteral("ScopeCursorTimes"));
    cursorTimes_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout.addWidget(cursorTimes_);
    cursorTable_ = new QTableWidget(0, 4, this);
    cursorTable_->setObjectName(QStringLiteral("ScopeCursorTable"));
    cursorTable_->setHorizontalHeaderLabels({QStringLiteral("trace"), QStringLiteral("A"),
                                             QStringLiteral("B"), QStringLiteral("B \u2212 A")});
    cursorTable_->verticalHeader()->hide();
    cursorTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    cursorTable_->horizontalHeader()->setStretchLastSection(true);
    cursorTable_->setWordWrap(false);
    cursorTable_->setColumnWidth(0, cursorTable_->fontMetrics().horizontalAdvance(
                                        QStringLiteral("X velocity (counts/s)    ")));
    const int rowHeight = cursorTable_->fontMetrics().height() + 4;
    cursorTable_->verticalHeader()->setDefaultSectionSize(rowHeight);
    cursorTable_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    cursorTable_->setMaximumHeight(rowHeight * (ScopePlot::kMaxTraces + 1) + 6);
    layout.addWidget(cursorTable_);
    connect(plot_, &ScopePlot::CursorsMoved, this, &ScopeWindow::UpdateCursorReadout);
}

QString ScopeWindow::CursorTimesText() const {
    return cursorTimes_->text();
}

void ScopeWindow::UpdateCursorReadout() {
    const std::optional<double> a = plot_->Cursor(0);
    const std::optional<double> b = plot_->Cursor(1);
    const auto time = [](std::optional<double> at) {
        return at ? QString::number(*at, 'f', 3) + QStringLiteral(" s") : QStringLiteral("\u2014");
    };
    QString text = QStringLiteral("A: %1   B: %2").arg(time(a), time(b));
    if (a && b) {
        text += QStringLiteral("   B \u2212 A: %1").arg(time(*b - *a));
    }
    if (text != cursorTimes_->text()) {
        cursorTimes_->setText(text);
    }
    cursorTable_->setRowCount(TraceCount());
    for (int index = 0; index < TraceCount(); ++index) {
        const ScopeTrace& trace = Trace(index);
        // A missing value is NaN, and so is any difference with it.
        const double atA = a ? plot_->ValueAt(index, *a).value_or(kNoValue) : kNoValue;
        const double atB = b ? plot_->ValueAt(index, *b).value_or(kNoValue) : kNoValue;
        const QString cells[] = {trace.Label(), ValueText(trace, atA), ValueText(trace, atB),
                                 ValueText(trace, atB - atA)};
        for (int column = 0; column < 4; ++column) {
            QTableWidgetItem* item = cursorTable_->item(index, column);
            if (item == nullptr) {
                cursorTable_->setItem(index, column, item = new QTableWidgetItem);
            }
            if (item->text() != cells[column]) {
                item->setText(cells[column]);
            }
        }
    }
}

}  // namespace trevane
