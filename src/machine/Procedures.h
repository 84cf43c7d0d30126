#pragma once

// The five fixed command sequences and their button handlers. A procedure refuses silently
// while not connected and goes on past failed commands; a handler refuses silently while the
// automatic test runs.
namespace trevane {

void EnableMachine();
void DisableMachine();
void PrepareMotion();
void ExitMotion();
void SetZero();

void OnTurnOn();
void OnTurnOff();
void OnPrepareMotion();
void OnExitMotion();
void OnSetZero();

}  // namespace trevane
