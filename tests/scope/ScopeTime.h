#pragma once

#include <chrono>
#include <cstdint>

#include "scope/ScopeBuffer.h"

namespace trevane::testing {

// A time some milliseconds after the buffer's clock started.
inline scope::TimePoint Ms(long long milliseconds) {
    return scope::TimePoint(std::chrono::milliseconds(milliseconds));
}

// A record whose every channel reads `value`.
inline scope::RecordValues Filled(std::int32_t value) {
    scope::RecordValues values;
    values.fill(value);
    return values;
}

}  // namespace trevane::testing
