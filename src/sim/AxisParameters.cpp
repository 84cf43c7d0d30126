#include "sim/AxisParameters.h"

#include <cmath>

#include "sim/Numbers.h"

// The per-axis settings that the commands assign and query, with their ranges.
namespace trevane::sim {
namespace {

using Impl = Machine::Impl;

int CheckNotMoving(const Impl& machine, int axis, double) {
    return AxisOf(machine, axis).Moving() ? kNotValidWhileMoving : kNoError;
}

int CheckPositionTarget(const Impl& machine, int axis, double value) {
    const SimAxis& a = AxisOf(machine, axis);
    // With position tracking the move starts at once, which needs the servo.
    if (a.settings.positionTracking && a.MotorIsOff() && value != a.Reference()) {
        return kNotValidMotorOff;
    }
    return kNoError;
}

void SetPositionTracking(Impl& machine, int axis, double value) {
    AxisSettings& s = AxisOf(machine, axis).settings;
    if (value != 0 && !s.positionTracking) {
        s.positionTarget = AxisOf(machine, axis).Reference();  // holds where it is
    }
    s.positionTracking = value != 0;
}

void SetPositionTarget(Impl& machine, int axis, double value) {
    SimAxis& a = AxisOf(machine, axis);
    a.settings.positionTarget = value;
    if (!a.settings.positionTracking) {
        machine.beginMode[static_cast<std::size_t>(axis)] = Impl::BeginMode::Position;
    } else if (!a.MotorIsOff()) {
        a.StartMove(value, machine.CnMismatch());
    }
}

void SetJogSpeed(Impl& machine, int axis, double value) {
    // A running jog takes the new speed at once.
    AxisOf(machine, axis).settings.jogSpeed = value;
    machine.beginMode[static_cast<std::size_t>(axis)] = Impl::BeginMode::Jog;
}

constexpr double kInt32Low = -2147483648.0;
constexpr double kInt32High = 2147483647.0;
constexpr double kMaxSpeed = 12000000;
constexpr double kMaxAcceleration = 1073740800;

const AxisParameter kParameters[] = {
    {.mnemonic = "SP", .low = 0, .high = kMaxSpeed, .whole = true, .field = &AxisSettings::speed},
    {.mnemonic = "AC",
     .low = 1024,
     .high = kMaxAcceleration,
     .whole = true,
     .field = &AxisSettings::acceleration},
    {.mnemonic = "DC",
     .low = 1024,
     .high = kMaxAcceleration,
     .whole = true,
     .field = &AxisSettings::deceleration},
    {.mnemonic = "KP",
     .low = 0,
     .high = 1023.875,
     .whole = false,
     .field = &AxisSettings::proportionalGain},
    {.mnemonic = "KI",
     .low = 0,
     .high = 255.999,
     .whole = false,
     .field = &AxisSettings::integralGain},
    {.mnemonic = "KD",
     .low = 0,
     .high = 4095.875,
     .whole = false,
     .field = &AxisSettings::derivativeGain},
    {.mnemonic = "TL",
     .low = 0,
     .high = 9.9982,
     .whole = false,
     .field = &AxisSettings::torqueLimit},
    {.mnemonic = "BL",
     .low = kInt32Low,
     .high = kInt32High,
     .whole = true,
     .field = &AxisSettings::reverseSoftLimit},
    {.mnemonic = "FL",
     .low = kInt32Low,
     .high = kInt32High,
     .whole = true,
     .field = &AxisSettings::forwardSoftLimit},
    {.mnemonic = "PT",
     .low = 0,
     .high = 1,
     .whole = true,
     .get = [](const SimAxis& a) { return a.settings.positionTracking ? 1.0 : 0.0; },
     .set = SetPositionTracking},
    {.mnemonic = "PA",
     .low = kInt32Low,
     .high = kInt32High,
     .whole = true,
     .get = [](const SimAxis& a) { return a.settings.positionTarget; },
     .check = CheckPositionTarget,
     .set = SetPositionTarget},
    {.mnemonic = "JG",
     .low = -kMaxSpeed,
     .high = kMaxSpeed,
     .whole = true,
     .field = &AxisSettings::jogSpeed,
     .set = SetJogSpeed},
    {.mnemonic = "DP",
     .low = kInt32Low,
     .high = kInt32High,
     .whole = true,
     .get = [](const SimAxis& a) { return a.Motor(); },
     .check = CheckNotMoving,
     .set = [](Impl& m, int axis, double v) { AxisOf(m, axis).DefinePosition(v); }},
};

}  // namespace

const AxisParameter* FindParameter(std::string_view mnemonic) {
    for (const AxisParameter& parameter : kParameters) {
        if (parameter.mnemonic == mnemonic) {
            return &parameter;
        }
    }
    return nullptr;
}

}  // namespace trevane::sim
