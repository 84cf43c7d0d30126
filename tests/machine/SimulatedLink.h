#pragma once

#include <chrono>
#include <memory>

#include "common/Clock.h"
#include "machine/FakeController.h"
#include "sim/Simulator.h"

namespace trevane::testing {

// The link to the in-process simulated controller, whose machine moves only when the test
// advances its virtual clock.
class SimulatedLinkTest : public LinkTestBase {
  protected:
    void SetUp() override {
        LinkTestBase::SetUp();
        SetSessionFactory(sim::InProcessSessionFactory(machine_));
    }
    void Connect() {
        ConnectAndClearTranscript();
        machine_->ClearReceived();
    }
    void Advance(std::chrono::milliseconds duration) { clock_->Advance(duration); }

    std::shared_ptr<VirtualClock> clock_ = std::make_shared<VirtualClock>();
    std::shared_ptr<sim::Machine> machine_ = std::make_shared<sim::Machine>(clock_);
};

}  // namespace trevane::testing
