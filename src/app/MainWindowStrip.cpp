// The strip under the dialog's controls: the link's health, the last failure and the last
// test's verdict.
#include <QGuiApplication>
#include <QProgressBar>
#include <QTableView>
#include <QTimer>

#include "app/MainWindow.h"
#include "app/RunHandler.h"
#include "app/StatusTableModel.h"
#include "controller/Controller.h"
#include "report/TestVerdict.h"
#include "traffic/TrafficRecorder.h"

namespace trevane {
namespace {

// "; command session closed by the controller": what the strip adds while a session is not live.
QString SessionText(const char* name, const SessionStatus& status) {
    const char* words = nullptr;
    switch (status.state) {
        case SessionState::NotConnected:
        case SessionState::Live:
        case SessionState::Connecting:
            return {};
        case SessionState::ClosedByController:
            words = " session closed by the controller";
            break;
        case SessionState::Reopening:
            words = " session reopening";
            break;
        case SessionState::Failed:
            words = " session failed";
            break;
    }
    return QStringLiteral("; ") + QString::fromLatin1(name) + QString::fromLatin1(words);
}

QColor VerdictColour(const TestVerdict& verdict) {
    switch (verdict.kind) {
        case TestVerdict::Kind::Passed:
            // Amber: it passed, but something wants a look.
            if (verdict.PassedWithWarnings()) {
                return {0xc7, 0x80, 0x00};
            }
            return {0x1b, 0x7f, 0x2a};
        case TestVerdict::Kind::Aborted:
        case TestVerdict::Kind::LinkLost:
            return {0xc6, 0x28, 0x28};
        case TestVerdict::Kind::Unverified:
            return {0xb2, 0x6a, 0x00};
        case TestVerdict::Kind::Stopped:
        case TestVerdict::Kind::NoConnection:
            break;
    }
    return {0x75, 0x75, 0x75};
}

}  // namespace

void MainWindow::ClearLastError() {
    // The failures before this point belong to an earlier test or link.
    errorsClearedAt_ = controller_.Traffic().LastSequence();
    RefreshHealth(true);
}

void MainWindow::ShowSessions(const SessionStatus& command, const SessionStatus& record) {
    commandSession_ = command;
    recordSession_ = record;
    RefreshHealth(true);
}

void MainWindow::OnConnectClicked() {
    health_.ConnectPressed();
    errorsClearedAt_ = controller_.Traffic().LastSequence();
    if (healthTimer_ == nullptr) {
        healthTimer_ = new QTimer(this);
        healthTimer_->setObjectName(QStringLiteral("LinkHealth"));
        connect(healthTimer_, &QTimer::timeout, this, [this] { RefreshHealth(false); });
        healthTimer_->start(kHealthCheck);
    }
    // Connect holds this thread until it ends, so the grey goes on the screen first.
    RefreshHealth(true);
    statusList_->viewport()->repaint();
    const QString endpoint = AddressText() + QLatin1Char(':') + QString::number(controllerPort_);
    RunHandler("Connect", [this] { controller_.Link().Connect(); });
    connectedEndpoint_ = controller_.Link().Connected() ? endpoint : QString();
    health_.ConnectEnded();
    RefreshHealth(true);
}

void MainWindow::RefreshHealth(bool stripNow) {
    const auto now = LinkHealth::Clock::now();
    const bool connected = controller_.Link().Connected();
    const bool stale = health_.Stale(now, connected);
    const bool staleChanged = stale != statusModel_->Stale();
    statusModel_->SetStale(stale);
    if (stripNow || staleChanged || now - stripSetAt_ >= kStripRefresh) {
        stripSetAt_ = now;
        strip_->SetLinkText(health_.LinkText(now, connected) +
                            (connected ? SessionText("command", commandSession_) +
                                             SessionText("record", recordSession_)
                                       : QString()));
        strip_->SetEndpoint(connected ? connectedEndpoint_ : QString());
        const std::optional<TrafficEntry> failure = controller_.Traffic().LastFailure();
        if (failure && failure->sequence > errorsClearedAt_ && !failure->reason.empty()) {
            const auto age = std::chrono::duration_cast<std::chrono::seconds>(
                std::chrono::system_clock::now() - failure->time);
            strip_->SetLastError(LastErrorText(QString::fromLocal8Bit(failure->reason), age));
        } else {
            strip_->SetLastError(QString());
        }
    }
}

void MainWindow::ShowVerdict() {
    // The progress timer runs from the first test on, so it carries the check.
    const std::optional<TestVerdict> verdict = controller_.Conclusion().LastVerdict();
    const int shown = verdict ? verdict->testNumber : 0;
    const int kind =
        verdict ? static_cast<int>(verdict->kind) * 2 + (verdict->PassedWithWarnings() ? 1 : 0)
                : -1;
    if (shown == shownVerdictTest_ && kind == shownVerdictKind_) {
        return;
    }
    shownVerdictTest_ = shown;
    shownVerdictKind_ = kind;
    QPalette palette = QGuiApplication::palette();
    if (!verdict) {
        strip_->SetVerdict(QString(), QColor());
    } else {
        const QColor colour = VerdictColour(*verdict);
        strip_->SetVerdict(QString::fromLocal8Bit(VerdictLine(*verdict)), colour);
        // The bar is empty once a test has ended, so its groove takes the colour too.
        palette.setColor(QPalette::Highlight, colour);
        palette.setColor(QPalette::Base, colour.lighter(170));
        palette.setColor(QPalette::Window, colour.lighter(170));
    }
    progress_->setPalette(palette);
}

}  // namespace trevane
