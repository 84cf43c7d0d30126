#pragma once

#include <cstdlib>
#include <string_view>

// TREVANE_BENCH_SMOKE=1: CI runs every benchmark once to prove it still builds, starts and
// completes. The large sizes shrink so the run takes seconds; its figures mean nothing.
namespace trevane::bench {

inline bool SmokeRun() {
    const char* value = std::getenv("TREVANE_BENCH_SMOKE");
    return value != nullptr && std::string_view(value) == "1";
}

inline int SmokeOr(int full, int smoke) {
    return SmokeRun() ? smoke : full;
}

}  // namespace trevane::bench
