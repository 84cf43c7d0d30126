#pragma once

#include "sim/LostMotion.h"
#include "sim/PhysicalFaults.h"
#include "sim/Simulator.h"

namespace trevane::sim {

// The settings of one axis as the commands set them, with the values of a freshly powered
// controller.
struct AxisSettings {
    double speed = 25000;                     // SP, counts/s
    double acceleration = 256000;             // AC, counts/s^2
    double deceleration = 256000;             // DC, counts/s^2
    double proportionalGain = 6;              // KP
    double integralGain = 0;                  // KI
    double derivativeGain = 64;               // KD
    double torqueLimit = 9.9982;              // TL, volts
    double reverseSoftLimit = -2147483648.0;  // BL
    double forwardSoftLimit = 2147483647.0;   // FL
    double jogSpeed = 0;                      // JG, counts/s
    bool positionTracking = false;            // PT
    double positionTarget = 0;                // PA
};

// Where the machine's limit switches sit: outside any travel the automatic test asks for.
inline constexpr double kForwardSwitchPosition = 200000;
inline constexpr double kReverseSwitchPosition = -200000;

// One axis of the machine: a trapezoidal profile generator that moves the reference, and a
// motor that follows it through a critically damped servo loop, so the following error and the
// torque grow with speed and acceleration the way a tuned real axis does. Physical faults change
// the loop, the load and the encoder; an axis without them runs the clean model untouched.
class SimAxis {
  public:
    AxisSettings settings;

    // Faults of this axis.
    bool stall = false;         // the motor no longer follows its reference
    bool torqueSpike = false;   // the torque reads high while the axis moves
    double load = 1.0;          // friction or wear: error and torque this many times higher
    bool forwardStuck = false;  // the forward switch is on wherever the axis is
    bool reverseStuck = false;
    PhysicalFaults physical;

    // Whether a switch reads as on: the physical state, flipped when the "CN" setting does not
    // match the machine's wiring.
    bool ForwardLimitOn(bool cnMismatch) const;
    bool ReverseLimitOn(bool cnMismatch) const;

    void MotorOff();
    void ServoHere();
    void DefinePosition(double position);
    // Starts a move to `target` at the settings' speed (position tracking, or "BG").
    void StartMove(double target, bool cnMismatch);
    // Starts jogging at the settings' jog speed; nothing happens at speed 0.
    void StartJog(bool cnMismatch);
    // Decelerates to a stop; `code` becomes the stop code once the axis stands still.
    void Stop(int code);
    // Advances the model by `dt` seconds.
    void Step(double dt, bool cnMismatch);
    // The model's time in ms, which the encoder's noise follows.
    void SetSampleTime(long long ms) { sampleMs_ = ms; }

    bool Moving() const { return motion_ != Motion::Idle; }
    bool Jogging() const { return motion_ == Motion::Jog; }
    bool MotorIsOff() const { return motorOff_; }
    // Nothing changes while time passes: the machine may skip ahead.
    bool Quiescent() const;
    int StopCode() const { return stopCode_; }
    bool StoppedByCondition() const;

    double Reference() const { return reference_; }
    // Where the motor is: under a load it lags its reference `load` times as far as the loop
    // alone would make it, so the following error grows by exactly that factor.
    double Motor() const { return reference_ - load * (reference_ - motor_); }
    double Torque() const;  // volts, clamped by the torque limit
    AxisState State(bool cnMismatch) const;

  private:
    enum class Motion { Idle, Position, Jog, Stopping };

    void StepProfile(double dt, bool cnMismatch);
    void StepMotor(double dt);
    void StepFaultedMotor(double dt);
    double FaultedTorque() const;
    // Where the motor comes to rest while the profile stands still.
    double RestingMotor() const;
    void Finish(int code);
    // True when the next motion toward `direction` (+1 or -1) is blocked by a limit switch; the
    // stop code then says which.
    bool BlockedByLimit(double direction, bool cnMismatch);

    Motion motion_ = Motion::Idle;
    double moveTarget_ = 0;
    int pendingStopCode_ = kStopNone;
    int stopCode_ = kStopNone;
    bool motorOff_ = true;

    double reference_ = 0;
    double referenceVelocity_ = 0;
    double motor_ = 0;
    double motorVelocity_ = 0;
    double motorAcceleration_ = 0;

    // Of a faulted axis only.
    LostMotion play_;
    bool loadCarried_ = true;  // false while the motor crosses the lost motion alone
    long long sampleMs_ = 0;
};

}  // namespace trevane::sim
