#include <algorithm>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "AutotestHarness.h"
#include "autotest/TestLog.h"
#include "autotest/TestRunner.h"
#include "link/ControllerLink.h"
#include "link/Operator.h"

namespace trevane::autotest_testing {
namespace {

using namespace std::chrono_literals;
using ::testing::Contains;
using ::testing::Not;

// Sanitizer builds run ten times slower; a quarter of the points still reach every kind.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kAbortRounds = 250;
#else
constexpr int kAbortRounds = 1000;
#endif

// The test's own thread plays the window's thread: it presses the button, the runner's thread
// runs the test.
class Runner : public AutotestFixture {
  protected:
    std::vector<std::string> LogEntries() const { return SplitLogEntries(LogBytes()); }

    // Events (exchanges, waits, window operations) of the test thread in one complete run.
    long CountEventsOfACompleteRun() {
        Pause().Disarm();
        RunWholeTest();
        const long events = Pause().Count();
        std::filesystem::remove(LogFilePath());
        controller_->ClearExchanges();
        return events;
    }
};

TEST_F(Runner, AStartWithoutConnectionAlwaysEndsIdle) {
    Link().Close();
    TestState().progress = 70;
    for (int press = 0; press < 200; ++press) {
        OnRunAutoTest();
        ASSERT_TRUE(WaitForTestEnd(10s));
        ASSERT_FALSE(TestState().running) << "after press " << press;
        ASSERT_EQ(window_->RunTestCaption(), "Run Auto Test");
    }
    const std::vector<std::string> entries = LogEntries();
    EXPECT_EQ(entries.size(), 200u);
    EXPECT_THAT(entries, Not(Contains(Not(std::string("Starting Test\r\n")))));
    EXPECT_EQ(TestState().progress, 70);
    EXPECT_TRUE(controller_->Commands().empty());
    EXPECT_FALSE(LastTestCompleted());
}

// The abort lands at each kind of point: in an exchange, in a wait, in a status-line or caption
// update. Whatever the point, nothing of the test follows the abort entry, nothing more is sent,
// the bar keeps its value and the window's thread never waits for the held test thread.
TEST_F(Runner, AnAbortAtAnyPointEndsTheTestCleanly) {
    const long events = CountEventsOfACompleteRun();
    ASSERT_GT(events, 3000);
    std::mt19937 random(20121129);
    // The last three events are the caption request after the flag was cleared and the verdict
    // line with its scroll: the test is over there.
    std::uniform_int_distribution<long> point(1, events - 3);

    for (int round = 0; round < kAbortRounds; ++round) {
        const long target = point(random);
        std::filesystem::remove(LogFilePath());
        controller_->ClearExchanges();
        Pause().Arm(target);

        OnRunAutoTest();
        ASSERT_TRUE(Pause().WaitUntilHeld([] { return !AnyTestThreadAlive(); }))
            << "event " << target << " never came";
        const int progressAtAbort = TestState().progress;
        const std::size_t commandsAtAbort = controller_->CommandCount();

        OnRunAutoTest();
        EXPECT_FALSE(TestState().running);
        EXPECT_EQ(window_->RunTestCaption(), "Run Auto Test");
        Pause().Release();
        ASSERT_TRUE(WaitForTestEnd(10s)) << "event " << target;

        const std::vector<std::string> entries = LogEntries();
        ASSERT_FALSE(entries.empty());
        ASSERT_EQ(entries.back(), "Test Aborted by User\r\n") << "event " << target;
        ASSERT_EQ(std::count(entries.begin(), entries.end(), "Test Aborted by User\r\n"), 1);
        // Only the stop of the axes follows, after the test's last command.
        ASSERT_EQ(controller_->CommandCount(), commandsAtAbort + 1) << "event " << target;
        ASSERT_EQ(controller_->Commands().back(), "AB1") << "event " << target;
        ASSERT_EQ(TestState().progress, progressAtAbort) << "event " << target;
        ASSERT_EQ(window_->TestStatus(), "Test Aborted by User\n") << "event " << target;
        ASSERT_TRUE(window_->Transcript().ends_with("Report: none\r\n")) << "event " << target;
        ASSERT_NE(window_->Transcript().find("Test result: stopped by the operator: X "),
                  std::string::npos)
            << "event " << target;
        ASSERT_FALSE(TestState().running);
        ASSERT_FALSE(LastTestCompleted());
    }
}

// Real thread interplay: aborts at whatever moment the timing gives, each followed at once by a
// new start while the aborted thread may still be unwinding.
TEST_F(Runner, AbortsAtRandomMomentsAndRestartsAtOnceKeepTheLogInOrder) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> delayUs(0, 2000);
    int aborts = 0;
    for (int round = 0; round < 200; ++round) {
        OnRunAutoTest();
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
        if (TestState().running) {
            OnRunAutoTest();
            ++aborts;
        } else {
            ASSERT_TRUE(WaitForTestEnd(10s));
        }
    }
    ASSERT_TRUE(WaitForTestEnd(10s));
    ASSERT_GT(aborts, 0);
    EXPECT_FALSE(TestState().running);
    EXPECT_EQ(window_->RunTestCaption(), "Run Auto Test");

    const std::vector<std::string> entries = LogEntries();
    for (std::size_t i = 0; i + 1 < entries.size(); ++i) {
        if (entries[i] == "Test Aborted by User\r\n") {
            ASSERT_EQ(entries[i + 1], "Starting Test\r\n") << "entry " << i + 1;
        }
    }
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "Test Aborted by User\r\n"), aborts);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "Starting Test\r\n"), 200);
}

TEST_F(Runner, AnAbortedTestKeepsItsProgressUntilTheNextTestSetsItsOwn) {
    // Find the event of Y's first move in a complete run: X is done there and the bar reads 60.
    long target = 0;
    controller_->OnExchange([&target](const std::string& command) {
        if (target == 0 && command == "PAY=-20000") {
            target = Pause().Count() + 1;
        }
    });
    CountEventsOfACompleteRun();
    controller_->OnExchange({});
    ASSERT_GT(target, 0);

    Pause().Arm(target);
    OnRunAutoTest();
    ASSERT_TRUE(Pause().WaitUntilHeld([] { return !AnyTestThreadAlive(); }));
    OnRunAutoTest();
    Pause().Release();
    ASSERT_TRUE(WaitForTestEnd(10s));
    window_->SetProgress(TestState().progress);
    EXPECT_EQ(window_->Progress(), 60);

    // A new test: the bar shows 60 until the checks set 40.
    Pause().Arm(1);
    OnRunAutoTest();
    ASSERT_TRUE(Pause().WaitUntilHeld([] { return !AnyTestThreadAlive(); }));
    window_->SetProgress(TestState().progress);
    EXPECT_EQ(window_->Progress(), 60);
    Pause().Release();
    ASSERT_TRUE(WaitForTestEnd(10s));
    EXPECT_TRUE(LastTestCompleted());
}

TEST_F(Runner, ConnectDuringATestKeepsTheTestsSessionAliveAndTheTestGoesOn) {
    std::weak_ptr<ScriptedController> first = controller_;
    auto second = std::make_shared<ScriptedController>();
    SetSessionFactory([second](const std::string&) { return second; });

    std::promise<void> inExchange;
    std::promise<void> reconnected;
    std::shared_future<void> goOn = reconnected.get_future().share();
    controller_->OnExchange([&inExchange, goOn](const std::string& command) {
        if (command == "PAY=-20000") {
            inExchange.set_value();
            goOn.wait();
        }
    });
    controller_.reset();

    OnRunAutoTest();
    inExchange.get_future().wait();
    OnConnect();
    EXPECT_FALSE(first.expired()) << "Connect freed the session under the running exchange";
    EXPECT_TRUE(Connected());
    reconnected.set_value();
    ASSERT_TRUE(WaitForTestEnd(10s));

    EXPECT_TRUE(first.expired());
    EXPECT_TRUE(LastTestCompleted());
    const std::vector<std::string> rest = second->Commands();
    ASSERT_FALSE(rest.empty());
    EXPECT_EQ(rest.front(), "HX");  // Connect's own halt
    EXPECT_THAT(rest, Contains("PAY=0"));
    EXPECT_EQ(rest.back(), "CB7");
    EXPECT_EQ(window_->Transcript(), std::string(ScriptedController::kDescription) +
                                         "\r\nTest result: X passed, Y passed, Z passed. "
                                         "Report: none\r\n");
}

TEST_F(Runner, ShutdownStopsARunningTestWithoutItsClosingSequence) {
    const long events = CountEventsOfACompleteRun();
    Pause().Arm(events / 2);
    OnRunAutoTest();
    ASSERT_TRUE(Pause().WaitUntilHeld([] { return !AnyTestThreadAlive(); }));
    const std::size_t commandsAtClose = controller_->CommandCount();
    const std::string logAtClose = LogBytes();

    StopAndJoinTestThreads();
    EXPECT_FALSE(AnyTestThreadAlive());
    EXPECT_FALSE(TestState().running);
    // The axes are stopped before the join returns, so before the sessions can be closed.
    EXPECT_EQ(controller_->CommandCount(), commandsAtClose + 1);
    EXPECT_EQ(controller_->Commands().back(), "AB1");
    EXPECT_EQ(LogBytes(), logAtClose);
}

}  // namespace
}  // namespace trevane::autotest_testing
