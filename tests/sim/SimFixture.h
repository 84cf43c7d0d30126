#pragma once

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "common/CLocale.h"
#include "common/Clock.h"
#include "sim/Simulator.h"

namespace trevane::sim::testing {

// A machine on a virtual clock with one in-process session, as the unit tests of the rest of
// the system use it.
class SimFixture : public ::testing::Test {
  protected:
    std::shared_ptr<VirtualClock> clock = std::make_shared<VirtualClock>();
    std::shared_ptr<Machine> machine = std::make_shared<Machine>(clock);
    std::shared_ptr<MotionClient> client = MakeInProcessClient(machine);

    std::string Send(const std::string& command) {
        return client->command(command, "\r", ":", true);
    }
    std::string SendRaw(const std::string& command) {
        return client->command(command, "\r", ":", false);
    }
    void Advance(std::chrono::milliseconds duration) { clock->Advance(duration); }

    // PrepareMotion's commands (after the machine was enabled), then positions to zero.
    void PrepareLikeTheTest() {
        for (const char* command :
             {"TL*=5.0", "AB1", "SH", "DC*=2000000", "AC*=300000", "SP*=10000",
              "BL-214783648,-214783648,-214783648", "FL214783647,214783647,214783647", "PT1,1,1",
              "SB1", "SB2", "SB3", "DP0,0,0,0"}) {
            Send(command);
        }
    }

    struct Watch {
        double maxTorque = 0;
        double maxError = 0;
        int firstTorqueAbove = -1;  // cycle whose torque first exceeded 3.1, or -1
        int firstErrorAbove = -1;
    };
    // The automatic test's move watch: 200 cycles of "TT", "TE" and a 10 ms wait.
    Watch WatchMove(const std::string& axis, int cycles = 200) {
        Watch watch;
        for (int cycle = 0; cycle < cycles; ++cycle) {
            const double torque = std::abs(ReadNumberAsDouble(Send("TT" + axis)));
            const double error = std::abs(ReadNumberAsDouble(Send("TE" + axis)));
            watch.maxTorque = std::max(watch.maxTorque, torque);
            watch.maxError = std::max(watch.maxError, error);
            if (torque > 3.1 && watch.firstTorqueAbove < 0) {
                watch.firstTorqueAbove = cycle;
            }
            if (error > 700 && watch.firstErrorAbove < 0) {
                watch.firstErrorAbove = cycle;
            }
            Advance(std::chrono::milliseconds(10));
        }
        return watch;
    }
};

}  // namespace trevane::sim::testing
