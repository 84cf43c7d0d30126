#pragma once


namespace trevane {

struct TestContext;

// First phase of the automatic test: halt, identity, 19 logged queries, progress 40 and 50.
void RunConfigurationChecks(TestContext& test);

}  // namespace trevane
