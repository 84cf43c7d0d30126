#pragma once

namespace trevane {

// Asks the kernel to wake the calling thread close to its timers' deadlines (Linux timer
// slack of 1 us instead of the default 50 us, a 1 ms timer period on Windows) until the scope
// ends; a no-op elsewhere.
class PreciseTimersScope {
  public:
    PreciseTimersScope();
    ~PreciseTimersScope();
    PreciseTimersScope(const PreciseTimersScope&) = delete;
    PreciseTimersScope& operator=(const PreciseTimersScope&) = delete;

  private:
    long previousSlackNs_ = -1;
};

// True when the process's standard output is a terminal (not a pipe or a file).
bool StandardOutputIsTerminal();
bool StandardErrorIsTerminal();

}  // namespace trevane
