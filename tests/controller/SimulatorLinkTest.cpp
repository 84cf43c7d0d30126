#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "common/CLocale.h"
#include "common/Clock.h"
#include "common/RecordLayout.h"
#include "controller/ControlIds.h"
#include "controller/Link.h"
#include "net/TcpMotionClient.h"
#include "sim/Simulator.h"
#include "support/RecordingWindow.h"

namespace trevane {
namespace {

using ::testing::HasSubstr;

// The link end to end: Connect and SendCommand over TCP to the simulated controller's server.
class SimulatorLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetWindow(window);
        SetSessionFactory(MakeTcpSessionFactory(server.Port()));
    }
    void TearDown() override {
        CloseLink();
        SetSessionFactory(nullptr);
        SetWindow(nullptr);
    }

    std::shared_ptr<sim::Machine> machine =
        std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    sim::Server server{machine, "127.0.0.1", 0};
    std::shared_ptr<testing::RecordingWindow> window = std::make_shared<testing::RecordingWindow>();
};

TEST_F(SimulatorLinkTest, ConnectAndExchangeCommands) {
    OnConnect();
    ASSERT_TRUE(g_connected);
    EXPECT_EQ(window->Transcript(),
              "127.0.0.1:" + std::to_string(server.Port()) + " " + sim::kIdentityLine + "\r\n");
    EXPECT_EQ(SendCommand("SH"), "");
    EXPECT_EQ(SendCommand("DP0,0,0,0"), "");
    EXPECT_EQ(ReadNumber(SendCommand("TPX")), 0.0f);
    EXPECT_EQ(window->ScrollCount(), 0);

    EXPECT_EQ(SendCommand("NOT A COMMAND"), "");
    EXPECT_THAT(window->Transcript(), HasSubstr("a command error occurred\r\n"));
}

TEST_F(SimulatorLinkTest, RecordAndUploadFrameAsTheClientExpects) {
    machine->SetStoredProgram("#A\r\nEN\r\n");
    OnConnect();
    ASSERT_TRUE(g_connected);
    const std::vector<char> record = g_recordController.Get()->record("QR IXYZW");
    ASSERT_GE(record.size(), record::kMinimumSize);
    const auto length = static_cast<std::size_t>(
        static_cast<unsigned char>(record[record::kLengthOffset]) |
        static_cast<unsigned char>(record[record::kLengthOffset + 1]) << 8);
    EXPECT_EQ(length, record.size());
    EXPECT_EQ(g_controller.Get()->programUpload(), "#A\nEN\n");
}

TEST_F(SimulatorLinkTest, RejectedCommandCarriesTheControllersReason) {
    OnConnect();
    ASSERT_TRUE(g_connected);
    try {
        g_controller.Get()->command("NOT A COMMAND");
        FAIL() << "the simulated controller accepted an unknown command";
    } catch (const MotionError& error) {
        EXPECT_THAT(error.what(), HasSubstr("'NOT A COMMAND'"));
    }
    EXPECT_EQ(SendCommand("SH"), "");
}

}  // namespace
}  // namespace trevane
