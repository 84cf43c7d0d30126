#pragma once

// The five fixed command sequences and their button handlers. A procedure refuses silently
// while not connected and goes on past failed commands; a handler refuses silently while the
// automatic test runs.
namespace trevane {

class ControllerLink;

void EnableMachine(ControllerLink& link);
void DisableMachine(ControllerLink& link);
void PrepareMotion(ControllerLink& link);
void ExitMotion(ControllerLink& link);
void SetZero(ControllerLink& link);

void OnTurnOn(ControllerLink& link);
void OnTurnOff(ControllerLink& link);
void OnPrepareMotion(ControllerLink& link);
void OnExitMotion(ControllerLink& link);
void OnSetZero(ControllerLink& link);

}  // namespace trevane
