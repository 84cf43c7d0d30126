#include "app/ScopeWindow.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "common/CLocale.h"
#include "common/Clock.h"
#include "common/FileReplace.h"
#include "console/StatusMonitor.h"

namespace trevane {
namespace {

constexpr int kDefaultSpanIndex = 1;  // 10 s
constexpr double kLevelLimit = 2147483647.0;

bool SameFrame(const scope::Frame& a, const scope::Frame& b) {
    return a.start == b.start && a.end == b.end && a.origin == b.origin;
}

// Six decimals with a point whatever the locale, as `record --watch` writes its time.
std::string SecondsText(double seconds) {
    char text[48];
    const auto [end, ec] =
        std::to_chars(text, text + sizeof text, seconds, std::chars_format::fixed, 6);
    return ec == std::errc{} ? std::string(text, end) : std::string("0");
}

constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

QString ValueText(const ScopeTrace& trace, double value) {
    if (std::isnan(value)) {
        return QStringLiteral("\u2014");
    }
    return QString::number(value, 'f', trace.Scale() == 1.0 ? 0 : 3);
}

QComboBox* MakeCombo(QWidget* parent, const QStringList& items, const QString& name) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(name);
    combo->addItems(items);
    return combo;
}

QDoubleSpinBox* MakeNumberBox(QWidget* parent, double value, const QString& name) {
    auto* box = new QDoubleSpinBox(parent);
    box->setObjectName(name);
    box->setRange(-kLevelLimit, kLevelLimit);
    box->setDecimals(3);
    box->setValue(value);
    box->setKeyboardTracking(false);  // one change per finished entry, not per digit
    return box;
}

}  // namespace

ScopeWindow::ScopeWindow(scope::ScopeBuffer& buffer, QWidget* parent)
    : QWidget(parent, Qt::Window), buffer_(buffer) {
    setObjectName(QStringLiteral("ScopeWindow"));
    setWindowTitle(QStringLiteral("Trevane \u2014 Scope"));
    setAttribute(Qt::WA_DeleteOnClose, false);  // closing hides it; reopening shows the same

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeControls());
    plot_ = new ScopePlot(this);
    plot_->setMinimumSize(480, 240);
    layout->addWidget(plot_, 1);

    AddCursorReadout(*layout);
    acquisition_.SetSpan(std::chrono::seconds(kSpansSeconds[kDefaultSpanIndex]), Now());
    resize(980, 900);
    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &ScopeWindow::Refresh);
    TracesChanged(true);
}

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

QWidget* ScopeWindow::MakeControls() {
    auto* controls = new QWidget(this);
    auto* layout = new QVBoxLayout(controls);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Span"), controls));
    QStringList spans;
    for (const int seconds : kSpansSeconds) {
        spans << QStringLiteral("%1 s").arg(seconds);
    }
    span_ = MakeCombo(controls, spans, QStringLiteral("ScopeSpan"));
    span_->setCurrentIndex(kDefaultSpanIndex);
    connect(span_, &QComboBox::currentIndexChanged, this,
            [this](int index) { SetSpan(kSpansSeconds.at(static_cast<std::size_t>(index))); });
    top->addWidget(span_);
    const auto addButton = [&](const QString& text, void (ScopeWindow::*slot)()) {
        auto* button = new QPushButton(text, controls);
        button->setObjectName(QStringLiteral("Scope") + text);
        connect(button, &QPushButton::clicked, this, slot);
        top->addWidget(button);
        return button;
    };
    addButton(QStringLiteral("Run"), &ScopeWindow::Run);
    addButton(QStringLiteral("Single"), &ScopeWindow::Single);
    addButton(QStringLiteral("Stop"), &ScopeWindow::Stop);
    state_ = new QLabel(controls);
    state_->setObjectName(QStringLiteral("ScopeState"));
    top->addWidget(state_, 1);
    auto* exportCsv = new QPushButton(QStringLiteral("Export CSV..."), controls);
    connect(exportCsv, &QPushButton::clicked, this, [this] { OnExportClicked(false); });
    top->addWidget(exportCsv);
    auto* exportPng = new QPushButton(QStringLiteral("Export PNG..."), controls);
    connect(exportPng, &QPushButton::clicked, this, [this] { OnExportClicked(true); });
    top->addWidget(exportPng);
    layout->addLayout(top);

    auto* trigger = new QHBoxLayout;
    trigger->addWidget(new QLabel(QStringLiteral("Trigger"), controls));
    triggerSource_ = MakeCombo(controls, {}, QStringLiteral("ScopeTriggerSource"));
    triggerEdge_ = MakeCombo(controls, {QStringLiteral("rising"), QStringLiteral("falling")},
                             QStringLiteral("ScopeTriggerEdge"));
    triggerLevel_ = MakeNumberBox(controls, 0, QStringLiteral("ScopeTriggerLevel"));
    for (QComboBox* combo : {triggerSource_, triggerEdge_}) {
        connect(combo, &QComboBox::currentIndexChanged, this, [this] { ApplyTriggerControls(); });
    }
    connect(triggerLevel_, &QDoubleSpinBox::valueChanged, this, [this] { ApplyTriggerControls(); });
    trigger->addWidget(triggerSource_);
    trigger->addWidget(triggerEdge_);
    trigger->addWidget(new QLabel(QStringLiteral("level"), controls));
    trigger->addWidget(triggerLevel_);
    trigger->addStretch(1);
    layout->addLayout(trigger);

    traceRows_ = new QWidget(controls);
    traceGrid_ = new QGridLayout(traceRows_);
    traceGrid_->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(traceRows_);
    addTrace_ = new QPushButton(QStringLiteral("Add trace"), controls);
    addTrace_->setObjectName(QStringLiteral("ScopeAddTrace"));
    connect(addTrace_, &QPushButton::clicked, this, [this] {
        // The next value not shown yet, from X motorpos on.
        for (std::size_t index = scope::kMotorPos; index < scope::kChannelCount; ++index) {
            if (AddTrace(scope::Channel::At(index))) {
                return;
            }
        }
    });
    layout->addWidget(addTrace_, 0, Qt::AlignLeft);
    return controls;
}

scope::TimePoint ScopeWindow::Now() const {
    return SystemClock().Now();
}

bool ScopeWindow::AddTrace(scope::Channel channel) {
    for (const ScopeTrace& trace : traces_) {
        if (trace.channel == channel) {
            return true;
        }
    }
    if (traces_.size() >= ScopePlot::kMaxTraces || channel.Index() >= scope::kChannelCount) {
        return false;
    }
    ScopeTrace trace;
    trace.channel = channel;
    traces_.push_back(trace);
    TracesChanged(true);
    return true;
}

void ScopeWindow::RemoveTrace(int index) {
    if (index < 0 || index >= TraceCount()) {
        return;
    }
    traces_.erase(traces_.begin() + index);
    if (triggerTrace_ == index) {
        triggerTrace_.reset();
    } else if (triggerTrace_ && *triggerTrace_ > index) {
        --*triggerTrace_;
    }
    TracesChanged(true);
}

void ScopeWindow::SetTrace(int index, const ScopeTrace& trace) {
    if (index < 0 || index >= TraceCount()) {
        return;
    }
    ScopeTrace& shown = traces_[static_cast<std::size_t>(index)];
    const bool layout = !(shown.channel == trace.channel);
    shown = trace;
    TracesChanged(layout);
}

void ScopeWindow::TracesChanged(bool layout) {
    plot_->SetTraces(traces_);
    if (layout) {
        RebuildTraceRows();
    }
    RebuildTriggerSources();
    ApplyTriggerControls();
    addTrace_->setEnabled(traces_.size() < ScopePlot::kMaxTraces);
    dirty_ = true;
    if (isVisible()) {
        Refresh();
    }
    UpdateCursorReadout();
}

void ScopeWindow::RebuildTraceRows() {
    // The rows are made anew; a row's own remove button may be what called, so they go later.
    for (QWidget* child :
         traceRows_->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        child->setObjectName(QString());
        child->hide();
        child->deleteLater();
    }
    rows_.clear();
    for (int index = 0; index < TraceCount(); ++index) {
        AddTraceRow(index);
    }
}

void ScopeWindow::AddTraceRow(int index) {
    const ScopeTrace& trace = traces_[static_cast<std::size_t>(index)];
    const QString prefix = QStringLiteral("ScopeTrace%1").arg(index);
    auto* swatch = new QLabel(QStringLiteral("\u25a0 %1").arg(index + 1), traceRows_);
    swatch->setStyleSheet(QStringLiteral("color: %1")
                              .arg(ScopePlot::kColours[static_cast<std::size_t>(index)].name()));
    QStringList axes;
    for (std::size_t axis = 0; axis < record::kAxisCount; ++axis) {
        axes << QString::fromLatin1(kStatusColumnHeadings[axis + 1]);
    }
    QStringList values;
    for (const char* label : kStatusRowLabels) {
        values << QString::fromLatin1(label);
    }
    TraceRow row{};
    row.axis = MakeCombo(traceRows_, axes, prefix + QStringLiteral("Axis"));
    row.axis->setCurrentIndex(static_cast<int>(trace.channel.axis));
    row.value = MakeCombo(traceRows_, values, prefix + QStringLiteral("Value"));
    row.value->setCurrentIndex(static_cast<int>(trace.channel.row));
    row.unit = MakeCombo(traceRows_, {}, prefix + QStringLiteral("Unit"));
    if (trace.CanShowVolts()) {
        row.unit->addItems({QStringLiteral("counts"), QStringLiteral("V")});
        row.unit->setCurrentIndex(trace.volts ? 1 : 0);
    } else {
        row.unit->addItem(trace.Unit().isEmpty() ? QStringLiteral("no unit") : trace.Unit());
        row.unit->setEnabled(false);
    }
    row.automatic = new QCheckBox(QStringLiteral("auto scale"), traceRows_);
    row.automatic->setObjectName(prefix + QStringLiteral("Auto"));
    row.automatic->setChecked(trace.autoScale);
    row.low = MakeNumberBox(traceRows_, trace.low, prefix + QStringLiteral("Low"));
    row.high = MakeNumberBox(traceRows_, trace.high, prefix + QStringLiteral("High"));
    row.low->setEnabled(!trace.autoScale);
    row.high->setEnabled(!trace.autoScale);
    auto* remove = new QToolButton(traceRows_);
    remove->setText(QStringLiteral("Remove"));
    remove->setObjectName(prefix + QStringLiteral("Remove"));

    const QList<QWidget*> widgets = {swatch,        row.axis, row.value, row.unit,
                                     row.automatic, row.low,  row.high,  remove};
    for (int column = 0; column < widgets.size(); ++column) {
        traceGrid_->addWidget(widgets[column], index, column);
    }
    const auto edited = [this, index] { OnTraceRowEdited(index); };
    for (QComboBox* combo : {row.axis, row.value, row.unit}) {
        connect(combo, &QComboBox::currentIndexChanged, this, edited);
    }
    connect(row.automatic, &QCheckBox::toggled, this, edited);
    connect(row.low, &QDoubleSpinBox::valueChanged, this, edited);
    connect(row.high, &QDoubleSpinBox::valueChanged, this, edited);
    connect(remove, &QToolButton::clicked, this, [this, index] { RemoveTrace(index); });
    rows_.push_back(row);
}

void ScopeWindow::OnTraceRowEdited(int index) {
    const TraceRow& row = rows_.at(static_cast<std::size_t>(index));
    ScopeTrace trace = traces_.at(static_cast<std::size_t>(index));
    trace.channel = {static_cast<std::size_t>(row.axis->currentIndex()),
                     static_cast<std::size_t>(row.value->currentIndex())};
    trace.volts = trace.CanShowVolts() && row.unit->count() == 2 && row.unit->currentIndex() == 1;
    trace.autoScale = row.automatic->isChecked();
    trace.low = row.low->value();
    trace.high = row.high->value();
    row.low->setEnabled(!trace.autoScale);
    row.high->setEnabled(!trace.autoScale);
    // Another value makes the row anew, which waits until this signal has returned.
    QTimer::singleShot(0, this, [this, index, trace] { SetTrace(index, trace); });
}

void ScopeWindow::RebuildTriggerSources() {
    const QSignalBlocker blocker(triggerSource_);
    triggerSource_->clear();
    triggerSource_->addItem(QStringLiteral("free running"));
    for (int index = 0; index < TraceCount(); ++index) {
        triggerSource_->addItem(QStringLiteral("%1: %2").arg(index + 1).arg(Trace(index).Label()));
    }
    triggerSource_->setCurrentIndex(triggerTrace_ ? *triggerTrace_ + 1 : 0);
}

void ScopeWindow::SetTrigger(std::optional<int> traceIndex, double level, scope::Edge edge) {
    {
        const QSignalBlocker source(triggerSource_);
        const QSignalBlocker edgeBlocker(triggerEdge_);
        const QSignalBlocker levelBlocker(triggerLevel_);
        const bool valid = traceIndex && *traceIndex >= 0 && *traceIndex < TraceCount();
        triggerSource_->setCurrentIndex(valid ? *traceIndex + 1 : 0);
        triggerEdge_->setCurrentIndex(edge == scope::Edge::Rising ? 0 : 1);
        triggerLevel_->setValue(level);
    }
    ApplyTriggerControls();
}

void ScopeWindow::ApplyTriggerControls() {
    const int source = triggerSource_->currentIndex();
    std::optional<scope::Trigger> trigger;
    triggerTrace_.reset();
    if (source >= 1 && source <= TraceCount()) {
        triggerTrace_ = source - 1;
        const ScopeTrace& trace = Trace(*triggerTrace_);
        triggerLevel_->setSuffix(trace.Unit().isEmpty() ? QString()
                                                        : QLatin1Char(' ') + trace.Unit());
        trigger = scope::Trigger{
            trace.channel.Index(), triggerLevel_->value() / trace.Scale(),
            triggerEdge_->currentIndex() == 0 ? scope::Edge::Rising : scope::Edge::Falling};
    }
    triggerEdge_->setEnabled(trigger.has_value());
    triggerLevel_->setEnabled(trigger.has_value());
    const std::optional<scope::Trigger>& armed = acquisition_.GetTrigger();
    const bool same =
        trigger.has_value() == armed.has_value() &&
        (!trigger || (trigger->channel == armed->channel && trigger->level == armed->level &&
                      trigger->edge == armed->edge));
    // Another look at the traces' scales keeps a held frame; a new condition arms afresh.
    if (!same) {
        acquisition_.SetTrigger(trigger, Now());
        dirty_ = true;
    }
    UpdateState();
}

void ScopeWindow::SetSpan(int seconds) {
    for (std::size_t i = 0; i < kSpansSeconds.size(); ++i) {
        if (kSpansSeconds[i] == seconds && span_->currentIndex() != static_cast<int>(i)) {
            const QSignalBlocker blocker(span_);
            span_->setCurrentIndex(static_cast<int>(i));
        }
    }
    acquisition_.SetSpan(std::chrono::seconds(seconds), Now());
    dirty_ = true;
    UpdateState();
}

void ScopeWindow::Run() {
    acquisition_.Run(Now());
    dirty_ = true;
    UpdateState();
}

void ScopeWindow::Single() {
    acquisition_.Single(Now());
    dirty_ = true;
    UpdateState();
}

void ScopeWindow::Stop() {
    acquisition_.Stop();
    UpdateState();
}

QString ScopeWindow::StateText() const {
    switch (acquisition_.GetState()) {
        case scope::Acquisition::State::Following:
            return QStringLiteral("running");
        case scope::Acquisition::State::Armed:
            return acquisition_.Fired() == 0
                       ? QStringLiteral("waiting for the trigger")
                       : QStringLiteral("triggered %1 times, waiting for the next")
                             .arg(acquisition_.Fired());
        case scope::Acquisition::State::Capturing:
            return QStringLiteral("triggered");
        case scope::Acquisition::State::Stopped:
            break;
    }
    return QStringLiteral("stopped");
}

void ScopeWindow::UpdateState() {
    QString text = StateText();
    if (const auto latest = buffer_.Latest(); !latest) {
        text += QStringLiteral("; no records yet");
    } else if (Now() - *latest > scope::kJoinLimit) {
        text += QStringLiteral("; no new records for %1 s")
                    .arg(std::chrono::duration<double>(Now() - *latest).count(), 0, 'f', 1);
    }
    if (text != state_->text()) {
        state_->setText(text);
    }
}

void ScopeWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    dirty_ = true;
    Refresh();
    refresh_.start();
}

void ScopeWindow::hideEvent(QHideEvent* event) {
    // A hidden scope costs nothing; the buffer fills on regardless.
    refresh_.stop();
    QWidget::hideEvent(event);
}

void ScopeWindow::Refresh() {
    const std::optional<scope::TimePoint> latest = buffer_.Latest();
    if (!latest) {
        UpdateState();
        return;
    }
    const std::uint64_t version = buffer_.Version();
    const scope::Frame frame = acquisition_.Update(buffer_, *latest, Now());
    UpdateState();
    const bool same = drawn_ && SameFrame(*drawn_, frame);
    // A frame once drawn whole changes no more; a growing one only with new records.
    if (!dirty_ && same && (drawnWhole_ || version == drawnVersion_)) {
        return;
    }
    plot_->Draw(buffer_, frame);
    drawn_ = frame;
    drawnWhole_ =
        *latest >= frame.end || acquisition_.GetState() == scope::Acquisition::State::Stopped;
    drawnVersion_ = version;
    dirty_ = false;
    UpdateCursorReadout();
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

QString ScopeWindow::ExportCsv(const QString& path) const {
    if (!drawn_ || traces_.empty()) {
        return QStringLiteral("Nothing is shown to export to %1").arg(path);
    }
    std::string csv = "time_s";  // seconds from the trigger, or the newest record
    for (const ScopeTrace& trace : traces_) {
        csv += ',' + RecordFieldName(trace.channel.axis, trace.channel.row);
    }
    csv += '\n';
    for (const scope::ScopeBuffer::Row& row : buffer_.Rows(drawn_->start, drawn_->end)) {
        csv += SecondsText(std::chrono::duration<double>(row.time - drawn_->origin).count());
        for (const ScopeTrace& trace : traces_) {
            csv += ',' + FormatInt(row.values[trace.channel.Index()]);
        }
        csv += '\n';
    }
    const auto failure = ReplaceFileAtomically(QFile::encodeName(path).toStdString(), csv);
    return failure ? QString::fromLocal8Bit(*failure) : QString();
}

QString ScopeWindow::ExportPng(const QString& path) const {
    QByteArray bytes;
    QBuffer device(&bytes);
    device.open(QIODevice::WriteOnly);
    if (!plot_->toPixmap().save(&device, "PNG")) {
        return QStringLiteral("Could not make the PNG image for %1").arg(path);
    }
    const auto failure = ReplaceFileAtomically(
        QFile::encodeName(path).toStdString(),
        std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    return failure ? QString::fromLocal8Bit(*failure) : QString();
}

void ScopeWindow::OnExportClicked(bool png) {
    const QString path = png ? QFileDialog::getSaveFileName(this, QStringLiteral("Export PNG"),
                                                            QStringLiteral("scope.png"),
                                                            QStringLiteral("PNG (*.png)"))
                             : QFileDialog::getSaveFileName(this, QStringLiteral("Export CSV"),
                                                            QStringLiteral("scope.csv"),
                                                            QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty()) {
        return;
    }
    if (const QString failure = png ? ExportPng(path) : ExportCsv(path); !failure.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Scope"), failure);
    }
}

}  // namespace trevane
