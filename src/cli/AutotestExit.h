#pragma once

namespace trevane {
struct TestResult;
}

namespace trevane::cli {

class VerbContext;

// The exit status of a finished automatic test, with one line on the context's error stream
// saying why, after the history's notices: 0 only when every move was measured and completed,
// no command failed, and the log, the report (`reportWritten`) and the history were written
// whole. With `strict`, a pass with warnings or drift ends kExitWarnings.
int AutotestExitCode(VerbContext& context, const TestResult& result, int commandFailures,
                     bool reportWritten, bool strict);

}  // namespace trevane::cli
