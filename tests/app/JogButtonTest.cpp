#include <string>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include "app/JogButtons.h"
#include "app/StatusTableModel.h"
#include "app/WindowHarness.h"

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

}  // namespace
}  // namespace trevane::testing
