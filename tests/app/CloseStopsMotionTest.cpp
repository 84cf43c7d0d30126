#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include <QCheckBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include "app/JogButtons.h"
#include "app/TerminationClose.h"
#include "app/WindowHarness.h"
#include "autotest/TestRunner.h"
#include "link/ControllerLink.h"

namespace trevane::testing {
namespace {

using CloseStopsMotionTest = WindowTest;

bool AnyAxisMoving(sim::Machine& machine) {
    for (int axis = 0; axis < 4; ++axis) {
        if (machine.ReadAxis(axis).moving) {
            return true;
        }
    }
    return false;
}

// Closing the window in the middle of an automatic test's move: the move is aborted on the
// controller, not left to run to its end (or forever) with nobody watching.
TEST_F(CloseStopsMotionTest, ClosingTheWindowDuringATestLeavesEveryAxisStanding) {
    MainWindow& dialog = OpenDialog();
    Connect();
    Dialog().RunTestButton()->click();
    ASSERT_TRUE(TestState().running.load());
    ASSERT_TRUE(QTest::qWaitFor([&] { return AnyAxisMoving(*machine_); }, 30000))
        << "the test never moved an axis";
    std::vector<int> movingAtClose;
    for (int axis = 0; axis < 4; ++axis) {
        if (machine_->ReadAxis(axis).moving) {
            movingAtClose.push_back(axis);
        }
    }
    machine_->ClearReceived();

    dialog.reject();
    ASSERT_FALSE(AnyTestThreadAlive());
    EXPECT_FALSE(TestState().running.load());
    EXPECT_EQ(g_mainWindow, nullptr);

    const auto commands = machine_->ReceivedCommands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "AB1"), commands.end())
        << "no abort went out after the test thread ended";
    // An abort still decelerates; what matters is that it ends as an abort, not at the target.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !AnyAxisMoving(*machine_); }, 10000))
        << "an axis is still moving after the window closed";
    for (const int axis : movingAtClose) {
        EXPECT_EQ(machine_->ReadAxis(axis).stopCode, sim::kStopAborted) << "axis " << axis;
    }
}

#ifndef _WIN32
// SIGTERM and SIGHUP close the window as its close button does: the held jog's stop goes out and
// X stands, where the signal itself would have ended the program with X moving.
TEST_F(CloseStopsMotionTest, TerminationAndHangUpCloseTheWindowAndStopAHeldJog) {
    for (const int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        const CloseOnTermination closeOnTermination;
        MainWindow& dialog = OpenDialog();
        Connect();
        Dialog().TurnOnButton()->click();
        Dialog().PrepareMotionButton()->click();
        Dialog().AxisBox(0)->setChecked(true);
        Dialog().SpeedSlider()->setValue(-10000);
        QTest::mousePress(Dialog().JogUp(), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([this] { return machine_->ReadAxis(0).moving; }, 5000));
        machine_->ClearReceived();
        ASSERT_EQ(::raise(signal), 0);
        EXPECT_TRUE(QTest::qWaitFor([&dialog] { return !dialog.isVisible(); }, 5000));
        const std::vector<std::string> received = machine_->ReceivedCommands();
        ASSERT_GE(received.size(), 3u);
        EXPECT_EQ(std::vector<std::string>(received.begin(), received.begin() + 3),
                  (std::vector<std::string>{"AB1", "PT1,1,1,1", "SP*=10000"}));
        EXPECT_TRUE(QTest::qWaitFor([this] { return !machine_->ReadAxis(0).moving; }, 1000));
        CloseDialog();
    }
}
#endif

}  // namespace
}  // namespace trevane::testing
