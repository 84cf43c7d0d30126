#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "common/Clock.h"
#include "link/ControllerLink.h"
#include "link/Operator.h"
#include "net/TcpMotionClient.h"
#include "sim/Simulator.h"
#include "support/ControllerUnderTest.h"
#include "support/SpyWindow.h"
#include "support/StandingAxis.h"
#include "support/StrayRelay.h"
#include "traffic/TrafficRecorder.h"

namespace trevane {
namespace {

using namespace std::chrono_literals;
using namespace trevane::testing;
using ::testing::HasSubstr;
using testing::StrayPlan;
using testing::StrayRelay;

// The link over TCP to the simulated controller's server, through a relay that adds stray
// replies: no stray may ever come back as the reply to a command.
class OutOfStepTest : public ::testing::Test {
  protected:
    void ConnectThrough(StrayPlan plan) {
        relay_.emplace(server_.Port(), std::move(plan));
        SetWindow(window_);
        SetSessionFactory(MakeTcpSessionFactory(relay_->Port()));
        OnConnect();
        ASSERT_TRUE(Connected());
    }

    // What the controller itself answers, asked on a session of its own.
    std::string Direct(const std::string& command) {
        return MakeTcpSessionFactory(server_.Port())("127.0.0.1")->command(command);
    }

    int Received(const std::string& command) const {
        const std::vector<std::string> received = machine_->ReceivedCommands();
        return static_cast<int>(std::count(received.begin(), received.end(), command));
    }

    std::shared_ptr<sim::Machine> machine_ =
        std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    sim::Server server_{machine_, "127.0.0.1", 0};
    std::optional<StrayRelay> relay_;
    std::shared_ptr<testing::SpyWindow> window_ = std::make_shared<testing::SpyWindow>();
    testing::ControllerGuard controller_;
};

// A copy of each "TE" reply right behind it, as in a relay that repeats itself: the command it
// follows fails, the session is opened anew, and every reply that is handed out is the right one.
TEST_F(OutOfStepTest, ASecondReplyFailsItsCommandAndTheNextCommandGetsAFreshSession) {
    ConnectThrough(testing::CopyAfter("TE"));
    const std::uint64_t before = Link().OutOfStepReplies();
    const std::uint64_t traffic = Traffic().LastSequence();

    std::vector<std::optional<std::string>> replies;
    for (const char* command : {"MG 111", "TEX", "MG 222", "TEX", "MG 333"}) {
        replies.push_back(Link().TrySendCommand(command));
    }
    EXPECT_EQ(replies[0], Direct("MG 111"));
    EXPECT_EQ(replies[1], std::nullopt);
    EXPECT_EQ(replies[2], Direct("MG 222"));
    EXPECT_EQ(replies[3], std::nullopt);
    EXPECT_EQ(replies[4], Direct("MG 333"));
    EXPECT_EQ(Link().OutOfStepReplies() - before, 2u);
    EXPECT_THAT(window_->Transcript(), HasSubstr("a command error occurred\r\n"));

    int shown = 0;
    for (const TrafficEntry& entry : Traffic().Since(traffic)) {
        if (entry.reason.find("out of step") != std::string::npos) {
            ++shown;
            EXPECT_EQ(entry.request, "TEX\\r");
            EXPECT_EQ(entry.acknowledgement, "");
        }
    }
    EXPECT_EQ(shown, 2);
}

// Bytes that come while no request waits are most likely the real answer to the request before:
// the command that finds them is not sent on that session but once on a fresh one, so that a
// stop still stops. The slip is counted and shown.
TEST_F(OutOfStepTest, BytesBetweenRepliesSendTheNextCommandOnceOnAFreshSession) {
    ConnectThrough(testing::InjectBetweenAfter("BG", " 5.0000\r\n:"));
    const std::uint64_t before = Link().OutOfStepReplies();
    SendCommand("SH");
    SendCommand("PT0,0,0,0");
    SendCommand("JG5000,0,0,0");
    SendCommand("BG");
    ASSERT_TRUE(relay_->WaitForInjected(1, 5s));
    ASSERT_TRUE(machine_->ReadAxis(0).moving);

    EXPECT_EQ(Link().TrySendCommand("AB1"), "");
    EXPECT_EQ(Received("AB1"), 1);
    EXPECT_FALSE(StandingAxis(*machine_, 0).moving);
    EXPECT_EQ(Link().OutOfStepReplies() - before, 1u);
    const std::optional<TrafficEntry> failure = Traffic().LastFailure();
    ASSERT_TRUE(failure.has_value());
    EXPECT_THAT(failure->reason, HasSubstr("while no request waited; 'AB1' was not sent"));
}

// A stray ahead of the reply is read first; the real reply behind it gives it away.
TEST_F(OutOfStepTest, AStrayAheadOfTheReplyIsNeverTheReading) {
    ConnectThrough(testing::InjectBefore("MG _LFX", " 0.0000\r\n:"));
    EXPECT_EQ(Link().TrySendReading("MG _LFX"), std::nullopt);
    EXPECT_EQ(Link().TrySendReading("MG _LFX"), Direct("MG _LFX"));
}

// A reading that must be a number and is not one cannot be the answer to its request.
TEST_F(OutOfStepTest, AReplyOfTheWrongFormIsNoReading) {
    ConnectThrough(testing::ReplaceReply("TTX", "1 Unrecognized command\r\n:"));
    const std::uint64_t before = Link().OutOfStepReplies();
    EXPECT_EQ(Link().TrySendReading("TTX"), std::nullopt);
    EXPECT_EQ(Link().OutOfStepReplies() - before, 1u);
    EXPECT_EQ(Link().TrySendReading("TTX"), Direct("TTX"));
}

// The record session goes out of step on its own and is opened anew for the next poll.
TEST_F(OutOfStepTest, TheRecordSessionIsReopenedBeforeTheNextPoll) {
    ConnectThrough(testing::CopyAfter("QR"));
    const std::shared_ptr<MotionClient> first = Link().RecordSession();
    try {
        first->record("QR IXYZW");
        ADD_FAILURE() << "a record with a second one behind it was taken";
    } catch (const MotionError& error) {
        EXPECT_TRUE(error.OutOfStep()) << error.what();
        Link().NoteSessionFailure(first, error);
    }
    const std::shared_ptr<MotionClient> second = Link().RecordSession();
    EXPECT_NE(first, second);
    ASSERT_NE(second, nullptr);
    // The command session was never out of step and is the one Connect opened.
    EXPECT_EQ(SendCommand("MG 7"), Direct("MG 7"));
}

}  // namespace
}  // namespace trevane
