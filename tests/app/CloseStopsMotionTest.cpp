#include <algorithm>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QTest>

#include "app/ControlIds.h"
#include "app/WindowHarness.h"
#include "autotest/TestRunner.h"
#include "link/Link.h"

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
    COstrelDlg& dialog = OpenDialog();
    Connect();
    Control<QAbstractButton>(IDC_RUNTEST)->click();
    ASSERT_TRUE(g_testRunning.load());
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
    EXPECT_FALSE(g_testRunning.load());
    EXPECT_EQ(g_mainDlg, nullptr);

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

}  // namespace
}  // namespace trevane::testing
