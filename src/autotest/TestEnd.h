#pragma once

#include <cstdint>
#include <functional>

#include "autotest/TestRecord.h"

// What becomes of a test once it has ended (its report, its place in the history, its verdict)
// is decided above the runner: the controller object installs these hooks, so the runner
// reaches up to none of it. Without hooks a test just ends.
namespace trevane {

struct TestEndHooks {
    // On the window's thread as a test starts; its result goes to `judged`, so a thread still
    // unwinding can tell that a later test has started since.
    std::function<std::uint64_t()> started;
    // On the test thread after its last log entry, while a stop still unwinds it.
    std::function<void(const TestRecord&)> ended;
    // Then outside the stop's reach, so that an aborted test still gets its verdict.
    std::function<void(const TestRecord&, std::uint64_t ticket)> judged;
};

}  // namespace trevane
