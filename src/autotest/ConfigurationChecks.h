#pragma once

#include <atomic>

namespace trevane {

extern std::atomic<float> g_cnSaved;
extern std::atomic<float> g_cnCurrent;

// First phase of the automatic test: halt, identity, 19 logged queries, progress 40 and 50.
void RunConfigurationChecks();

}  // namespace trevane
