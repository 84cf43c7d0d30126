#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QCheckBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include "app/JogButtons.h"
#include "app/TrafficWindow.h"
#include "app/WindowHarness.h"
#include "support/StalledFifo.h"

namespace trevane::testing {
namespace {

using Commands = std::vector<std::string>;

// Ends a hang as a failure: once `bound` has passed, the reader goes, so a write stuck in the
// FIFO returns (or the program ends by SIGPIPE) instead of the test hanging until its timeout.
class HangWatch {
  public:
    HangWatch(StalledFifo& fifo, std::chrono::seconds bound)
        : thread_([this, &fifo, bound] {
              std::unique_lock lock(mutex_);
              if (!changed_.wait_for(lock, bound, [this] { return done_; })) {
                  fired_ = true;
                  fifo.ReaderGoes();
              }
          }) {}
    ~HangWatch() { Stop(); }
    bool Stop() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) {
            thread_.join();
        }
        return !fired_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    std::atomic<bool> fired_{false};
    std::thread thread_;
};

// The window records every exchange into a FIFO whose reader stops in the middle of a jog: the
// window keeps answering, the release stops the axis at once, and Stop recording says what the
// file lost instead of freezing the window.
TEST_F(WindowTest, ReleasingAJogStopsTheAxisWhileTheRecordingsReaderIsStalled) {
    MainWindow& dialog = OpenDialog();
    Connect();
    Dialog().TurnOnButton()->click();
    Dialog().PrepareMotionButton()->click();
    Dialog().AxisBox(0)->setChecked(true);
    Dialog().SpeedSlider()->setValue(-10000);
    auto* up = Dialog().JogUp();

    StalledFifo fifo(workDir_ / "trace.fifo", StalledFifo::Start::ReadsAtFirst);
    ASSERT_TRUE(fifo.Ready());
    TrafficWindow* traffic = dialog.OpenTraffic();
    ASSERT_TRUE(traffic->StartRecording(QString::fromStdString(fifo.Path())).isEmpty());
    // Recorded hidden: a jog ends when its window is no longer the active one, and the
    // platform tells of the traffic window's coming and going a while later.
    traffic->hide();
    QTest::qWait(200);
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));

    HangWatch watch(fifo, std::chrono::seconds(30));
    QTest::mousePress(up, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([this] { return machine_->ReadAxis(0).moving; }, 5000));
    ASSERT_TRUE(fifo.Stall());
    QTest::qWait(300);  // the status monitor's exchanges meet the full pipe
    machine_->ClearReceived();
    QTest::mouseRelease(up, Qt::LeftButton);
    EXPECT_EQ(machine_->ReceivedCommands(), (Commands{"AB1", "PT1,1,1,1", "SP*=10000"}));
    EXPECT_TRUE(QTest::qWaitFor([this] { return !machine_->ReadAxis(0).moving; }, 1000))
        << "X still jogs a second after the release";

    const QString stopped = traffic->StopRecording();
    EXPECT_TRUE(stopped.contains("exchange line(s) not written")) << stopped.toStdString();
    EXPECT_FALSE(traffic->Recording());
    EXPECT_TRUE(watch.Stop()) << "the window hung on the recording";

    // The reader dies: the stuck write fails with EPIPE and the program goes on.
    fifo.ReaderGoes();
    QTest::qWait(100);
    EXPECT_TRUE(traffic->StartRecording(QString::fromStdString(fifo.Path())).contains(
        "nothing is reading it"));
}

}  // namespace
}  // namespace trevane::testing
