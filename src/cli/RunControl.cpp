#include "cli/RunControl.h"

#include <condition_variable>
#include <utility>

#include "cli/Verbs.h"
#include "common/StopWait.h"

namespace trevane::cli {
namespace {

// Tools such as timeout(1) signal the process and then its group: the copies of one request
// land within microseconds of each other. Only a signal this long after the first that the
// watcher saw is the operator asking a second time.
constexpr auto kRepeatedInterrupt = std::chrono::milliseconds(300);
constexpr auto kInterruptPoll = std::chrono::milliseconds(20);

// SIGPIPE's number on Linux; the exit code stays that of a Linux shell on every platform.
constexpr int kSignalBrokenPipe = 13;

}  // namespace

void RunControl::Arrive(int signal) noexcept {
    int none = 0;
    firstSignal_.compare_exchange_strong(none, signal);
    interrupts_.fetch_add(1);
}

void RunControl::OutputBroken() {
    // Counted once: later failed writes are the same break, not a second request to end.
    if (outputBroken_.exchange(true)) {
        return;
    }
    Arrive(kSignalBrokenPipe);
}

int RunControl::ExitCode() const {
    const int signal = firstSignal_.load();
    return signal > 0 ? 128 + signal : kExitInterrupted;
}

void RunControl::OnInterrupt(std::function<void()> callback) {
    std::lock_guard lock(mutex_);
    callbacks_.push_back(std::move(callback));
}

void RunControl::SetWatchHooks(std::function<void()> starting, std::function<void()> repeated) {
    std::lock_guard lock(mutex_);
    starting_ = std::move(starting);
    repeated_ = std::move(repeated);
}

void RunControl::StartWatching() {
    std::function<void()> starting;
    {
        std::lock_guard lock(mutex_);
        if (!watcher_.joinable()) {
            watcher_ = std::jthread(
                [this, repeated = repeated_](std::stop_token stop) { Watch(stop, repeated); });
        }
        starting = starting_;
    }
    if (starting) {
        starting();
    }
}

void RunControl::StopWatching() {
    std::jthread watcher;
    {
        std::lock_guard lock(mutex_);
        watcher = std::move(watcher_);
        callbacks_.clear();
    }
    // Joined outside the lock: a callback run by the watcher takes it.
}

RunControl::LastStop RunControl::SetLastStop(LastStop stop) {
    std::lock_guard lock(mutex_);
    return std::exchange(lastStop_, std::move(stop));
}

bool RunControl::SendLastStop(std::chrono::milliseconds bound) {
    LastStop stop;
    {
        std::lock_guard lock(mutex_);
        stop = lastStop_;
    }
    return stop && stop(bound);
}

void RunControl::RunCallbacks() {
    std::vector<std::function<void()>> callbacks;
    {
        std::lock_guard lock(mutex_);
        callbacks = callbacks_;
    }
    for (auto& callback : callbacks) {
        callback();
    }
}

// A signal handler can wake no one, so the watcher looks at the count every 20 ms.
void RunControl::Watch(std::stop_token stop, const std::function<void()>& repeated) {
    std::mutex mutex;
    std::condition_variable_any never;
    std::unique_lock lock(mutex);
    while (!WaitForOrStopped(never, lock, stop, kInterruptPoll, [this] { return Requested(); })) {
        if (stop.stop_requested()) {
            return;
        }
    }
    const auto firstSeen = std::chrono::steady_clock::now();
    int seen = Count();
    RunCallbacks();
    while (!WaitForOrStopped(never, lock, stop, kInterruptPoll, [] { return false; })) {
        if (stop.stop_requested()) {
            return;
        }
        const int count = Count();
        if (std::chrono::steady_clock::now() - firstSeen < kRepeatedInterrupt) {
            seen = count;
        } else if (count > seen) {
            seen = count;
            if (repeated) {
                repeated();
            }
        }
    }
}

}  // namespace trevane::cli
