#include "link/TestState.h"

namespace trevane {

std::atomic<bool> g_testRunning{false};
std::atomic<std::int32_t> g_testProgress{0};

}  // namespace trevane
