#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include <QApplication>
#include <QMessageBox>
#include <QTest>

#include "app/OstrelApp.h"
#include "app/WindowHarness.h"
#include "link/Link.h"
#include "net/TcpMotionClient.h"
#include "support/ChildProcess.h"
#include "support/ScratchFolder.h"

namespace trevane::testing {
namespace {

using namespace std::chrono_literals;

// A loopback listener that never accepts: whatever connects to it stays queued, so afterwards a
// non-blocking accept tells whether anybody came.
class SilentListener {
  public:
    SilentListener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(fd_, 8) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("cannot listen on loopback");
        }
        port_ = ntohs(address.sin_port);
    }
    ~SilentListener() { ::close(fd_); }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    std::uint16_t Port() const { return port_; }
    bool AnybodyConnected() const {
        const int peer = ::accept(fd_, nullptr, nullptr);
        if (peer >= 0) {
            ::close(peer);
            return true;
        }
        return errno != EAGAIN && errno != EWOULDBLOCK;
    }

  private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

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
    SilentListener controller;
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
    EXPECT_FALSE(controller.AnybodyConnected()) << "the refused run reached the controller";
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
    std::uint16_t deadPort = 0;
    {
        SilentListener gone;
        deadPort = gone.Port();
    }
    SetSessionFactory(MakeTcpSessionFactory(deadPort));
    COstrelDlg& dialog = OpenDialog();
    dialog.SetAddressText("127.0.0.1");
    int exitCode = 0;
    const QString path = QString::fromStdString((workDir_ / "shot.png").string());
    ScheduleScreenshot(dialog, path, exitCode, 30s);
    dialog.exec();

    EXPECT_EQ(exitCode, 1);
    EXPECT_FALSE(g_connected.load());
    EXPECT_FALSE(std::filesystem::exists(workDir_ / "shot.png"));
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        EXPECT_FALSE(box != nullptr && box->isVisible()) << box->text().toStdString();
    }
}

// A run that outlasts its bound is ended there with 1, before it has touched the machine.
TEST_F(ScreenshotRunTest, TheBoundEndsARunThatTakesTooLong) {
    COstrelDlg& dialog = OpenDialog();
    dialog.SetAddressText("127.0.0.1");
    int exitCode = 0;
    const QString path = QString::fromStdString((workDir_ / "shot.png").string());
    ScheduleScreenshot(dialog, path, exitCode, 1ms);
    dialog.exec();
    EXPECT_EQ(exitCode, 1);
    EXPECT_FALSE(g_connected.load()) << "Connect was pressed after the run had ended";
    EXPECT_FALSE(std::filesystem::exists(workDir_ / "shot.png"));
}

}  // namespace
}  // namespace trevane::testing
