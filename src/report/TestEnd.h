#pragma once

// Installs the test runner's end-of-test hooks of both front ends: the history and the report
// once a test has ended, then its verdict line. Call before the first test starts.
namespace trevane {

void InstallTestEndHooks();

}  // namespace trevane
