#include <atomic>
#include <chrono>
#include <stop_token>
#include <thread>

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QThread>

#include "app/ControlIds.h"
#include "app/WindowHarness.h"
#include "autotest/TestRunner.h"
#include "common/StopControl.h"
#include "link/ControllerLink.h"

namespace trevane::testing {
namespace {

using namespace std::chrono_literals;
using WindowThreadTest = WindowTest;

TEST_F(WindowThreadTest, AnotherThreadsOperationRunsOnTheWindowsThreadWhileItWaits) {
    OpenDialog();
    Dialog().AxisBox(1)->setChecked(true);
    std::atomic<bool> done{false};
    bool checked = false;
    int speed = 0;
    std::thread worker([&] {
        auto window = Window();
        window->SetTestStatus("Exit Motion\r\n");
        TestState().progress = 40;
        window->TestRunningChanged(true);
        window->AppendTranscript("from the test\r\n");
        checked = window->AxisChosen(1);
        speed = window->JogSpeed();
        done = true;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 5000));
    worker.join();
    EXPECT_EQ(Dialog().TestStatusLabel()->text(), "Exit Motion\n");
    EXPECT_EQ(Dialog().RunTestButton()->text(), "Abort Test");
    EXPECT_TRUE(Dialog().TimerRunning(kProgressTimer)) << "a test that starts is followed";
    EXPECT_TRUE(QTest::qWaitFor([&] { return Dialog().ProgressBar()->value() == 40; }, 5000))
        << "the progress timer shows the test's progress";
    EXPECT_EQ(Transcript(), "from the test\n");
    EXPECT_TRUE(checked);
    EXPECT_EQ(speed, -50);
}

TEST_F(WindowThreadTest, AWaitingCallerGivesUpOnceItIsStoppedAndItsOperationIsSkipped) {
    OpenDialog();
    std::stop_source stop;
    std::atomic<bool> returned{false};
    std::string read = "unset";
    std::thread worker([&] {
        ScopedStopToken scope(stop.get_token());
        Window()->SetTestStatus("too late");
        read = Window()->CommandText();
        returned = true;
    });
    // The window's thread is busy (it handles no events here), so the call cannot be served.
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(returned.load());
    stop.request_stop();
    worker.join();
    EXPECT_EQ(read, "");
    QTest::qWait(20);
    EXPECT_EQ(Dialog().TestStatusLabel()->text(), "Not Running");
}

TEST_F(WindowThreadTest, AWaitingCallerReturnsWhenTheWindowGoes) {
    OpenDialog();
    std::atomic<bool> returned{false};
    bool checked = true;
    std::thread worker([&] {
        checked = Window()->AxisChosen(0);
        Window()->SetTestStatus("after the window");
        returned = true;
    });
    std::this_thread::sleep_for(30ms);
    CloseDialog();
    worker.join();
    EXPECT_TRUE(returned.load());
    EXPECT_FALSE(checked);
    QTest::qWait(20);  // a call still queued finds no window
}

}  // namespace
}  // namespace trevane::testing
