#include "common/StopControl.h"

#include "common/Clock.h"

namespace trevane {
namespace {
// A plain pointer to the innermost scope's token: with emulated thread-local storage (mingw-w64)
// a thread_local with a destructor is destroyed after its storage has been freed.
thread_local const std::stop_token* t_stopToken = nullptr;

const std::stop_token& ThreadToken() {
    static const std::stop_token never;
    return t_stopToken != nullptr ? *t_stopToken : never;
}
}  // namespace

std::stop_token CurrentStopToken() {
    return ThreadToken();
}

bool CurrentThreadStopRequested() {
    return ThreadToken().stop_requested();
}

void ThrowIfStopRequested() {
    if (CurrentThreadStopRequested()) {
        throw TestAborted{};
    }
}

void Wait(std::chrono::milliseconds duration) {
    ThrowIfStopRequested();
    if (!SystemClockShared()->SleepFor(duration, ThreadToken())) {
        throw TestAborted{};
    }
}

ScopedStopToken::ScopedStopToken(std::stop_token token)
    : token_(std::move(token)), previous_(t_stopToken) {
    t_stopToken = &token_;
}

ScopedStopToken::~ScopedStopToken() {
    t_stopToken = previous_;
}

}  // namespace trevane
