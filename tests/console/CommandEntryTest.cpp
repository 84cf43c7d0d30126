#include <stdexcept>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "console/CommandEntry.h"
#include "support/LinkFixture.h"

namespace trevane::testing {
namespace {

using ::testing::ElementsAre;

class CommandEntryTest : public ScriptedLinkTest {};

TEST_F(CommandEntryTest, SendsTheEntryAsTypedClearsItAndAppendsTheReply) {
    controller_->SetReply(" TP X ", "1234");
    Connect();
    window_->TypeCommand(" TP X ");
    const int scrollsBefore = window_->ScrollCount();
    SubmitCommand(Link());
    EXPECT_THAT(controller_->Commands(), ElementsAre(" TP X "));
    EXPECT_EQ(window_->CommandEntry(), "");
    EXPECT_EQ(window_->Transcript(), "1234\r\n");
    EXPECT_EQ(window_->ScrollCount(), scrollsBefore + 1);
}

TEST_F(CommandEntryTest, AnEmptyEntryIsSentAsAnEmptyCommand) {
    Connect();
    SubmitCommand(Link());
    SubmitCommand(Link());
    EXPECT_THAT(controller_->Commands(), ElementsAre("", ""));
    EXPECT_EQ(window_->Transcript(), "\r\n\r\n");
}

TEST_F(CommandEntryTest, WorksOnALeftOverSessionWithoutTheConnectedFlag) {
    controller_->SetReply("TC1", "0 no error");
    controller_->FailConnection();
    OnConnect();
    ASSERT_FALSE(Connected());
    window_->TypeCommand("TC1");
    SubmitCommand(Link());
    EXPECT_EQ(window_->Transcript(), "0 no error\r\n");
}

TEST_F(CommandEntryTest, RepliesAndPastedCommandsKeepTheirLineBreaks) {
    controller_->SetReply("MG 1\r\nMG 2", "1.0000\r\n2.0000");
    Connect();
    window_->TypeCommand("MG 1\r\nMG 2");
    SubmitCommand(Link());
    EXPECT_THAT(controller_->Commands(), ElementsAre("MG 1\r\nMG 2"));
    EXPECT_EQ(window_->Transcript(), "1.0000\r\n2.0000\r\n");
}

// A window whose entry cannot be cleared: the failure comes after the exchange.
class EntryThatCannotBeCleared : public SpyWindow {
  public:
    void SetCommandText(const std::string&) override { throw std::runtime_error("entry gone"); }
};

TEST_F(CommandEntryTest, AFailureOutsideTheExchangeEndsTheSubmissionWithTheErrorLine) {
    auto window = std::make_shared<EntryThatCannotBeCleared>();
    SetWindow(window);
    controller_->SetReply("TP", "5");
    Connect();
    window->EditTranscript("");
    window->TypeCommand("TP");
    const int scrollsBefore = window->ScrollCount();
    EXPECT_NO_THROW(SubmitCommand(Link()));
    EXPECT_EQ(window->Transcript(), "a command error occurred\r\n");
    EXPECT_EQ(window->CommandEntry(), "TP");
    EXPECT_EQ(window->ScrollCount(), scrollsBefore + 1);
}

class CommandEntryOnTheMachineTest : public SimulatedLinkTest {};

TEST_F(CommandEntryOnTheMachineTest, ShowsTheMachinesRepliesAndItsRejections) {
    Connect();
    window_->TypeCommand("DP 1234");
    SubmitCommand(Link());
    window_->TypeCommand("TPX");
    SubmitCommand(Link());
    window_->TypeCommand("NOT A COMMAND");
    SubmitCommand(Link());
    EXPECT_EQ(window_->Transcript(), "\r\n1234\r\na command error occurred\r\n\r\n");
}

}  // namespace
}  // namespace trevane::testing
