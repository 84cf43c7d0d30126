#include "machine/Procedures.h"

#include <initializer_list>
#include <string>

#include "link/Link.h"
#include "link/TestState.h"

namespace trevane {
namespace {

// Each command waits for its own reply; a failure has already been reported by SendCommand and
// must not keep the machine from reaching the rest of the sequence.
void SendSequence(std::initializer_list<const char*> commands) {
    if (!g_connected) {
        return;
    }
    for (const char* command : commands) {
        SendCommand(command);
    }
}

// The buttons stay idle while the test drives the machine through the same procedures.
template <typename Procedure>
void UnlessTestRuns(Procedure procedure) {
    if (g_testRunning) {
        return;
    }
    procedure();
}

}  // namespace

// The limit values have nine digits, not the 32-bit limits; keep them exactly as they are.
void EnableMachine() {
    SendSequence({"SB7", "TL*=5.0", "BL-214783648,-214783648,-214783648;",
                  "FL214783647,214783647,214783647;", "AB1", "CB1", "CB2", "CB3", "CB4", "MO",
                  "HX"});
}

void DisableMachine() {
    SendSequence({"AB1", "CB1", "CB2", "CB3", "CB4", "MO", "CB7"});
}

void PrepareMotion() {
    SendSequence({"TL*=5.0", "AB1", "SH", "DC*=2000000", "AC*=300000", "SP*=10000",
                  "BL-214783648,-214783648,-214783648", "FL214783647,214783647,214783647",
                  "PT1,1,1", "SB1", "SB2", "SB3"});
}

void ExitMotion() {
    SendSequence({"AB1", "CB1", "CB2", "CB3", "CB4", "MO"});
}

void SetZero() {
    SendSequence({"DP0,0,0,0"});
}

void OnTurnOn() {
    UnlessTestRuns(EnableMachine);
}
void OnTurnOff() {
    UnlessTestRuns(DisableMachine);
}
void OnPrepareMotion() {
    UnlessTestRuns(PrepareMotion);
}
void OnExitMotion() {
    UnlessTestRuns(ExitMotion);
}
void OnSetZero() {
    UnlessTestRuns(SetZero);
}

}  // namespace trevane
