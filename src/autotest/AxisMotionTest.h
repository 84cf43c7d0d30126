#pragma once

#include <array>
#include <atomic>

namespace trevane {

// The axis letters, in the order X, Y, Z, W.
extern const std::array<const char*, 4> g_axisNames;
extern std::atomic<bool> g_moveAborted;

// Second phase of the automatic test: enable, prepare, zero, watched moves of X, Y and Z to
// -20000 and back, the CN swaps and the CN restore.
void RunAxisMotionTest();

}  // namespace trevane
