// The windows that the dialog opens beside itself: Traffic, Plots and Scope.
#include "app/MainWindow.h"
#include "app/PlotsWindow.h"
#include "app/ScopeWindow.h"
#include "app/StatusTableModel.h"
#include "app/TrafficWindow.h"
#include "autotest/TestRecorder.h"
#include "controller/Controller.h"
#include "scope/ScopeBuffer.h"
#include "traffic/TrafficRecorder.h"

namespace trevane {
namespace {

template <typename Window>
Window* ShownOnTop(Window* window) {
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

}  // namespace

TrafficWindow* MainWindow::OpenTraffic() {
    if (traffic_ == nullptr) {
        traffic_ = new TrafficWindow(controller_.Traffic(), this);
        connect(traffic_, &TrafficWindow::RecordingChanged, strip_, &LinkStrip::SetRecording);
    }
    return ShownOnTop(traffic_);
}

PlotsWindow* MainWindow::OpenPlots() {
    if (plots_ == nullptr) {
        plots_ = new PlotsWindow(controller_, this);
    }
    return ShownOnTop(plots_);
}

ScopeWindow* MainWindow::OpenScope() {
    if (scope_ == nullptr) {
        scope_ = new ScopeWindow(controller_.Monitor().Scope(), this);
    }
    return ShownOnTop(scope_);
}

void MainWindow::OnStatusCellDoubleClicked(int row, int column) {
    // Column 0 holds the labels, which name no axis.
    if (column < 1 || column >= StatusTableModel::kColumns || row < 0 ||
        row >= StatusTableModel::kRows) {
        return;
    }
    OpenScope()->AddTrace({static_cast<std::size_t>(column - 1), static_cast<std::size_t>(row)});
}

}  // namespace trevane
