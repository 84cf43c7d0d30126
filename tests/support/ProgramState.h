#pragma once

namespace trevane::testing {

// Puts every program-wide value of the core back as at start, through the list each layer keeps
// beside its values: the test threads stop first, so nothing uses a session as it closes.
void ResetProgramState();

// Resets when made and again when it goes. Declared after anything a test thread may still use
// (a working folder), so that the threads have stopped before it is removed.
class ProgramStateGuard {
  public:
    ProgramStateGuard() { ResetProgramState(); }
    ~ProgramStateGuard() { ResetProgramState(); }
    ProgramStateGuard(const ProgramStateGuard&) = delete;
    ProgramStateGuard& operator=(const ProgramStateGuard&) = delete;
};

}  // namespace trevane::testing
