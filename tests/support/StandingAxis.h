#pragma once

#include <chrono>
#include <thread>

#include "sim/Simulator.h"

namespace trevane {

// The simulated axis as it stands once its deceleration is over, within a bound (10 s).
inline sim::AxisState StandingAxis(sim::Machine& machine, int axis) {
    sim::AxisState state = machine.ReadAxis(axis);
    for (int poll = 0; poll < 1000 && state.moving; ++poll) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        state = machine.ReadAxis(axis);
    }
    return state;
}

}  // namespace trevane
