// The Scope's controls: its toolbar, the trigger's line and a row for each trace.
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/ScopeWindow.h"
#include "console/StatusMonitor.h"

namespace trevane {
namespace {

constexpr double kLevelLimit = 2147483647.0;

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
    span_->setCurrentIndex(static_cast<int>(kDefaultSpanIndex));
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
    // Its entries come with the traces, after the window was first shown.
    triggerSource_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
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

}  // namespace trevane
