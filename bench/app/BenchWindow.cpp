#include "BenchWindow.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <stdexcept>
#include <string>

#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <QtGlobal>

#if defined(__linux__)
#include <sys/resource.h>
#endif

#include "app/StatusTableModel.h"
#include "common/Clock.h"
#include "console/StatusMonitor.h"
#include "app/ControlIds.h"
#include "link/ControllerLink.h"
#include "net/TcpMotionClient.h"

namespace trevane::bench {

void UseOffscreenPlatformByDefault() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
}

ConnectedWindow::ConnectedWindow(Link link)
    : machine_(std::make_shared<sim::Machine>(SystemClockShared())),
      controller_(std::make_unique<Controller>()) {
    if (link == Link::Loopback) {
        server_ = std::make_unique<sim::Server>(machine_, "127.0.0.1", 0);
        controller_->Link().SetSessionFactory(MakeTcpSessionFactory(server_->Port()));
    } else {
        controller_->Link().SetSessionFactory(sim::InProcessSessionFactory(machine_));
    }
    dialog_ = std::make_unique<MainWindow>(*controller_);
    dialog_->SetAddressText(QStringLiteral("127.0.0.1"));
    dialog_->show();
    dialog_->ConnectButton()->click();
    if (!controller_->Link().Connected()) {
        throw std::runtime_error("the benchmark's window could not connect to its simulator");
    }
}

ConnectedWindow::~ConnectedWindow() {
    dialog_.reset();
    controller_.reset();
    server_.reset();
}

void ConnectedWindow::StartMoving() {
    for (const char* command :
         {"SH", "PT0,0,0,0", "AC*=300000", "DC*=300000", "JG5000,-5000,3000,-3000", "BG"}) {
        controller_->Link().SendCommand(command);
    }
}

void ConnectedWindow::StopPolling() {
    dialog_->StopTimer(kStatusTimer);
}

void ConnectedWindow::Poll() {
    StatusTableModel& model = dialog_->StatusModel();
    model.BeginBatch();
    controller_->Monitor().Poll();
    model.EndBatch();
}

double ThreadCpuSeconds() {
#if defined(__linux__)
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#else
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
#endif
}

void RunEventLoopFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

long ResidentKiB() {
    // Linux keeps the figure in /proc; elsewhere it is simply not reported.
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

double SecondsArgument(int argc, char** argv, double fallback) {
    return argc > 1 ? std::atof(argv[1]) : fallback;
}

WindowLoad MeasureWindowLoad(double seconds, const std::vector<std::function<double()>>& counters,
                             int warmUpMs) {
    RunEventLoopFor(warmUpMs);
    std::vector<double> before;
    for (const auto& counter : counters) {
        before.push_back(counter());
    }
    const double cpuBefore = ThreadCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    RunEventLoopFor(static_cast<int>(seconds * 1000));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    WindowLoad load{100.0 * (ThreadCpuSeconds() - cpuBefore) / wall, {}};
    for (std::size_t i = 0; i < counters.size(); ++i) {
        load.perSecond.push_back((counters[i]() - before[i]) / wall);
    }
    return load;
}

}  // namespace trevane::bench
