// Figures of the window that a micro-benchmark cannot give: the time from the program's start
// to the main window shown, resident memory, and the status polls achieved per second over a
// stretch of real time (10 s by default) with the window offscreen, each against a baseline
// measured in the same run.
//
//   bench_window_figures [SECONDS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include "BenchWindow.h"
#include "controller/Controller.h"

namespace trevane::bench {
namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Shows `window` and returns once it has been painted for the first time.
void ShowAndWaitForPaint(QWidget& window) {
    struct PaintWatcher : QObject {
        bool painted = false;
        bool eventFilter(QObject*, QEvent* event) override {
            painted = painted || event->type() == QEvent::Paint;
            return false;
        }
    } watcher;
    window.installEventFilter(&watcher);
    window.show();
    while (!watcher.painted) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    window.removeEventFilter(&watcher);
}

void RunEventsFor(double seconds) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

int CountRecordRequests(const sim::Machine& machine) {
    int count = 0;
    for (const sim::ReceivedCommand& received : machine.Received()) {
        count += received.line.rfind("QR", 0) == 0;
    }
    return count;
}

}  // namespace
}  // namespace trevane::bench

int main(int argc, char** argv) {
    using namespace trevane::bench;
    const auto programStart = Clock::now();
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    UseOffscreenPlatformByDefault();

    QApplication application(argc, argv);
    const double applicationMs = MillisecondsSince(programStart);
    const long baseKiB = ResidentKiB();

    // Start to window shown, cold (as the program starts), then warm against a bare dialog.
    trevane::Controller controller;
    auto start = Clock::now();
    auto dialog = std::make_unique<trevane::MainWindow>(controller);
    const double constructMs = MillisecondsSince(start);
    ShowAndWaitForPaint(*dialog);
    const double coldShownMs = MillisecondsSince(programStart);
    const long shownKiB = ResidentKiB();
    dialog.reset();

    start = Clock::now();
    {
        QDialog bare;
        bare.resize(960, 580);
        ShowAndWaitForPaint(bare);
    }
    const double bareMs = MillisecondsSince(start);
    start = Clock::now();
    dialog = std::make_unique<trevane::MainWindow>(controller);
    ShowAndWaitForPaint(*dialog);
    const double warmMs = MillisecondsSince(start);
    dialog.reset();

    std::printf(
        "start to window shown (cold, from main): %8.1f ms"
        "  (QApplication %.1f ms, dialog built %.1f ms)\n",
        coldShownMs, applicationMs, constructMs);
    std::printf(
        "window built and shown again (warm):      %8.1f ms  vs bare dialog %.1f ms"
        "  ratio %.1fx\n",
        warmMs, bareMs, warmMs / bareMs);
    std::printf("resident memory: %ld KiB after QApplication, %ld KiB with the window shown\n",
                baseKiB, shownKiB);

    // Polls per second: the window's own 10 ms timer against a bare 10 ms precise timer.
    int bareTicks = 0;
    {
        QTimer bare;
        bare.setTimerType(Qt::PreciseTimer);
        QObject::connect(&bare, &QTimer::timeout, [&bareTicks] { ++bareTicks; });
        bare.start(10);
        RunEventsFor(seconds);
    }
    for (const Link link : {Link::InProcess, Link::Loopback}) {
        ConnectedWindow window(link);
        window.StartMoving();
        window.Machine().ClearReceived();
        RunEventsFor(seconds);
        const int polls = CountRecordRequests(window.Machine());
        std::printf(
            "polls per second over %.0f s, %s, axes moving: %6.1f  (bare 10 ms timer %.1f/s;"
            " ratio %.3f; goal >= 99)\n",
            seconds, link == Link::InProcess ? "in process" : "loopback  ", polls / seconds,
            bareTicks / seconds, static_cast<double>(polls) / bareTicks);
    }
    std::printf("resident memory after polling: %ld KiB\n", ResidentKiB());
    return 0;
}
