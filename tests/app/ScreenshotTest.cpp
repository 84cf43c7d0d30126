#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <QApplication>
#include <QMessageBox>
#include <QTest>

#include "app/WindowHarness.h"
#include "app/WindowProgram.h"
#include "link/ControllerLink.h"
#include "link/ScriptedPeer.h"
#include "net/TcpMotionClient.h"
#include "support/ChildProcess.h"
#include "support/ScratchFolder.h"

namespace trevane::testing {
namespace {

using namespace std::chrono_literals;

std::size_t Lines(const std::string& text) {
    std::size_t lines = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        lines += text.find_first_not_of(" \t\r", at) < std::min(end, text.size()) ? 1 : 0;
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

TEST(ScreenshotTest, WithoutSimulateNothingIsConnectedAndTheRunIsRefused) {
    ScriptedPeer controller([](const std::string&) { return std::optional<PeerReply>(); });
    const ScratchFolder scratch("trevane-screenshot");
    const std::filesystem::path& folder = scratch.Path();
    std::ofstream(folder / "PelornControl.ini")
        << "[Main]\nGAddress=127.0.0.1\nPort=" << controller.Port() << "\n";

    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--screenshot", "shot.png"},
          std::vector<std::string>{"--screenshot=shot.png"}}) {
        const ProgramRun run = RunProgram(TREVANE_APP_PATH, arguments, folder, 60s);
        EXPECT_EQ(run.exitCode, 2) << run.err;
        EXPECT_EQ(Lines(run.err), 1u) << run.err;
        EXPECT_NE(run.err.find("trevane: --screenshot works only together with --simulate"),
                  std::string::npos)
            << run.err;
        EXPECT_FALSE(std::filesystem::exists(folder / "shot.png"));
    }
    EXPECT_EQ(controller.ConnectionsAccepted(), 0) << "the refused run reached the controller";
}

TEST(ScreenshotTest, OptionsRefuseAScreenshotWithoutSimulate) {
    std::string error;
    EXPECT_FALSE(ParseStartOptions({"trevane", "--screenshot", "a.png"}, error));
    EXPECT_NE(error.find("--simulate"), std::string::npos) << error;
    error.clear();
    const auto both = ParseStartOptions({"trevane", "--screenshot", "a.png", "--simulate"}, error);
    ASSERT_TRUE(both) << error;
    EXPECT_TRUE(both->simulate);
    EXPECT_EQ(both->screenshotPath, "a.png");
}

using ScreenshotRunTest = WindowTest;

// Connect fails (nothing listens): the failure box is closed rather than left waiting for an OK,
// the run ends with 1 and no picture.
TEST_F(ScreenshotRunTest, AFailedConnectEndsTheRunWithoutWaitingOnTheBox) {
    SetSessionFactory(MakeTcpSessionFactory(UnusedLoopbackPort()));
    MainWindow& dialog = OpenDialog();
    dialog.SetAddressText("127.0.0.1");
    int exitCode = 0;
    const QString path = QString::fromStdString((workDir_ / "shot.png").string());
    ScheduleScreenshot(dialog, path, exitCode, 30s);
    dialog.exec();

    EXPECT_EQ(exitCode, 1);
    EXPECT_FALSE(Connected());
    EXPECT_FALSE(std::filesystem::exists(workDir_ / "shot.png"));
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        EXPECT_FALSE(box != nullptr && box->isVisible()) << box->text().toStdString();
    }
}

// A run that outlasts its bound is ended there with 1, before it has touched the machine.
TEST_F(ScreenshotRunTest, TheBoundEndsARunThatTakesTooLong) {
    MainWindow& dialog = OpenDialog();
    dialog.SetAddressText("127.0.0.1");
    int exitCode = 0;
    const QString path = QString::fromStdString((workDir_ / "shot.png").string());
    ScheduleScreenshot(dialog, path, exitCode, 1ms);
    dialog.exec();
    EXPECT_EQ(exitCode, 1);
    EXPECT_FALSE(Connected()) << "Connect was pressed after the run had ended";
    EXPECT_FALSE(std::filesystem::exists(workDir_ / "shot.png"));
}

}  // namespace
}  // namespace trevane::testing
