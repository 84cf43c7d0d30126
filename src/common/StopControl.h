#pragma once

#include <chrono>
#include <stop_token>

// Cooperative cancellation of the automatic test. The test thread installs its stop token as
// the current thread's; the command link, the test log and every wait check it, and unwind
// with TestAborted once a stop is requested. No thread is ever killed.
namespace trevane {

struct TestAborted {};

// The stop token of the calling thread (a token that never stops on threads without one).
std::stop_token CurrentStopToken();
bool CurrentThreadStopRequested();

// Throws TestAborted when the calling thread has been asked to stop.
void ThrowIfStopRequested();

// Waits on the system clock; throws TestAborted when a stop cuts the wait short.
void Wait(std::chrono::milliseconds duration);

// Installs `token` as the calling thread's stop token for the scope's lifetime.
class ScopedStopToken {
  public:
    explicit ScopedStopToken(std::stop_token token);
    ~ScopedStopToken();
    ScopedStopToken(const ScopedStopToken&) = delete;
    ScopedStopToken& operator=(const ScopedStopToken&) = delete;

  private:
    const std::stop_token token_;
    const std::stop_token* const previous_;
};

}  // namespace trevane
