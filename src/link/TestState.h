#pragma once

#include <atomic>
#include <cstdint>

// What the automatic test shares with the rest of the window: the procedures, the jog and the
// program dump refuse to run while a test drives the machine.
namespace trevane {

extern std::atomic<bool> g_testRunning;
extern std::atomic<std::int32_t> g_testProgress;

}  // namespace trevane
