#pragma once

#include <chrono>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "common/Clock.h"
#include "sim/Simulator.h"
#include "support/ControllerUnderTest.h"
#include "support/ScriptedController.h"
#include "support/SpyWindow.h"

namespace trevane::testing {

// A recording window on a controller of the test's own.
class LinkTestBase : public ::testing::Test {
  protected:
    void SetUp() override { SetWindow(window_); }

    // Connects as the Connect button does, then forgets what Connect itself showed.
    void ConnectAndClearTranscript() {
        OnConnect();
        ASSERT_TRUE(Connected());
        window_->EditTranscript("");
    }

    static int CountErrorLines(const std::string& transcript) {
        const std::string line = std::string(kCommandErrorText) + "\r\n";
        int count = 0;
        for (auto at = transcript.find(line); at != std::string::npos;
             at = transcript.find(line, at + line.size())) {
            ++count;
        }
        return count;
    }

    ControllerGuard controller_under_test_;
    std::shared_ptr<SpyWindow> window_ = std::make_shared<SpyWindow>();
};

// The link to a ScriptedController.
class ScriptedLinkTest : public LinkTestBase {
  protected:
    void SetUp() override {
        LinkTestBase::SetUp();
        SetSessionFactory(controller_->Factory());
    }
    void Connect() {
        ConnectAndClearTranscript();
        controller_->ClearExchanges();
    }

    std::shared_ptr<ScriptedController> controller_ = std::make_shared<ScriptedController>();
};

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
