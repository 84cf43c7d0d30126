#pragma once

#include "autotest/Outcomes.h"

// The words of a fleet member's state. A member's test ends in its verdict's own word (passed,
// aborted, unverified, link_lost, stopped, no_connection); these are the others.
namespace trevane::cli::fleet_state {

inline constexpr const char* kWaiting = "waiting";
inline constexpr const char* kRunning = "running";
// Its test passed, but with a warning or drift: not a plain pass.
inline constexpr const char* kPassedWithWarnings = "passed_with_warnings";
// record or connect ended well.
inline constexpr const char* kDone = "done";
// It ended badly in a way that is not a test's outcome (a file not written, a failed command).
inline constexpr const char* kFailed = "failed";

}  // namespace trevane::cli::fleet_state
