#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/Clock.h"
#include "console/CommandEntry.h"
#include "console/ProgramDump.h"
#include "controller/Controller.h"
#include "net/TcpMotionClient.h"
#include "sim/Simulator.h"
#include "support/ScratchFolder.h"
#include "support/SpyWindow.h"

// Sessions the controller closes (after an idle time, on a restart) are opened again before the
// next command, without Connect; a command that went out before its session broke is never
// sent twice.
namespace trevane {
namespace {

using namespace std::chrono_literals;
using testing::ReadFile;
using testing::ScopedWorkingFolder;
using testing::SpyWindow;

std::size_t CountOf(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

// A controller whose in-process machine closes a session idle for a second, on a virtual clock.
class IdleClosingController : public ::testing::Test {
  protected:
    void SetUp() override {
        SetSystemClock(clock_);
        controller_.SetOperator(panel_);
        sim::InProcessOptions options;
        options.idleTimeout = 1s;
        controller_.Link().SetSessionFactory(sim::InProcessSessionFactory(machine_, options));
        controller_.Link().Connect();
        ASSERT_TRUE(controller_.Link().Connected());
        panel_->EditTranscript("");
        machine_->ClearReceived();
    }
    void TearDown() override { SetSystemClock(nullptr); }

    ScopedWorkingFolder folder_{"trevane-recovery"};
    std::shared_ptr<VirtualClock> clock_ = std::make_shared<VirtualClock>();
    std::shared_ptr<sim::Machine> machine_ = std::make_shared<sim::Machine>(clock_);
    std::shared_ptr<SpyWindow> panel_ = std::make_shared<SpyWindow>();
    Controller controller_;
};

TEST_F(IdleClosingController, ATypedCommandReopensTheSessionAndTellsTheOperatorOnce) {
    clock_->Advance(68s);
    panel_->TypeCommand("TPX");
    SubmitCommand(controller_.Link());

    EXPECT_EQ(panel_->Transcript(),
              "command session reopened: the controller had closed it after 68 s idle\r\n0\r\n");
    EXPECT_EQ(panel_->Reopenings().size(), 1u);
    EXPECT_TRUE(panel_->Failures().empty());
    EXPECT_EQ(CountOf(machine_->ReceivedCommands(), "TPX"), 1u);
    EXPECT_EQ(controller_.Link().CommandStatus().state, SessionState::Live);

    // The new session is used from now on: no second reopening for the next command.
    EXPECT_EQ(controller_.Link().SendCommand("TPY"), "0");
    EXPECT_EQ(panel_->Reopenings().size(), 1u);
}

TEST_F(IdleClosingController, TheRecordSessionReopensForTheNextPoll) {
    clock_->Advance(5s);
    EXPECT_TRUE(controller_.Monitor().Poll());
    EXPECT_EQ(controller_.Link().RecordStatus().state, SessionState::Live);
    // The record session is not the operator's to be told of: the table just goes on.
    EXPECT_TRUE(panel_->Reopenings().empty());
}

TEST_F(IdleClosingController, TheProgramDumpReopensTheSessionToo) {
    machine_->SetStoredProgram("#A\r\nEN\r\n");
    clock_->Advance(3s);
    DumpProgram(controller_.Link());
    ASSERT_EQ(panel_->Messages().size(), 1u);
    EXPECT_EQ(panel_->Messages()[0].text, "Dumped to logProgram.txt");
    EXPECT_EQ(ReadFile(folder_.Path() / "logProgram.txt"), "#A\r\nEN\r\n");
}

// The test's own pauses (2 s after the checks, 4 s after Enable Machine) outlast the idle limit:
// each closed session is reopened before the next command and the test passes.
TEST_F(IdleClosingController, AnAutomaticTestOutlastsTheIdleLimit) {
    controller_.Log().MakeFileName();
    const TestResult result = controller_.RunAutomaticTest({});
    ASSERT_TRUE(result.verdict);
    EXPECT_EQ(result.verdict->kind, TestVerdict::Kind::Passed) << panel_->Transcript();
    EXPECT_TRUE(result.completed);
    EXPECT_GE(panel_->Reopenings().size(), 2u);
    EXPECT_EQ(result.sessionReopenings, panel_->Reopenings().size());
    // The traffic shows each command the closed session refused, and the same command again.
    std::size_t refused = 0;
    for (const TrafficEntry& entry : controller_.Traffic().Snapshot()) {
        refused += entry.reason.find("closed the session") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(refused, panel_->Reopenings().size());
    EXPECT_EQ(ReadFile(result.logPath).find("link to the controller was lost"), std::string::npos);
}

// A command under way when its session broke may have been carried out: it fails with the
// reason and is not sent again; the next command opens a new session.
TEST_F(IdleClosingController, ACommandInFlightWhenItsSessionBreaksIsNotSentTwice) {
    // Closed sooner than the reply's own timeout (1 s) would spend the session.
    sim::InProcessOptions options;
    options.idleTimeout = 500ms;
    controller_.Link().SetSessionFactory(sim::InProcessSessionFactory(machine_, options));
    controller_.Link().Connect();
    panel_->EditTranscript("");
    machine_->AddFault(sim::ParseFault("silent"));
    std::optional<std::string> reply;
    std::jthread sender([this, &reply] { reply = controller_.Link().TrySendCommand("SB1"); });
    // The silent controller answers nothing; its idle limit closes the session meanwhile.
    while (sender.joinable() && panel_->Failures().empty()) {
        clock_->Advance(100ms);
        std::this_thread::sleep_for(1ms);
    }
    sender.join();
    EXPECT_FALSE(reply);
    ASSERT_EQ(panel_->Failures().size(), 1u);
    EXPECT_EQ(panel_->Failures()[0].command, "SB1");
    EXPECT_EQ(CountOf(machine_->ReceivedCommands(), "SB1"), 1u);
    EXPECT_EQ(panel_->Transcript(), "a command error occurred\r\n");

    machine_->ClearFaults();
    EXPECT_EQ(controller_.Link().TrySendCommand("SB2"), std::optional<std::string>(""));
    EXPECT_EQ(CountOf(machine_->ReceivedCommands(), "SB1"), 1u);
    EXPECT_TRUE(machine_->Output(2));
}

// Over TCP: the simulator's server closes an idle connection, and later it is stopped and
// started again on the same port between two commands. Neither needs Connect.
TEST(SessionRecoveryOverTcp, IdleCloseAndRestartBetweenTwoCommands) {
    sim::Server::Options options;
    options.idleTimeout = 200ms;
    auto machine = std::make_shared<sim::Machine>(SystemClockShared());
    auto server = std::make_unique<sim::Server>(machine, "127.0.0.1", 0, options);
    const std::uint16_t port = server->Port();
    auto panel = std::make_shared<SpyWindow>();
    Controller controller;
    controller.SetOperator(panel);
    controller.Link().SetSessionFactory(MakeTcpSessionFactory(port));
    controller.Link().Connect();
    ASSERT_TRUE(controller.Link().Connected());

    while (machine->OpenSessions() > 0) {
        std::this_thread::sleep_for(20ms);  // closed by the server's idle limit
    }
    EXPECT_EQ(controller.Link().TrySendCommand("SB5"), std::optional<std::string>(""));
    EXPECT_TRUE(machine->Output(5));
    ASSERT_EQ(panel->Reopenings().size(), 1u);
    EXPECT_TRUE(
        panel->Reopenings()[0].starts_with("command session reopened: the controller had closed it"));

    server.reset();  // stopped ...
    auto restarted = std::make_shared<sim::Machine>(SystemClockShared());
    server = std::make_unique<sim::Server>(restarted, "127.0.0.1", port, options);  // ... and back
    EXPECT_EQ(controller.Link().TrySendCommand("SB6"), std::optional<std::string>(""));
    EXPECT_TRUE(restarted->Output(6));
    EXPECT_FALSE(machine->Output(6));
    EXPECT_EQ(controller.Link().CommandStatus().state, SessionState::Live);
    EXPECT_TRUE(panel->Failures().empty());
}

}  // namespace
}  // namespace trevane
