#include "support/ControllerUnderTest.h"

#include <cstdlib>
#include <cstdio>

#include "common/Clock.h"

namespace trevane::testing {
namespace {

// Only the test's own thread makes and drops guards; test threads read it while it lives.
Controller* g_current = nullptr;

}  // namespace

Controller& TheController() {
    if (g_current == nullptr) {
        std::fprintf(stderr, "the test has no ControllerGuard\n");
        std::abort();
    }
    return *g_current;
}

ControllerGuard::ControllerGuard() : previous_(g_current) {
    SetSystemClock(nullptr);
    controller_ = std::make_unique<Controller>();
    g_current = controller_.get();
}

ControllerGuard::~ControllerGuard() {
    controller_->Runner().StopAndJoin();
    controller_->Link().JoinStopAttempts();
    controller_.reset();
    g_current = previous_;
    SetSystemClock(nullptr);
}

}  // namespace trevane::testing
