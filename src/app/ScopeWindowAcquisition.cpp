// The Scope's acquisition as its controls set it: span, trigger, run, single and stop.
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QSignalBlocker>

#include "app/ScopeWindow.h"

namespace trevane {

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
            if (acquisition_.Fired() == 0) {
                return QStringLiteral("waiting for the trigger");
            }
            return acquisition_.Fired() == 1
                       ? QStringLiteral("triggered 1 time, waiting for the next")
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

}  // namespace trevane
