#pragma once

// The servo loop and load of a clean axis, shared by its model and by the model of its faults.
namespace trevane::sim::servo {

// Servo loop bandwidth: with critical damping the following error at a steady speed V is
// 2 V / w, so 150 counts at 10000 counts/s, the test's speed.
inline constexpr double kLoopBandwidth = 1.0 / 0.0075;  // rad/s

// Torque, in volts, of the load: inertia, viscous and dry friction. A clean move at the
// automatic test's settings peaks at about 1.5 V, well under its 3.1 V threshold.
inline constexpr double kVoltsPerAcceleration = 1.5e-6;  // per count/s^2
inline constexpr double kVoltsPerSpeed = 5e-5;           // per count/s
inline constexpr double kFrictionVolts = 0.5;
inline constexpr double kFrictionFullSpeed = 200;  // counts/s; slower, friction fades toward 0

}  // namespace trevane::sim::servo
