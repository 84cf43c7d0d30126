#include "app/ScopeWindow.h"

#include <QVBoxLayout>

#include "common/Clock.h"

namespace trevane {
namespace {

bool SameFrame(const scope::Frame& a, const scope::Frame& b) {
    return a.start == b.start && a.end == b.end && a.origin == b.origin;
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

}  // namespace trevane
