// The dialog's timers and what their ticks run.
#include <QTimer>

#include "app/MainWindow.h"
#include "app/RunHandler.h"
#include "app/StatusTableModel.h"
#include "console/StatusMonitor.h"
#include "link/WindowOps.h"

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

bool MainWindow::TimerRunning(int id) const {
    const auto found = timers_.find(id);
    return found != timers_.end() && found->second->isActive();
}

void MainWindow::OnTimerTick(int id) {
    // The poll's 52 cell writes reach the view as one change.
    statusModel_->BeginBatch();
    if (id == IDT_STATUS) {
        // OnTimer's status branch, timed for the link's health.
        const auto sent = LinkHealth::Clock::now();
        bool written = false;
        RunHandler("the timer tick", [&written] { written = UpdateStatusTable(); });
        health_.PollDone(sent, LinkHealth::Clock::now(), written);
        RefreshHealth(false);
    } else {
        RunHandler("the timer tick", [id] { OnTimer(id); });
        if (id == IDT_PROGRESS) {
            ShowVerdict();
        }
    }
    statusModel_->EndBatch();
}

}  // namespace trevane
