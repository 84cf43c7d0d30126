#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// How one run of the command line is stopped: the interrupts that reached it, what they stop,
// and the last stop a repeated interrupt sends before the run ends at once.
namespace trevane::cli {

class RunControl {
  public:
    using LastStop = std::function<bool(std::chrono::milliseconds bound)>;

    RunControl() = default;
    ~RunControl() { StopWatching(); }
    RunControl(const RunControl&) = delete;
    RunControl& operator=(const RunControl&) = delete;

    // An interrupt: the first names the exit code (128 + `signal`). Touches lock-free atomics
    // only, so a signal handler may call it.
    void Arrive(int signal) noexcept;
    // A write to standard output failed: counted once as a broken pipe (exit 141), so a running
    // verb stops as on Ctrl-C.
    void OutputBroken();

    bool Requested() const { return interrupts_.load() > 0; }
    int Count() const { return interrupts_.load(); }
    // 128 + the number of the first signal, 130 when there was none.
    int ExitCode() const;

    // Run by the watcher on the first interrupt (a jog stops its axes, a test aborts).
    void OnInterrupt(std::function<void()> callback);
    // What the one who runs the command line does as the watch starts (a program catches its
    // signals then), and when an interrupt is asked for again later than the copies of the
    // first (a program ends at once after the last stop).
    void SetWatchHooks(std::function<void()> starting, std::function<void()> repeated);
    // Starts the thread that runs the callbacks.
    void StartWatching();
    // Stops and joins the watcher and forgets the callbacks.
    void StopWatching();

    // What a repeated interrupt sends: true once every axis it is for was stopped. Returns the
    // one it replaces.
    LastStop SetLastStop(LastStop stop);
    // The last stop as set; false when none is.
    bool SendLastStop(std::chrono::milliseconds bound);

    // Set once a fleet gives up waiting for a member's thread: what that thread may still use
    // must not be taken down.
    void LeaveThreadsBehind() { threadsLeftBehind_ = true; }
    bool ThreadsLeftBehind() const { return threadsLeftBehind_.load(); }

  private:
    void Watch(std::stop_token stop, const std::function<void()>& repeated);
    void RunCallbacks();

    std::atomic<int> interrupts_{0};
    std::atomic<int> firstSignal_{0};
    std::atomic<bool> outputBroken_{false};
    std::atomic<bool> threadsLeftBehind_{false};
    static_assert(std::atomic<int>::is_always_lock_free);

    std::mutex mutex_;
    std::vector<std::function<void()>> callbacks_;  // guarded by mutex_
    std::function<void()> starting_;                // guarded by mutex_
    std::function<void()> repeated_;                // guarded by mutex_
    LastStop lastStop_;                             // guarded by mutex_
    std::jthread watcher_;                          // guarded by mutex_
};

}  // namespace trevane::cli
