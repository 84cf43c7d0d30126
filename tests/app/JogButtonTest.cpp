#include <algorithm>
#include <array>
#include <chrono>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include "app/ControlIds.h"
#include "app/JogButtons.h"
#include "app/StatusTableModel.h"
#include "app/WindowHarness.h"
#include "common/Clock.h"

namespace trevane::testing {
namespace {

using Commands = std::vector<std::string>;
const Commands kStop = {"AB1", "PT1,1,1,1", "SP*=10000"};

class JogButtonTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        OpenDialog();
        Connect();
        // Jogging needs a machine that is on and ready to move.
        Dialog().TurnOnButton()->click();
        Dialog().PrepareMotionButton()->click();
        Dialog().AxisBox(0)->setChecked(true);
        Dialog().AxisBox(2)->setChecked(true);
        up_ = Dialog().JogUp();
        down_ = Dialog().JogDown();
        machine_->ClearReceived();
    }

    // The controller refuses a new jog while an axis still slows down from the last one.
    void WaitUntilStopped() {
        ASSERT_TRUE(QTest::qWaitFor(
            [this] {
                return Dialog().StatusModel().Cell(10, 1) == "0" &&
                       Dialog().StatusModel().Cell(10, 3) == "0";
            },
            5000));
    }

    Commands Sent() {
        Commands sent = machine_->ReceivedCommands();
        machine_->ClearReceived();
        return sent;
    }

    JogButton* up_ = nullptr;
    JogButton* down_ = nullptr;
};

TEST_F(JogButtonTest, PressJogsTheTickedAxesAndReleaseStopsThem) {
    QTest::mousePress(up_, Qt::LeftButton);
    EXPECT_EQ(Sent(), (Commands{"PT0,0,0,0", "JG-50,0,-50,0", "BG"}));
    EXPECT_TRUE(up_->isDown()) << "the button shows pressed";
    QTest::mouseRelease(up_, Qt::LeftButton);
    EXPECT_EQ(Sent(), kStop);
    EXPECT_FALSE(up_->isDown());

    WaitUntilStopped();
    Dialog().SpeedSlider()->setValue(-10000);
    QTest::mousePress(down_, Qt::LeftButton);
    EXPECT_EQ(Sent(), (Commands{"PT0,0,0,0", "JG10000,0,10000,0", "BG"}));
    QTest::mouseRelease(down_, Qt::LeftButton);
    EXPECT_EQ(Sent(), kStop);
}

TEST_F(JogButtonTest, AReleaseAwayFromTheButtonStillStops) {
    QTest::mousePress(up_, Qt::LeftButton);
    Sent();
    const QPoint outside(up_->width() + 40, up_->height() + 40);
    QTest::mouseMove(up_, outside);
    QTest::mouseRelease(up_, Qt::LeftButton, {}, outside);
    EXPECT_EQ(Sent(), kStop);
}

TEST_F(JogButtonTest, OnlyTheLeftMouseButtonJogs) {
    up_->setFocus();
    QTest::keyClick(up_, Qt::Key_Space);
    QTest::keyClick(up_, Qt::Key_Return);
    QTest::mouseClick(down_, Qt::RightButton);
    QTest::mouseClick(down_, Qt::MiddleButton);
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(Dialog().isVisible()) << "Enter on a jog button clicks it and nothing more";
}

// Each way of losing the mouse without a release ends the jog once; the release that may follow
// sends nothing more, and the next press jogs again.
class LostMouseTest : public JogButtonTest, public ::testing::WithParamInterface<const char*> {
  protected:
    void LoseTheMouse(const std::string& how) {
        if (how == "deactivated") {
            other_.show();
            other_.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&other_));
        } else if (how == "focus") {
            Dialog().Transcript()->setFocus();
        } else if (how == "modal") {
            box_ = new QMessageBox(QMessageBox::NoIcon, "Modal", "over the window", QMessageBox::Ok,
                                   &Dialog());
            box_->setAttribute(Qt::WA_DeleteOnClose);
            box_->open();
            QApplication::processEvents();
        } else if (how == "hidden") {
            up_->hide();
        } else if (how == "disabled") {
            up_->setEnabled(false);
        }
    }

    QWidget other_;
    QMessageBox* box_ = nullptr;
};

TEST_P(LostMouseTest, EndsTheJogExactlyOnce) {
    const std::string how = GetParam();
    QTest::mousePress(up_, Qt::LeftButton);
    ASSERT_EQ(Sent().size(), 3u);
    LoseTheMouse(how);
    EXPECT_EQ(Sent(), kStop);
    QTest::mouseRelease(up_, Qt::LeftButton);
    EXPECT_TRUE(Sent().empty()) << "no second stop sequence";
    EXPECT_FALSE(up_->JogHeld());

    if (box_ != nullptr) {
        box_->close();
    }
    up_->setEnabled(true);
    up_->show();
    WaitUntilStopped();
    QTest::mousePress(up_, Qt::LeftButton);
    EXPECT_EQ(Sent().size(), 3u);
    QTest::mouseRelease(up_, Qt::LeftButton);
    EXPECT_EQ(Sent(), kStop);
}

INSTANTIATE_TEST_SUITE_P(Jog, LostMouseTest,
                         ::testing::Values("deactivated", "focus", "modal", "hidden", "disabled"));

TEST_F(JogButtonTest, ClosingTheWindowEndsAHeldJog) {
    QTest::mousePress(down_, Qt::LeftButton);
    Sent();
    Dialog().reject();
    EXPECT_EQ(Sent(), kStop);
    EXPECT_FALSE(down_->JogHeld());
}

// W has no jog: its box is refused with the reason trevane-cli gives for `jog W`, and nothing
// moves for it. The machine runs on the virtual clock, so "nothing moved" is read after a second
// of its time.
class JogOfWTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        clock_ = std::make_shared<VirtualClock>();
        SetSystemClock(clock_);
        machine_ = std::make_shared<sim::Machine>(clock_);
        SetSessionFactory(sim::InProcessSessionFactory(machine_));
        OpenDialog();
        Connect();
        Dialog().StopTimer(kStatusTimer);
        Dialog().TurnOnButton()->click();
        Dialog().PrepareMotionButton()->click();
        Dialog().SpeedSlider()->setValue(-10000);
    }

    void Tick(std::initializer_list<int> axes) {
        for (int axis = 0; axis < 4; ++axis) {
            Dialog().AxisBox(axis)->setChecked(std::find(axes.begin(), axes.end(), axis) !=
                                               axes.end());
        }
    }

    // Holds Up for a second of the machine's time; whether each axis moved meanwhile.
    std::array<bool, 4> HoldUp() {
        QTest::mousePress(Dialog().JogUp(), Qt::LeftButton);
        clock_->Advance(std::chrono::seconds(1));
        std::array<bool, 4> moved{};
        for (int axis = 0; axis < 4; ++axis) {
            const sim::AxisState state = machine_->ReadAxis(axis);
            moved[static_cast<std::size_t>(axis)] = state.moving || state.motorPosition != 0;
        }
        QTest::mouseRelease(Dialog().JogUp(), Qt::LeftButton);
        clock_->Advance(std::chrono::seconds(1));
        return moved;
    }

    // The strip's field for what a jog could not do; empty while it is hidden.
    QString Notice() {
        const auto* field = Dialog().Strip()->findChild<QLabel*>("LinkStripJog");
        EXPECT_NE(field, nullptr);
        return field != nullptr && field->isVisible() ? field->text() : QString();
    }

    std::shared_ptr<VirtualClock> clock_;
};

TEST_F(JogOfWTest, TheWBoxIsRefusedWithTheCommandLinesReasonAndNothingMoves) {
    EXPECT_TRUE(Notice().isEmpty());
    Tick({3});
    EXPECT_EQ(HoldUp(), (std::array<bool, 4>{false, false, false, false}));
    EXPECT_EQ(Notice(), "W cannot be jogged");

    // Beside another axis, that axis jogs as ever and W still does not; a jog without W clears
    // the notice.
    Tick({0, 3});
    EXPECT_EQ(HoldUp(), (std::array<bool, 4>{true, false, false, false}));
    EXPECT_EQ(Notice(), "W cannot be jogged");
    Tick({2});
    EXPECT_EQ(HoldUp(), (std::array<bool, 4>{true, false, true, false}));
    EXPECT_TRUE(Notice().isEmpty());
    for (int axis = 0; axis < 4; ++axis) {
        EXPECT_FALSE(machine_->ReadAxis(axis).moving) << "released: axis " << axis << " stands";
    }
}

}  // namespace
}  // namespace trevane::testing
