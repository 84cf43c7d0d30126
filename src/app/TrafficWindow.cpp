#include "app/TrafficWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

#include "common/FileReplace.h"

namespace trevane {
namespace {

const char* const kHeadings[TrafficModel::kColumns] = {"time", "session", "request", "reply",
                                                       "ack",  "\u00b5s", "reason"};

}  // namespace

int TrafficModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TrafficModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant TrafficModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || role != Qt::DisplayRole) {
        return {};
    }
    // The trace's own line, split: the window and the trace file never differ.
    const QStringList fields =
        QString::fromStdString(FormatTrafficLine(Entry(index.row()))).split(QLatin1Char('\t'));
    return index.column() < fields.size() ? fields[index.column()] : QString();
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= kColumns) {
        return {};
    }
    return QString::fromUtf8(kHeadings[section]);
}

bool TrafficModel::Passes(const TrafficEntry& entry) const {
    switch (filter_) {
        case Filter::CommandSession:
            return !entry.IsRecordPoll();
        case Filter::ErrorsOnly:
            return entry.Failed();
        case Filter::Both:
            break;
    }
    return true;
}

void TrafficModel::Append(const std::vector<TrafficEntry>& entries) {
    std::vector<TrafficEntry> passing;
    for (const TrafficEntry& entry : entries) {
        if (Passes(entry)) {
            passing.push_back(entry);
        }
    }
    if (passing.empty()) {
        return;
    }
    const std::size_t excess = rows_.size() + passing.size() > TrafficRecorder::kCapacity
                                   ? rows_.size() + passing.size() - TrafficRecorder::kCapacity
                                   : 0;
    if (excess > 0) {
        const int drop = static_cast<int>(std::min(excess, rows_.size()));
        beginRemoveRows({}, 0, drop - 1);
        rows_.erase(rows_.begin(), rows_.begin() + drop);
        endRemoveRows();
    }
    const int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(passing.size()) - 1);
    rows_.insert(rows_.end(), passing.begin(), passing.end());
    endInsertRows();
}

void TrafficModel::SetFilter(Filter filter, const std::vector<TrafficEntry>& all) {
    filter_ = filter;
    Clear();
    Append(all);
}

void TrafficModel::Clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

TrafficWindow::TrafficWindow(TrafficRecorder& recorder, QWidget* parent)
    : QWidget(parent, Qt::Window), recorder_(recorder), model_(this), trace_(recorder) {
    setObjectName(QStringLiteral("TrafficWindow"));
    setWindowTitle(QStringLiteral("Trevane \u2014 Traffic"));
    auto* layout = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;
    filter_ = new QComboBox(this);
    filter_->addItems({QStringLiteral("command session only"), QStringLiteral("both sessions"),
                       QStringLiteral("errors only")});
    filter_->setCurrentIndex(1);
    pause_ = new QCheckBox(QStringLiteral("Pause"), this);
    auto* clear = new QPushButton(QStringLiteral("Clear"), this);
    auto* save = new QPushButton(QStringLiteral("Save as text..."), this);
    record_ = new QPushButton(QStringLiteral("Record to file..."), this);
    bar->addWidget(filter_);
    bar->addWidget(pause_);
    bar->addStretch(1);
    bar->addWidget(clear);
    bar->addWidget(save);
    bar->addWidget(record_);
    layout->addLayout(bar);

    table_ = new QTableView(this);
    table_->setModel(&model_);
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setWordWrap(false);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    const int widths[] = {170, 70, 180, 220, 40, 70};
    for (int column = 0; column < 6; ++column) {
        table_->setColumnWidth(column, widths[column]);
    }
    layout->addWidget(table_, 1);
    resize(1000, 500);

    connect(filter_, &QComboBox::currentIndexChanged, this,
            [this](int index) { SetFilter(static_cast<TrafficModel::Filter>(index)); });
    connect(pause_, &QCheckBox::toggled, this, &TrafficWindow::SetPaused);
    connect(clear, &QPushButton::clicked, this, &TrafficWindow::ClearShown);
    connect(save, &QPushButton::clicked, this, &TrafficWindow::OnSaveClicked);
    connect(record_, &QPushButton::clicked, this, &TrafficWindow::OnRecordClicked);
    recordingTick_.setInterval(1000);
    connect(&recordingTick_, &QTimer::timeout, this,
            [this] { emit RecordingChanged(RecordingText()); });
    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &TrafficWindow::Refresh);
}

void TrafficWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Refresh();
    refresh_.start();
}

void TrafficWindow::hideEvent(QHideEvent* event) {
    refresh_.stop();  // a hidden window costs nothing; showing it catches up in one step
    QWidget::hideEvent(event);
}

void TrafficWindow::Refresh() {
    if (paused_ || recorder_.LastSequence() == seen_) {
        return;
    }
    const std::vector<TrafficEntry> entries = recorder_.Since(seen_);
    if (entries.empty()) {
        seen_ = recorder_.LastSequence();
        return;
    }
    seen_ = entries.back().sequence;
    QScrollBar* scroll = table_->verticalScrollBar();
    // Follows the newest line only while the operator has not scrolled up to read.
    const bool following = scroll->value() >= scroll->maximum();
    model_.Append(entries);
    if (following) {
        table_->scrollToBottom();
    }
}

void TrafficWindow::SetFilter(TrafficModel::Filter filter) {
    if (filter_->currentIndex() != static_cast<int>(filter)) {
        filter_->setCurrentIndex(static_cast<int>(filter));  // comes back here
        return;
    }
    std::vector<TrafficEntry> all = recorder_.Since(clearedAt_);
    seen_ = all.empty() ? std::max(seen_, clearedAt_) : all.back().sequence;
    model_.SetFilter(filter, all);
    table_->scrollToBottom();
}

void TrafficWindow::SetPaused(bool paused) {
    paused_ = paused;
    pause_->setChecked(paused);
    if (!paused) {
        Refresh();
    }
}

void TrafficWindow::ClearShown() {
    model_.Clear();
    seen_ = clearedAt_ = recorder_.LastSequence();
}

QString TrafficWindow::SaveAs(const QString& path) const {
    std::string text;
    for (int row = 0; row < model_.rowCount(); ++row) {
        text += FormatTrafficLine(model_.Entry(row));
        text += '\n';
    }
    const auto failure = ReplaceFileAtomically(path.toStdString(), text);
    return failure ? QString::fromStdString(*failure) : QString();
}

void TrafficWindow::OnSaveClicked() {
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save traffic"),
                                                      QStringLiteral("traffic.txt"));
    if (path.isEmpty()) {
        return;
    }
    if (const QString failure = SaveAs(path); !failure.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Traffic"), failure);
    }
}

QString TrafficWindow::StartRecording(const QString& path) {
    if (const auto failure = trace_.Start(path.toStdString())) {
        return QStringLiteral("Could not record to ") + QString::fromLocal8Bit(*failure);
    }
    record_->setText(QStringLiteral("Stop recording"));
    recordingTick_.start();
    emit RecordingChanged(RecordingText());
    return {};
}

QString TrafficWindow::StopRecording() {
    const std::optional<std::string> failure = trace_.Stop();
    record_->setText(QStringLiteral("Record to file..."));
    recordingTick_.stop();
    emit RecordingChanged(RecordingText());
    return failure ? QStringLiteral("The recording to ") + QString::fromLocal8Bit(*failure)
                   : QString();
}

QString TrafficWindow::RecordingText() const {
    if (!trace_.Recording()) {
        return {};
    }
    QString text = QStringLiteral("recording to %1: %2 exchanges")
                       .arg(QFileInfo(QString::fromStdString(trace_.Path())).fileName())
                       .arg(trace_.LinesWritten());
    if (const std::uint64_t lost = trace_.LinesLost(); lost > 0) {
        text += QStringLiteral(", %1 not written").arg(lost);
    }
    return text;
}

void TrafficWindow::OnRecordClicked() {
    QString failure;
    if (trace_.Recording()) {
        failure = StopRecording();
    } else {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Record traffic"),
                                                          QStringLiteral("trace.txt"));
        if (path.isEmpty()) {
            return;
        }
        failure = StartRecording(path);
    }
    if (!failure.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Traffic"), failure);
    }
}

}  // namespace trevane
