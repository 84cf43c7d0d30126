#pragma once

#include <chrono>
#include <condition_variable>
#include <stop_token>
#include <utility>

// Waits on a condition_variable_any until `ready()` holds, `stop` is requested or the deadline
// passes, and returns `ready()`, like condition_variable_any's stop_token overloads.
//
// On Windows those overloads cannot be used: mingw-w64's libstdc++ has no futex-like wait, and
// the semaphore with which ~stop_callback waits for a callback still running on the stopping
// thread can miss its wake-up and hang for good. There a stop is seen by waking every slice.
namespace trevane {

#ifdef _WIN32
inline constexpr std::chrono::milliseconds kStopPollSlice{1};
#endif

template <class Lock, class Clock, class Duration, class Ready>
bool WaitUntilOrStopped(std::condition_variable_any& cv, Lock& lock, const std::stop_token& stop,
                        const std::chrono::time_point<Clock, Duration>& deadline, Ready ready) {
#ifdef _WIN32
    while (!ready()) {
        const auto now = Clock::now();
        if (stop.stop_requested() || now >= deadline) {
            return ready();
        }
        const auto sliceEnd = now + kStopPollSlice;
        cv.wait_until(lock, deadline < sliceEnd ? deadline : sliceEnd);
    }
    return true;
#else
    return cv.wait_until(lock, stop, deadline, std::move(ready));
#endif
}

template <class Lock, class Rep, class Period, class Ready>
bool WaitForOrStopped(std::condition_variable_any& cv, Lock& lock, const std::stop_token& stop,
                      std::chrono::duration<Rep, Period> timeout, Ready ready) {
    return WaitUntilOrStopped(cv, lock, stop, std::chrono::steady_clock::now() + timeout,
                              std::move(ready));
}

template <class Lock, class Ready>
bool WaitOrStopped(std::condition_variable_any& cv, Lock& lock, const std::stop_token& stop,
                   Ready ready) {
#ifdef _WIN32
    return WaitUntilOrStopped(cv, lock, stop, std::chrono::steady_clock::time_point::max(),
                              std::move(ready));
#else
    return cv.wait(lock, stop, std::move(ready));
#endif
}

}  // namespace trevane
