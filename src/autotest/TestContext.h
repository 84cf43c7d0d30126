#pragma once

#include <atomic>

namespace trevane {

class ControllerLink;
class TestLog;
class TestRecorder;
class TestRunner;

// What one automatic test works with: its controller's link, log and recorder, the runner that
// shows its progress, and what it learns on the way. Made anew for every test.
struct TestContext {
    ControllerLink& link;
    TestLog& log;
    TestRecorder& recorder;
    TestRunner& runner;

    // "CN" as the checks read it, whether that reading may be restored (not one out of step),
    // and as the test set it last.
    std::atomic<float> cnSaved{0.0f};
    std::atomic<bool> cnSavedTrusted{true};
    std::atomic<float> cnCurrent{0.0f};
    // Whether a move of the current axis was aborted (cleared at the start of each axis), and
    // whether any move was since the phase began.
    std::atomic<bool> moveAborted{false};
    std::atomic<bool> anyMoveAborted{false};
    // Set once the connection check has passed, cleared when the closing sequence has ended.
    // Still set when the test unwinds means the axes may be moving. The test thread's own.
    bool machineMayMove = false;
};

}  // namespace trevane
