#pragma once

#include <memory>
#include <string>

#include "app/OstrelDlg.h"
#include "sim/Simulator.h"

// What both window benchmarks set up: the offscreen platform, and a connected main dialog on a
// simulated controller that is reached in process or over loopback.
namespace trevane::bench {

// Before the QApplication: the offscreen platform unless the caller chose another.
void UseOffscreenPlatformByDefault();

enum class Link { InProcess, Loopback };

class ConnectedWindow {
  public:
    explicit ConnectedWindow(Link link);
    ~ConnectedWindow();

    COstrelDlg& Dialog() { return *dialog_; }
    sim::Machine& Machine() { return *machine_; }
    // Jogs all four axes, so that every poll brings new values and a repaint.
    void StartMoving();
    // The status timer stays off, so that a benchmark drives the polls itself.
    void StopPolling();
    // One status poll as the window's timer tick makes it: one record, 52 cells, one update.
    void Poll();

  private:
    std::shared_ptr<sim::Machine> machine_;
    std::unique_ptr<sim::Server> server_;
    std::unique_ptr<COstrelDlg> dialog_;
};

// CPU seconds of the calling thread. Linux counts per thread; elsewhere the process's time
// stands in, which also counts other threads and so overstates the load.
double ThreadCpuSeconds();

// Runs the calling thread's event loop for `ms` milliseconds.
void RunEventLoopFor(int ms);

// Resident memory of this process in KiB, or -1 where it cannot be read.
long ResidentKiB();

}  // namespace trevane::bench
