#pragma once

#include <string_view>

#include "sim/MachineImpl.h"

namespace trevane::sim {

inline SimAxis& AxisOf(Machine::Impl& machine, int axis) {
    return machine.axes[static_cast<std::size_t>(axis)];
}
inline const SimAxis& AxisOf(const Machine::Impl& machine, int axis) {
    return machine.axes[static_cast<std::size_t>(axis)];
}

// A per-axis setting with its range. A plain one names its field; the others bring functions
// to read it, to check a value before anything changes (every axis of a command is checked
// first), or to apply it with its side effects.
struct AxisParameter {
    std::string_view mnemonic;
    double low;
    double high;
    bool whole;
    double AxisSettings::*field = nullptr;
    double (*get)(const SimAxis& axis) = nullptr;
    int (*check)(const Machine::Impl& machine, int axis, double value) = nullptr;
    void (*set)(Machine::Impl& machine, int axis, double value) = nullptr;

    double Get(const SimAxis& axis) const { return field ? axis.settings.*field : get(axis); }
    int Check(const Machine::Impl& machine, int axis, double value) const {
        return check ? check(machine, axis, value) : kNoError;
    }
    void Set(Machine::Impl& machine, int axis, double value) const {
        if (set) {
            set(machine, axis, value);
        } else {
            AxisOf(machine, axis).settings.*field = value;
        }
    }
};

// The parameter of this mnemonic ("SP", "KP", ...), or null.
const AxisParameter* FindParameter(std::string_view mnemonic);

}  // namespace trevane::sim
