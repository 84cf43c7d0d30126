#include "common/StopControl.h"

#include "common/Clock.h"

namespace trevane {
namespace {
thread_local std::stop_token t_stopToken;
}

std::stop_token CurrentStopToken() {
    return t_stopToken;
}

bool CurrentThreadStopRequested() {
    return t_stopToken.stop_requested();
}

void ThrowIfStopRequested() {
    if (t_stopToken.stop_requested()) {
        throw TestAborted{};
    }
}

void Wait(std::chrono::milliseconds duration) {
    ThrowIfStopRequested();
    if (!SystemClockShared()->SleepFor(duration, t_stopToken)) {
        throw TestAborted{};
    }
}

ScopedStopToken::ScopedStopToken(std::stop_token token) : previous_(t_stopToken) {
    t_stopToken = std::move(token);
}

ScopedStopToken::~ScopedStopToken() {
    t_stopToken = std::move(previous_);
}

}  // namespace trevane
