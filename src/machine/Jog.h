#pragma once

#include <array>

namespace trevane {

class ControllerLink;

// Axis selection in the order X, Y, Z, W: 1 where the box is ticked, else 0.
using AxisSelection = std::array<int, 4>;

// Why a W in the selection moves nothing, wherever a jog is asked for.
inline constexpr const char* kWCannotBeJoggedText = "W cannot be jogged";

// Speed 0 sends the stop sequence ("AB1", "PT1,1,1,1", "SP*=10000"); any other speed sends
// "PT0,0,0,0", "JG<x>,<y>,<z>,0" and "BG". Nothing while not connected.
void Jog(ControllerLink& link, const AxisSelection& axes, int speed);

// The handlers behind the two hold-to-run buttons: a left-button press on "Up" (direction +1,
// the jog speed as it is) or "Down" (direction -1, the position negated), and the release
// shared by both. They read the boxes and the slider at the moment of the call and do nothing
// while the automatic test runs. A press tells the operator whether it refused W.
void OnJogButtonDown(ControllerLink& link, int direction);
void OnJogButtonUp(ControllerLink& link);

}  // namespace trevane
