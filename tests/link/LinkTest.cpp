#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <stop_token>
#include <thread>

#include "common/StopControl.h"
#include "link/ControllerLink.h"
#include "link/ScriptedPeer.h"
#include "link/Operator.h"
#include "net/TcpMotionClient.h"
#include "support/ControllerUnderTest.h"
#include "support/SpyWindow.h"

namespace trevane {
namespace {

using namespace trevane::testing;
using testing::ControllerScript;
using ::testing::ElementsAre;
using testing::PeerReply;
using testing::ScriptedPeer;
using testing::SpyWindow;

constexpr TcpTimeouts kQuick{std::chrono::milliseconds(1000), std::chrono::milliseconds(150),
                             std::chrono::milliseconds(300)};
const std::string kErrorLine = "a command error occurred\r\n";

std::optional<PeerReply> Answers(const std::string& request) {
    if (request == "TPX") {
        return PeerReply{" 1234\r\n:"};
    }
    if (request == "TPY") {
        return PeerReply{"-5\r\n:"};
    }
    if (request == "WT") {
        return std::nullopt;
    }
    if (request == "CUT") {
        return PeerReply{"12", true};
    }
    if (request == "LS") {
        return PeerReply{std::string(kMaxReplyBytes + 1, 'a') + "\r\n:"};
    }
    if (request == "XQ") {
        return PeerReply{"?"};
    }
    return PeerReply{":"};
}

// Logs when each session opens and closes, to check the order Connect keeps.
class TracedSession final : public MotionClient {
  public:
    TracedSession(std::shared_ptr<MotionClient> inner, std::vector<std::string>& log, int id)
        : inner_(std::move(inner)), log_(log), id_(id) {
        log_.push_back("open " + std::to_string(id_));
    }
    ~TracedSession() override { log_.push_back("close " + std::to_string(id_)); }
    std::string command(const std::string& c, const std::string& t, const std::string& a,
                        bool trim) override {
        return inner_->command(c, t, a, trim);
    }
    std::string connection() override { return inner_->connection(); }
    std::string programUpload() override { return inner_->programUpload(); }
    std::vector<char> record(const std::string& q) override { return inner_->record(q); }

  private:
    std::shared_ptr<MotionClient> inner_;
    std::vector<std::string>& log_;
    int id_;
};

class LinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetWindow(window);
        SetSessionFactory(MakeTcpSessionFactory(peer.Port(), kQuick));
    }

    std::string Description() const {
        return "127.0.0.1:" + std::to_string(peer.Port()) + " " + testing::kPeerIdentity;
    }
    void ExpectConnected() const {
        EXPECT_TRUE(Connected());
        EXPECT_TRUE(Link().CommandSession());
        EXPECT_TRUE(Link().RecordSession());
        EXPECT_TRUE(window->TimerRunning(IDT_STATUS));
        EXPECT_TRUE(window->Messages().empty());
    }
    void ExpectConnectionFailed() const {
        EXPECT_FALSE(Connected());
        EXPECT_FALSE(window->TimerRunning(IDT_STATUS));
        ASSERT_EQ(window->Messages().size(), 1u);
        EXPECT_EQ(window->Messages()[0].text, "Connection Failed");
        EXPECT_EQ(window->Messages()[0].caption, "Diagnostics");
        EXPECT_TRUE(window->Messages()[0].ownedByWindow);
    }

    std::shared_ptr<SpyWindow> window = std::make_shared<SpyWindow>();
    ScriptedPeer peer{ControllerScript(Answers)};
    testing::ControllerGuard controller_;
};

TEST_F(LinkTest, SendCommandWithoutSessionReportsTheErrorLine) {
    EXPECT_EQ(SendCommand("TPX"), "");
    EXPECT_EQ(window->Transcript(), kErrorLine);
    EXPECT_EQ(window->ScrollCount(), 1);
}

TEST_F(LinkTest, ConnectOpensTwoSessionsHaltsAndShowsTheDescription) {
    OnConnect();
    ExpectConnected();
    EXPECT_EQ(window->Transcript(), Description() + "\r\n");
    EXPECT_EQ(window->ScrollCount(), 0);
    EXPECT_EQ(peer.ConnectionsAccepted(), 2);
    EXPECT_THAT(peer.Requests(), ElementsAre("HX", "\x12\x16"));
}

TEST_F(LinkTest, RefusedConnectionShowsConnectionFailedAndLeavesTheTranscript) {
    SetSessionFactory(MakeTcpSessionFactory(testing::UnusedLoopbackPort(), kQuick));
    window->EditTranscript("typed by the operator");
    OnConnect();
    ExpectConnectionFailed();
    EXPECT_FALSE(Link().CommandSession());
    EXPECT_FALSE(Link().RecordSession());
    EXPECT_EQ(window->Transcript(), "typed by the operator");
    EXPECT_EQ(window->ScrollCount(), 0);
}

TEST_F(LinkTest, AddressThatIsNotDottedIpv4FailsToConnect) {
    window->SetAddress("controller.local");
    OnConnect();
    ExpectConnectionFailed();
    EXPECT_FALSE(Link().CommandSession());
    EXPECT_EQ(peer.ConnectionsAccepted(), 0);
}

TEST_F(LinkTest, RepliesPassThroughUnchangedAndEmptyRepliesAddNoLine) {
    OnConnect();
    const std::string connected = window->Transcript();
    EXPECT_EQ(SendCommand("TPX"), "1234");
    EXPECT_EQ(SendCommand("HX"), "");
    EXPECT_EQ(SendCommand("TPX\rTPY"), "1234\r\n-5");
    EXPECT_EQ(window->Transcript(), connected);
    EXPECT_EQ(window->ScrollCount(), 0);
}

TEST_F(LinkTest, RejectedCommandGivesTheErrorLineAndTheSessionGoesOn) {
    OnConnect();
    EXPECT_EQ(SendCommand("XQ"), "");
    EXPECT_EQ(window->Transcript(), Description() + "\r\n" + kErrorLine);
    EXPECT_EQ(window->ScrollCount(), 1);
    EXPECT_EQ(SendCommand("TPY"), "-5");
}

// A timeout spends the session: the failing call and every later one report the error line,
// and nothing more is sent.
TEST_F(LinkTest, ATimeoutSpendsTheSession) {
    OnConnect();
    const std::size_t sentBefore = peer.Requests().size();
    EXPECT_EQ(SendCommand("WT"), "");
    EXPECT_EQ(SendCommand("TPX"), "");
    EXPECT_EQ(window->Transcript(), Description() + "\r\n" + kErrorLine + kErrorLine);
    EXPECT_EQ(peer.Requests().size(), sentBefore + 1);
    // Connect opens fresh sessions, and the link works again.
    OnConnect();
    EXPECT_EQ(SendCommand("TPX"), "1234");
}

// A connection the controller closed mid-reply: the command it cut off may have been carried
// out and is never sent again; the next command goes out once on a fresh session, and the
// operator is told of the reopening once.
TEST_F(LinkTest, AConnectionClosedMidReplyIsReopenedForTheNextCommandOnly) {
    OnConnect();
    const std::size_t sentBefore = peer.Requests().size();
    const int accepted = peer.ConnectionsAccepted();
    EXPECT_EQ(SendCommand("CUT"), "");
    EXPECT_EQ(SendCommand("TPX"), "1234");
    EXPECT_EQ(SendCommand("TPY"), "-5");
    EXPECT_THAT(peer.Requests(), ::testing::Contains("CUT").Times(1));
    EXPECT_EQ(peer.Requests().size(), sentBefore + 3);
    EXPECT_EQ(peer.ConnectionsAccepted(), accepted + 1);
    ASSERT_EQ(window->Reopenings().size(), 1u);
    EXPECT_THAT(window->Reopenings()[0],
                ::testing::StartsWith("command session reopened: the controller had closed it"));
    EXPECT_EQ(window->Transcript(),
              Description() + "\r\n" + kErrorLine + window->Reopenings()[0] + "\r\n");
}

// The rest of an oversized reply is still on its way: that session is out of step, and the next
// command goes out on a fresh one.
TEST_F(LinkTest, AnOversizedReplyPutsTheSessionOutOfStepAndTheNextCommandReopensIt) {
    OnConnect();
    const int accepted = peer.ConnectionsAccepted();
    const std::uint64_t outOfStep = Link().OutOfStepReplies();
    EXPECT_EQ(SendCommand("LS"), "");
    EXPECT_EQ(SendCommand("TPX"), "1234");
    EXPECT_EQ(window->Transcript(), Description() + "\r\n" + kErrorLine);
    EXPECT_EQ(peer.ConnectionsAccepted(), accepted + 1);
    EXPECT_EQ(Link().OutOfStepReplies(), outOfStep + 1);
}

TEST_F(LinkTest, FailingHaltLeavesTheErrorLineAboveTheDescription) {
    ScriptedPeer rejectsHalt(ControllerScript([](const std::string& request) {
        return request == "HX" ? std::optional<PeerReply>(PeerReply{"?"}) : Answers(request);
    }));
    SetSessionFactory(MakeTcpSessionFactory(rejectsHalt.Port(), kQuick));
    OnConnect();
    ExpectConnected();
    EXPECT_EQ(window->Transcript(), kErrorLine + "127.0.0.1:" + std::to_string(rejectsHalt.Port()) +
                                        " " + testing::kPeerIdentity + "\r\n");
}

TEST_F(LinkTest, SecondConnectClosesBothSessionsBeforeOpeningNewOnes) {
    std::vector<std::string> log;
    int opened = 0;
    SessionFactory tcp = MakeTcpSessionFactory(peer.Port(), kQuick);
    SetSessionFactory([&](const std::string& address) {
        return std::make_shared<TracedSession>(tcp(address), log, ++opened);
    });
    OnConnect();
    OnConnect();
    ExpectConnected();
    EXPECT_THAT(log, ElementsAre("open 1", "open 2", "close 1", "close 2", "open 3", "open 4"));
    EXPECT_EQ(window->Transcript(), Description() + "\r\n" + Description() + "\r\n");
    EXPECT_EQ(peer.ConnectionsAccepted(), 4);
    CloseLink();  // `log` dies with this test
}

TEST_F(LinkTest, SecondSessionFailingLeavesTheLinkHalfConnected) {
    const std::uint16_t refused = testing::UnusedLoopbackPort();
    int opened = 0;
    SetSessionFactory([&](const std::string& address) {
        const std::uint16_t port = ++opened == 1 ? peer.Port() : refused;
        return MakeTcpSessionFactory(port, kQuick)(address);
    });
    OnConnect();
    ExpectConnectionFailed();
    EXPECT_TRUE(Link().CommandSession());
    EXPECT_FALSE(Link().RecordSession());
    EXPECT_EQ(window->Transcript(), "");
    // Typed commands still reach the controller through the command session.
    EXPECT_EQ(SendCommand("TPX"), "1234");
}

TEST_F(LinkTest, FailingDescriptionLeavesTheLinkConnectedWithoutTheFlag) {
    ScriptedPeer noIdentity([](const std::string& request) {
        return request == "\x12\x16" ? std::optional<PeerReply>(PeerReply{"?"})
                                     : ControllerScript(Answers)(request);
    });
    SetSessionFactory(MakeTcpSessionFactory(noIdentity.Port(), kQuick));
    OnConnect();
    ExpectConnectionFailed();
    EXPECT_TRUE(Link().CommandSession());
    EXPECT_TRUE(Link().RecordSession());
    EXPECT_EQ(window->Transcript(), "");
    EXPECT_EQ(SendCommand("TPY"), "-5");
}

TEST_F(LinkTest, ConnectDuringAnExchangeKeepsThatSessionAliveUntilItEnds) {
    OnConnect();
    std::thread exchange([] { SendCommand("WT"); });
    // Connect once the exchange is surely under way on the old session.
    for (int i = 0; i < 500 && peer.Requests().back() != "WT"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    OnConnect();
    exchange.join();
    ExpectConnected();
    EXPECT_EQ(SendCommand("TPX"), "1234");
    // The old exchange timed out on its own session; its line may come before or after the
    // second description.
    const std::string transcript = window->Transcript();
    EXPECT_EQ(transcript.size(), 2 * (Description().size() + 2) + kErrorLine.size());
    EXPECT_NE(transcript.find(kErrorLine), std::string::npos);
}

TEST_F(LinkTest, StoppedTestThreadUnwindsWithoutAnErrorLine) {
    OnConnect();
    std::stop_source stop;
    stop.request_stop();
    ScopedStopToken token(stop.get_token());
    EXPECT_THROW(SendCommand("TPX"), TestAborted);
    EXPECT_EQ(window->Transcript(), Description() + "\r\n");
}

}  // namespace
}  // namespace trevane
