// The dialog's timers and what their ticks run.
#include <QTimer>

#include "app/MainWindow.h"
#include "app/RunHandler.h"
#include "app/StatusTableModel.h"
#include "console/StatusMonitor.h"
#include "app/ControlIds.h"
#include "controller/Controller.h"

namespace trevane {

void MainWindow::StartTimer(int id, int periodMs) {
    QTimer*& timer = timers_[id];
    if (timer == nullptr) {
        timer = new QTimer(this);
        timer->setObjectName(QStringLiteral("IDT_%1").arg(id));
        // Precise, so that 10 ms means 10 ms; a tick that falls due during a poll waits for
        // it to end and is merged with any other, since the poll holds this thread.
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this, [this, id] { OnTimerTick(id); });
    }
    timer->start(periodMs);
}

void MainWindow::StopTimer(int id) {
    const auto found = timers_.find(id);
    if (found != timers_.end()) {
        found->second->stop();
    }
}

void MainWindow::ShowTestRunning(bool running) {
    SetRunTestCaption(QString::fromLatin1(running ? "Abort Test" : "Run Auto Test"));
    if (running) {
        StartTimer(kProgressTimer, kTimerPeriodMs);
    }
}

bool MainWindow::TimerRunning(int id) const {
    const auto found = timers_.find(id);
    return found != timers_.end() && found->second->isActive();
}

void MainWindow::OnTimerTick(int id) {
    // The poll's 52 cell writes reach the view as one change.
    statusModel_->BeginBatch();
    if (id == kStatusTimer) {
        // One poll, timed for the link's health.
        const auto sent = LinkHealth::Clock::now();
        bool written = false;
        RunHandler("the timer tick", [this, &written] { written = controller_.Monitor().Poll(); });
        health_.PollDone(sent, LinkHealth::Clock::now(), written);
        RefreshHealth(false);
    } else if (id == kProgressTimer) {
        SetProgress(controller_.Link().Test().progress);
        ShowVerdict();
    }
    statusModel_->EndBatch();
}

}  // namespace trevane
