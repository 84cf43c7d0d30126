#pragma once

#include <array>
#include <atomic>
#include <string>

namespace trevane {

struct TestContext;

// The axis letters, in the order X, Y, Z, W.
extern const std::array<const char*, 4> g_axisNames;

// Second phase of the automatic test: enable, prepare, zero, watched moves of X, Y and Z to
// -20000 and back, the CN swaps and the CN restore.
void RunAxisMotionTest(TestContext& test);

// One move watch of `axis` ("X", "Y" or "Z"): 200 cycles of a torque and an error reading, each
// ending with a 10 ms wait; aborts the move on a reading above its limit. Raises `maxError` to
// every larger error reading and returns the largest torque reading.
float WatchMove(TestContext& test, const std::string& axis, float& maxError);

}  // namespace trevane
