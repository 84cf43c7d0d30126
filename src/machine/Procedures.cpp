#include "machine/Procedures.h"

#include <initializer_list>
#include <string>

#include "link/ControllerLink.h"

namespace trevane {
namespace {

// Each command waits for its own reply; a failure has already been reported by SendCommand and
// must not keep the machine from reaching the rest of the sequence.
void SendSequence(ControllerLink& link, std::initializer_list<const char*> commands) {
    if (!link.Connected()) {
        return;
    }
    for (const char* command : commands) {
        link.SendCommand(command);
    }
}

// The buttons stay idle while the test drives the machine through the same procedures.
template <typename Procedure>
void UnlessTestRuns(ControllerLink& link, Procedure procedure) {
    if (link.Test().running) {
        return;
    }
    procedure(link);
}

}  // namespace

// The limit values have nine digits, not the 32-bit limits; keep them exactly as they are.
void EnableMachine(ControllerLink& link) {
    SendSequence(link, {"SB7", "TL*=5.0", "BL-214783648,-214783648,-214783648;",
                  "FL214783647,214783647,214783647;", "AB1", "CB1", "CB2", "CB3", "CB4", "MO",
                  "HX"});
}

void DisableMachine(ControllerLink& link) {
    SendSequence(link, {"AB1", "CB1", "CB2", "CB3", "CB4", "MO", "CB7"});
}

void PrepareMotion(ControllerLink& link) {
    SendSequence(link, {"TL*=5.0", "AB1", "SH", "DC*=2000000", "AC*=300000", "SP*=10000",
                  "BL-214783648,-214783648,-214783648", "FL214783647,214783647,214783647",
                  "PT1,1,1", "SB1", "SB2", "SB3"});
}

void ExitMotion(ControllerLink& link) {
    SendSequence(link, {"AB1", "CB1", "CB2", "CB3", "CB4", "MO"});
}

void SetZero(ControllerLink& link) {
    SendSequence(link, {"DP0,0,0,0"});
}

void OnTurnOn(ControllerLink& link) {
    UnlessTestRuns(link, EnableMachine);
}
void OnTurnOff(ControllerLink& link) {
    UnlessTestRuns(link, DisableMachine);
}
void OnPrepareMotion(ControllerLink& link) {
    UnlessTestRuns(link, PrepareMotion);
}
void OnExitMotion(ControllerLink& link) {
    UnlessTestRuns(link, ExitMotion);
}
void OnSetZero(ControllerLink& link) {
    UnlessTestRuns(link, SetZero);
}

}  // namespace trevane
