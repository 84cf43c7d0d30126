#pragma once

#include <atomic>

namespace trevane {

extern std::atomic<float> g_cnSaved;
extern std::atomic<float> g_cnCurrent;
// Whether g_cnSaved is a reading the closing sequence may restore (not one out of step).
extern std::atomic<bool> g_cnSavedTrusted;

// First phase of the automatic test: halt, identity, 19 logged queries, progress 40 and 50.
void RunConfigurationChecks();

}  // namespace trevane
