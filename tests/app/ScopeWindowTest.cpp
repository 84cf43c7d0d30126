#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <iterator>
#include <memory>
#include <regex>
#include <sstream>
#include <string>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <QTableWidget>
#include <QTest>

#include "app/ControlIds.h"
#include "app/JogButtons.h"
#include "app/ScopeWindow.h"
#include "app/WindowHarness.h"
#include "common/Clock.h"
#include "console/StatusMonitor.h"
#include "link/ControllerLink.h"
#include "scope/ScopeBuffer.h"
#include "support/ScratchFolder.h"

namespace trevane::testing {
namespace {

using namespace std::chrono_literals;

constexpr scope::Channel kXMotorPos{0, scope::kMotorPos};
constexpr scope::Channel kXVelocity{0, scope::kVelocity};

// The README's example of an exported header, and what it says the first column counts from.
struct DocumentedCsv {
    std::string header;
    bool timeFromTrigger = false;
};

DocumentedCsv ReadmeScopeCsv() {
    const std::string readme = ReadFile(std::filesystem::path(TREVANE_SOURCE_DIR) / "README.md");
    std::smatch header;
    std::regex_search(readme, header, std::regex("`(time_s,[^`]*)`"));
    std::string flowing = readme;
    std::replace(flowing.begin(), flowing.end(), '\n', ' ');
    std::erase(flowing, ' ');
    return {header.empty() ? std::string() : header[1].str(),
            flowing.find("`time_s`istherecord'stimeinsecondsfromtheframe'sorigin,whichisthe"
                         "trigger(negativebeforeit)") != std::string::npos};
}

using ScopeWindowTest = WindowTest;

TEST_F(ScopeWindowTest, TheMenuCtrlShiftSAndADoubleClickOnAValueOpenOneScope) {
    MainWindow& dialog = OpenDialog();
    EXPECT_EQ(dialog.Scope(), nullptr) << "made on first use only";
    QTest::keyClick(&dialog, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    ScopeWindow* scopeWindow = dialog.Scope();
    ASSERT_NE(scopeWindow, nullptr);
    EXPECT_TRUE(scopeWindow->isVisible());
    EXPECT_FALSE(scopeWindow->isModal());
    EXPECT_EQ(scopeWindow->TraceCount(), 0);
    scopeWindow->close();

    auto* table = Dialog().StatusList();
    const auto doubleClick = [&](int row, int column) {
        const QRect cell = table->visualRect(table->model()->index(row, column));
        // As the platform delivers one: a click, then the second press as a double-click.
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    };
    doubleClick(scope::kVelocity, 2);
    EXPECT_TRUE(scopeWindow->isVisible()) << "a double-click opens the scope again";
    doubleClick(scope::kVelocity, 2);  // shown already: not twice
    doubleClick(scope::kTorque, 0);    // the label column names no axis
    doubleClick(scope::kMotorOff, 4);
    ASSERT_EQ(scopeWindow->TraceCount(), 2);
    EXPECT_EQ(scopeWindow->Trace(0).Label(), "Y velocity (counts/s)");
    EXPECT_EQ(scopeWindow->Trace(1).Label(), "W motor off");
    EXPECT_EQ(dialog.SystemMenu()->actions()[2]->text(), "Scope...");

    // Eight at most, whichever way they come.
    for (std::size_t index = 0; index < scope::kChannelCount; ++index) {
        scopeWindow->AddTrace(scope::Channel::At(index));
    }
    EXPECT_EQ(scopeWindow->TraceCount(), ScopePlot::kMaxTraces);
    EXPECT_FALSE(scopeWindow->findChild<QAbstractButton*>("ScopeAddTrace")->isEnabled());
    EXPECT_EQ(dialog.windowTitle(), "Trevane");
}

// The status monitor's polls on the virtual clock, 10 ms apart, with the scope's 50 ms refresh.
class JoggingScopeTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        clock_ = std::make_shared<VirtualClock>();
        SetSystemClock(clock_);
        machine_ = std::make_shared<sim::Machine>(clock_);
        SetSessionFactory(sim::InProcessSessionFactory(machine_));
        MainWindow& dialog = OpenDialog();
        Connect();
        dialog.StopTimer(kStatusTimer);  // the test polls in step with its clock
        Dialog().TurnOnButton()->click();
        Dialog().PrepareMotionButton()->click();
        Dialog().AxisBox(0)->setChecked(true);
        Dialog().SpeedSlider()->setValue(-10000);  // towards positive counts
        scope_ = dialog.OpenScope();
        TheController().Monitor().Scope().Clear();  // the records of this test only
    }

    void Poll(std::chrono::milliseconds duration) {
        for (auto done = 0ms; done < duration; done += 10ms) {
            clock_->Advance(10ms);
            ASSERT_TRUE(UpdateStatusTable());
            if (done.count() % ScopeWindow::kRefreshMs == 0) {
                scope_->Refresh();
            }
        }
        scope_->Refresh();
    }

    std::shared_ptr<VirtualClock> clock_;
    ScopeWindow* scope_ = nullptr;
};

TEST_F(JoggingScopeTest, AJogRaisesTheMotorPositionAndFiresASingleShotOnceOnVelocity) {
    ASSERT_TRUE(scope_->AddTrace(kXMotorPos));
    ASSERT_TRUE(scope_->AddTrace(kXVelocity));
    ASSERT_TRUE(scope_->AddTrace({0, scope::kTorque}));
    ScopeTrace torque = scope_->Trace(2);
    torque.volts = true;
    scope_->SetTrace(2, torque);
    EXPECT_EQ(scope_->Trace(2).Label(), "X torque (V)");
    scope_->SetSpan(2);
    scope_->SetTrigger(1, 5000, scope::Edge::Rising);
    scope_->Single();
    Poll(500ms);
    EXPECT_EQ(scope_->Acquisition().Fired(), 0);
    EXPECT_EQ(scope_->StateText(), "waiting for the trigger");

    auto* jog = Dialog().JogDown();
    QTest::mousePress(jog, Qt::LeftButton);
    Poll(3000ms);
    QTest::mouseRelease(jog, Qt::LeftButton);
    EXPECT_EQ(scope_->Acquisition().Fired(), 1);
    EXPECT_EQ(scope_->StateText(), "stopped");

    // The frame: half a second before the trigger, one and a half after, velocity crossing 5000
    // at 0; the motor position rises all along once the jog is under way.
    const QCPGraph* position = scope_->Plot()->Graph(0);
    const QCPGraph* velocity = scope_->Plot()->Graph(1);
    EXPECT_DOUBLE_EQ(scope_->Plot()->TimeAxis()->range().lower, -0.5);
    EXPECT_DOUBLE_EQ(scope_->Plot()->TimeAxis()->range().upper, 1.5);
    ASSERT_GE(velocity->dataCount(), 195);
    const auto crossing = velocity->data()->findBegin(0, false);
    ASSERT_NE(crossing, velocity->data()->constBegin());
    EXPECT_DOUBLE_EQ(crossing->key, 0);
    EXPECT_GE(crossing->value, 5000);
    EXPECT_LT(std::prev(crossing)->value, 5000);
    const auto last = position->data()->constEnd() - 1;
    const auto atTrigger = position->data()->findBegin(0, false);
    EXPECT_GT(last->value, atTrigger->value + 5000) << "1.5 s at up to 10000 counts/s";
    for (auto point = atTrigger; point != last; ++point) {
        EXPECT_LE(point->value, std::next(point)->value) << "at " << point->key << " s";
    }

    // The cursors read the traces; the difference of the position is what the jog travelled.
    scope_->SetCursor(0, 0.0);
    scope_->SetCursor(1, 1.0);
    EXPECT_EQ(scope_->CursorTimesText(), "A: 0.000 s   B: 1.000 s   B \u2212 A: 1.000 s");
    const QTableWidget* readout = scope_->CursorTable();
    ASSERT_EQ(readout->rowCount(), 3);
    const double travelled = readout->item(0, 3)->text().toDouble();
    EXPECT_DOUBLE_EQ(
        travelled, readout->item(0, 2)->text().toDouble() - readout->item(0, 1)->text().toDouble());
    EXPECT_GT(travelled, 5000);

    // Export writes what is shown, in the columns of `record --watch --csv`, as the record has
    // the values; the plot shows the torque in volts.
    ASSERT_EQ(scope_->ExportCsv("scope.csv"), "");
    std::istringstream csv(ReadFile("scope.csv"));
    std::string line;
    std::getline(csv, line);
    EXPECT_EQ(line, "time_s,X_motorpos_counts,X_velocity_counts_per_s,X_torque_counts");
    const DocumentedCsv documented = ReadmeScopeCsv();
    EXPECT_EQ(line, documented.header) << "the README's header";
    EXPECT_TRUE(documented.timeFromTrigger) << "the README's origin of time_s";
    int rows = 0;
    std::string first;
    std::string lastRow;
    while (std::getline(csv, line)) {
        first = rows++ == 0 ? line : first;
        lastRow = line;
    }
    EXPECT_EQ(rows, velocity->dataCount());
    EXPECT_EQ(first.substr(0, first.find(',')), "-0.500000");
    const auto lastTorque = static_cast<double>(std::stoll(lastRow.substr(lastRow.rfind(',') + 1)));
    EXPECT_GT(lastTorque, 100);
    EXPECT_DOUBLE_EQ(scope_->Plot()->Graph(2)->data()->at(rows - 1)->value, lastTorque / 3276.7);
    ASSERT_EQ(scope_->ExportPng("scope.png"), "");
    EXPECT_EQ(ReadFile("scope.png").substr(1, 3), "PNG");
    EXPECT_NE(scope_->ExportCsv((workDir_ / "no-such-folder" / "scope.csv").string().c_str()), "");

    // A second jog fires nothing: single means once. The axis stands when the scope is done.
    Poll(1000ms);
    QTest::mousePress(jog, Qt::LeftButton);
    Poll(1500ms);
    QTest::mouseRelease(jog, Qt::LeftButton);
    Poll(1500ms);
    EXPECT_EQ(scope_->Acquisition().Fired(), 1);
    EXPECT_DOUBLE_EQ(scope_->Plot()->TimeAxis()->range().upper, 1.5);
    EXPECT_FALSE(machine_->ReadAxis(0).moving);
}

TEST_F(JoggingScopeTest, AFailedPollBreaksTheLineAndRunFollowsTheNewestRecords) {
    ASSERT_TRUE(scope_->AddTrace(kXMotorPos));
    scope_->SetSpan(2);
    Poll(500ms);
    machine_->AddFault(sim::ParseFault("short-record"));
    clock_->Advance(10ms);
    EXPECT_FALSE(UpdateStatusTable());
    machine_->ClearFaults();
    Poll(500ms);

    const QCPGraph* position = scope_->Plot()->Graph(0);
    EXPECT_DOUBLE_EQ(scope_->Plot()->TimeAxis()->range().upper, 0);
    EXPECT_DOUBLE_EQ(scope_->Plot()->TimeAxis()->range().lower, -2);
    int breaks = 0;
    for (auto point = position->data()->constBegin(); point != position->data()->constEnd();
         ++point) {
        breaks += std::isnan(point->value) ? 1 : 0;
    }
    EXPECT_EQ(breaks, 1) << "one failed poll, one break, no line drawn across it";
    EXPECT_EQ(position->dataCount(), 50 + 1 + 50);
}

}  // namespace
}  // namespace trevane::testing
