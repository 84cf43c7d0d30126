#include "sim/SimAxis.h"

#include <algorithm>
#include <cmath>

#include "sim/Numbers.h"
#include "sim/ServoModel.h"

namespace trevane::sim {
namespace {

using servo::kFrictionFullSpeed;
using servo::kFrictionVolts;
using servo::kLoopBandwidth;
using servo::kVoltsPerAcceleration;
using servo::kVoltsPerSpeed;

constexpr double kTorqueSpikeVolts = 3.6;
// The motor's rotor alone, as it turns across lost motion: a quarter of the axis's inertia.
constexpr double kRotorShare = 0.25;

// Below these the motor has settled onto its reference.
constexpr double kSettledError = 0.01;
constexpr double kSettledSpeed = 0.1;

double Sign(double value) {
    return value > 0 ? 1.0 : (value < 0 ? -1.0 : 0.0);
}

double MoveToward(double value, double goal, double maxChange) {
    if (value < goal) {
        return std::min(goal, value + maxChange);
    }
    return std::max(goal, value - maxChange);
}

}  // namespace

bool SimAxis::ForwardLimitOn(bool cnMismatch) const {
    const bool physical = forwardStuck || Motor() >= kForwardSwitchPosition;
    return physical != cnMismatch;
}

bool SimAxis::ReverseLimitOn(bool cnMismatch) const {
    const bool physical = reverseStuck || Motor() <= kReverseSwitchPosition;
    return physical != cnMismatch;
}

void SimAxis::MotorOff() {
    if (Moving()) {
        stopCode_ = kStopMotorOff;
    }
    motion_ = Motion::Idle;
    motorOff_ = true;
    referenceVelocity_ = 0;
    // With the loop open the reference follows the encoder, so the error reads 0; a stalled
    // drive latches its following error instead, so the fault stays visible until "SH".
    motor_ = Motor();
    if (!stall) {
        reference_ = motor_;
    }
    motorVelocity_ = 0;
    motorAcceleration_ = 0;
    settings.positionTarget = motor_;
}

void SimAxis::ServoHere() {
    if (Moving()) {
        stopCode_ = kStopAborted;
    }
    motion_ = Motion::Idle;
    motorOff_ = false;
    motor_ = Motor();
    reference_ = motor_;
    referenceVelocity_ = 0;
    motorVelocity_ = 0;
    motorAcceleration_ = 0;
    settings.positionTarget = motor_;
}

void SimAxis::DefinePosition(double position) {
    reference_ = position;
    motor_ = position;
    referenceVelocity_ = 0;
    motorVelocity_ = 0;
    motorAcceleration_ = 0;
    settings.positionTarget = position;
}

bool SimAxis::BlockedByLimit(double direction, bool cnMismatch) {
    if (direction > 0 && ForwardLimitOn(cnMismatch)) {
        Finish(kStopForwardLimit);
        return true;
    }
    if (direction < 0 && ReverseLimitOn(cnMismatch)) {
        Finish(kStopReverseLimit);
        return true;
    }
    return false;
}

void SimAxis::StartMove(double target, bool cnMismatch) {
    const double direction = Sign(target - reference_);
    if (BlockedByLimit(direction, cnMismatch)) {
        return;
    }
    motion_ = Motion::Position;
    moveTarget_ = target;
    stopCode_ = kStopNone;
}

void SimAxis::StartJog(bool cnMismatch) {
    if (settings.jogSpeed == 0 || BlockedByLimit(Sign(settings.jogSpeed), cnMismatch)) {
        return;
    }
    motion_ = Motion::Jog;
    stopCode_ = kStopNone;
}

void SimAxis::Stop(int code) {
    if (Moving() && motion_ != Motion::Stopping) {
        motion_ = Motion::Stopping;
        pendingStopCode_ = code;
    }
}

void SimAxis::Finish(int code) {
    motion_ = Motion::Idle;
    referenceVelocity_ = 0;
    stopCode_ = code;
}

void SimAxis::Step(double dt, bool cnMismatch) {
    if (motorOff_) {
        return;
    }
    if (Moving()) {
        StepProfile(dt, cnMismatch);
    }
    StepMotor(dt);
}

void SimAxis::StepProfile(double dt, bool cnMismatch) {
    const AxisSettings& s = settings;
    const double low = s.reverseSoftLimit;
    const double high = std::max(s.reverseSoftLimit, s.forwardSoftLimit);

    // Where the profile is heading, how fast it may go, and the stop code on arrival.
    bool hasGoal = true;
    double goal = 0;
    double speed = 0;
    int arrivalCode = kStopFinished;
    switch (motion_) {
        case Motion::Position:
            goal = std::clamp(moveTarget_, low, high);
            speed = s.speed;
            if (moveTarget_ > high) {
                arrivalCode = kStopForwardSoftLimit;
            } else if (moveTarget_ < low) {
                arrivalCode = kStopReverseSoftLimit;
            }
            break;
        case Motion::Jog:
            // A jog runs until a software limit stops it, or until "JG" slows it to 0.
            hasGoal = s.jogSpeed != 0;
            goal = s.jogSpeed > 0 ? high : low;
            speed = std::abs(s.jogSpeed);
            arrivalCode = s.jogSpeed > 0 ? kStopForwardSoftLimit : kStopReverseSoftLimit;
            if (!hasGoal) {
                arrivalCode = kStopFinished;
            }
            break;
        case Motion::Stopping:
            hasGoal = false;
            arrivalCode = pendingStopCode_;
            break;
        case Motion::Idle:
            return;
    }

    // Already at or past the software limit that caps this motion: it ends where it is.
    const double intended =
        motion_ == Motion::Jog ? Sign(s.jogSpeed) : Sign(moveTarget_ - reference_);
    const bool cappedByLimit =
        arrivalCode == kStopForwardSoftLimit || arrivalCode == kStopReverseSoftLimit;
    if (hasGoal && cappedByLimit && Sign(goal - reference_) != intended) {
        Finish(arrivalCode);
        return;
    }

    // The fastest speed from which the axis can still stop at the goal with DC.
    double wanted = 0;
    if (hasGoal) {
        const double distance = goal - reference_;
        wanted =
            Sign(distance) * std::min(speed, std::sqrt(2 * s.deceleration * std::abs(distance)));
    }
    if ((wanted > 0 || referenceVelocity_ > 0) && ForwardLimitOn(cnMismatch)) {
        motion_ = Motion::Stopping;
        pendingStopCode_ = arrivalCode = kStopForwardLimit;
        hasGoal = false;
        wanted = 0;
    } else if ((wanted < 0 || referenceVelocity_ < 0) && ReverseLimitOn(cnMismatch)) {
        motion_ = Motion::Stopping;
        pendingStopCode_ = arrivalCode = kStopReverseLimit;
        hasGoal = false;
        wanted = 0;
    }

    double velocity = referenceVelocity_;
    if (velocity * wanted < 0) {
        velocity = MoveToward(velocity, 0, s.deceleration * dt);  // turn round: brake first
    } else if (std::abs(wanted) > std::abs(velocity)) {
        velocity = MoveToward(velocity, wanted, s.acceleration * dt);
    } else {
        velocity = MoveToward(velocity, wanted, s.deceleration * dt);
    }
    const double before = reference_;
    reference_ += 0.5 * (referenceVelocity_ + velocity) * dt;
    referenceVelocity_ = velocity;

    if (hasGoal) {
        const bool reached = (goal - reference_) * (goal - before) <= 0;
        if (reached) {
            reference_ = goal;
            Finish(arrivalCode);
        }
    } else if (velocity == 0) {
        Finish(arrivalCode);
    }
}

void SimAxis::StepMotor(double dt) {
    if (stall) {
        motorVelocity_ = 0;
        motorAcceleration_ = 0;
        return;
    }
    if (physical.Any()) {
        StepFaultedMotor(dt);
        return;
    }
    const double error = reference_ - motor_;
    const double w = kLoopBandwidth;
    motorAcceleration_ = w * w * error - 2 * w * motorVelocity_;
    motorVelocity_ += motorAcceleration_ * dt;
    motor_ += motorVelocity_ * dt;
    if (!Moving() && std::abs(reference_ - motor_) < kSettledError &&
        std::abs(motorVelocity_) < kSettledSpeed) {
        motor_ = reference_;
        motorVelocity_ = 0;
        motorAcceleration_ = 0;
    }
}

// The loop and load of a faulted axis. While the motor crosses lost motion it turns alone: the
// load, its friction and its weight act on it only while it is carried.
void SimAxis::StepFaultedMotor(double dt) {
    const double error = reference_ - motor_;
    double acceleration = physical.Stiffness() * error - physical.Damping() * motorVelocity_;
    if (loadCarried_) {
        acceleration -= physical.gravityVolts / kVoltsPerAcceleration;
    }
    double velocity = motorVelocity_ + acceleration * dt;
    if (loadCarried_) {
        velocity = physical.OpposedVelocity(motor_, velocity, dt);
    }
    motorAcceleration_ = (velocity - motorVelocity_) / dt;
    motorVelocity_ = velocity;
    motor_ += velocity * dt;
    const double play = physical.Play();
    play_.Move(play, velocity * dt);
    const bool carried = play_.Carries(play, velocity);
    if (carried && !loadCarried_) {
        // The motor strikes the standing load; they go on together at what the blow leaves.
        motorVelocity_ *= kRotorShare;
    }
    loadCarried_ = carried;
    const double rest = RestingMotor();
    if (!Moving() && std::abs(rest - motor_) < kSettledError &&
        std::abs(motorVelocity_) < kSettledSpeed) {
        motor_ = rest;
        motorVelocity_ = 0;
        motorAcceleration_ = 0;
    }
}

double SimAxis::RestingMotor() const {
    return physical.Any() ? reference_ - physical.StaticLag() : reference_;
}

bool SimAxis::Quiescent() const {
    return !Moving() && (motorOff_ || stall || (motor_ == RestingMotor() && motorVelocity_ == 0));
}

bool SimAxis::StoppedByCondition() const {
    if (Moving()) {
        return false;
    }
    switch (stopCode_) {
        case kStopForwardLimit:
        case kStopReverseLimit:
        case kStopAborted:
        case kStopForwardSoftLimit:
        case kStopReverseSoftLimit:
        case kStopMotorOff:
            return true;
        default:
            return false;
    }
}

double SimAxis::Torque() const {
    if (motorOff_) {
        return 0;
    }
    double volts = 0;
    if (physical.Any()) {
        volts = FaultedTorque();
    } else {
        volts = kVoltsPerAcceleration * motorAcceleration_ + kVoltsPerSpeed * motorVelocity_;
        volts += kFrictionVolts * std::clamp(motorVelocity_ / kFrictionFullSpeed, -1.0, 1.0);
    }
    volts *= load;
    if (torqueSpike && Moving()) {
        double direction = Sign(referenceVelocity_);
        if (direction == 0) {
            direction = motion_ == Motion::Position ? Sign(moveTarget_ - reference_) : 1.0;
        }
        volts += kTorqueSpikeVolts * (direction == 0 ? 1.0 : direction);
    }
    const double limit = std::abs(settings.torqueLimit);
    return std::clamp(volts, -limit, limit);
}

double SimAxis::FaultedTorque() const {
    if (!loadCarried_) {
        return kRotorShare * kVoltsPerAcceleration * motorAcceleration_;
    }
    double volts = kVoltsPerAcceleration * motorAcceleration_ + kVoltsPerSpeed * motorVelocity_;
    volts += kFrictionVolts * std::clamp(motorVelocity_ / kFrictionFullSpeed, -1.0, 1.0);
    volts += physical.ExtraFrictionVolts(motor_, motorVelocity_) + physical.gravityVolts;
    // The loop answers the noise it reads; the load is far too slow to follow it.
    volts -= kVoltsPerAcceleration * physical.Stiffness() * physical.EncoderNoise(sampleMs_);
    return volts;
}

AxisState SimAxis::State(bool cnMismatch) const {
    AxisState state;
    state.referencePosition = ToCount32(reference_);
    state.motorPosition = ToCount32(Motor());
    if (physical.noise != 0) {
        state.motorPosition = ToCount32(Motor() + physical.EncoderNoise(sampleMs_));
        // With the loop open the reference follows the encoder, noise and all.
        if (motorOff_ && !stall) {
            state.referencePosition = state.motorPosition;
        }
    }
    state.positionError = state.referencePosition - state.motorPosition;
    state.velocity = ToCount32(motorVelocity_);
    state.torque = Torque();
    state.moving = Moving();
    state.stopped = StoppedByCondition();
    state.motorOff = motorOff_;
    state.forwardLimitOn = ForwardLimitOn(cnMismatch);
    state.reverseLimitOn = ReverseLimitOn(cnMismatch);
    state.stopCode = stopCode_;
    return state;
}

}  // namespace trevane::sim
