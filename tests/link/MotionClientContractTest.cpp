#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/Clock.h"
#include "common/RecordLayout.h"
#include "net/TcpMotionClient.h"
#include "sim/Simulator.h"

// What every MotionClient promises, run over each implementation against the simulated
// controller: the TCP client to its server on loopback, and the in-process client.
namespace trevane {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using namespace std::chrono_literals;

// How long the closing controller lets a session sit without a request.
constexpr std::chrono::milliseconds kIdle = 200ms;

class TcpBackend {
  public:
    std::shared_ptr<MotionClient> Open() {
        return std::make_shared<TcpMotionClient>("127.0.0.1", server_.Port(),
                                                 TcpTimeouts{1000ms, 150ms, 300ms});
    }
    // A reply delay past the reply timeout.
    static constexpr const char* kLateReply = "delay:400";

    // A session on `closingMachine`, whose controller closes sessions idle for kIdle; its
    // replies may take well past that.
    std::shared_ptr<MotionClient> OpenOnClosingController() {
        return std::make_shared<TcpMotionClient>("127.0.0.1", closingServer_.Port(),
                                                 TcpTimeouts{1000ms, 1500ms, 1500ms});
    }
    // Returns once the closing controller has closed every session on it.
    void LetTheIdleTimePass() {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (closingMachine->OpenSessions() > 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_EQ(closingMachine->OpenSessions(), 0u) << "the idle session was never closed";
    }

    std::shared_ptr<sim::Machine> machine =
        std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    std::shared_ptr<sim::Machine> closingMachine =
        std::make_shared<sim::Machine>(std::make_shared<RealClock>());

  private:
    sim::Server server_{machine, "127.0.0.1", 0};
    sim::Server closingServer_{closingMachine, "127.0.0.1", 0, sim::Server::Options{kIdle}};
};

class InProcessBackend {
  public:
    std::shared_ptr<MotionClient> Open() { return sim::MakeInProcessClient(machine); }
    static constexpr const char* kLateReply = "delay:1500";

    std::shared_ptr<MotionClient> OpenOnClosingController() {
        return sim::MakeInProcessClient(closingMachine, "127.0.0.1", 23, {kIdle});
    }
    void LetTheIdleTimePass() { closingClock->Advance(kIdle); }

    std::shared_ptr<sim::Machine> machine =
        std::make_shared<sim::Machine>(std::make_shared<VirtualClock>());
    std::shared_ptr<VirtualClock> closingClock = std::make_shared<VirtualClock>();
    std::shared_ptr<sim::Machine> closingMachine = std::make_shared<sim::Machine>(closingClock);
};

template <typename Backend>
class MotionClientContract : public ::testing::Test {
  protected:
    std::string Send(const std::string& command) { return client->command(command); }
    void AddFault(const std::string& fault) { backend.machine->AddFault(sim::ParseFault(fault)); }

    Backend backend;
    std::shared_ptr<MotionClient> client = backend.Open();
};

using Backends = ::testing::Types<TcpBackend, InProcessBackend>;
TYPED_TEST_SUITE(MotionClientContract, Backends);

TYPED_TEST(MotionClientContract, ACommandGetsItsReplyTrimmedOrWhole) {
    EXPECT_EQ(this->Send("SB1;MG @OUT[1]"), "1.0000");
    EXPECT_EQ(this->client->command("TPX", "\r", ":", false), " 0\r\n");
    EXPECT_EQ(this->Send(""), "");
    // One reply per CR sent, joined, and the session still in step afterwards.
    EXPECT_EQ(this->Send("MG _CN\rMG @OUT[2]"), "-1.0000\r\n 0.0000");
    EXPECT_EQ(this->Send("MG @OUT[1]"), "1.0000");
    EXPECT_EQ(this->backend.machine->ReceivedCommands(),
              (std::vector<std::string>{"SB1;MG @OUT[1]", "TPX", "", "MG _CN", "MG @OUT[2]",
                                        "MG @OUT[1]"}));
}

TYPED_TEST(MotionClientContract, ARejectionThrowsWithTheControllersReasonAndTheSessionGoesOn) {
    try {
        this->Send("FOO");
        FAIL() << "FOO was accepted";
    } catch (const MotionError& error) {
        EXPECT_TRUE(error.Rejected());
        EXPECT_FALSE(error.TimedOut());
        EXPECT_EQ(error.ControllerReason(), "1 Unrecognized command");
        EXPECT_THAT(error.what(), HasSubstr("'FOO'"));
        EXPECT_THAT(error.what(), HasSubstr("1 Unrecognized command"));
    }
    EXPECT_EQ(this->Send("MG _CN"), "-1.0000");
    this->AddFault("reject:MG _CN");
    EXPECT_THROW(this->Send("MG _CN"), MotionError);
    EXPECT_EQ(this->Send("TC1"), "7 Command rejected");
}

TYPED_TEST(MotionClientContract, TheRecordPollReturnsTheWholeRecordAndNoMore) {
    const std::vector<char> record = this->client->record("QR IXYZW");
    ASSERT_EQ(record.size(), record::kMinimumSize);
    EXPECT_EQ(static_cast<unsigned char>(record[record::kLengthOffset]), record::kMinimumSize);
    EXPECT_EQ(this->Send("MG _CN"), "-1.0000");
    this->AddFault("short-record");
    const std::vector<char> shortRecord = this->client->record("QR IXYZW");
    ASSERT_EQ(shortRecord.size(), 100u);
    EXPECT_EQ(static_cast<unsigned char>(shortRecord[record::kLengthOffset]), 100);
}

TYPED_TEST(MotionClientContract, UploadAndIdentity) {
    this->backend.machine->SetStoredProgram("#A\r\nMG \"a:b\"\r\nEN\r\n");
    EXPECT_EQ(this->client->programUpload(), "#A\nMG \"a:b\"\nEN\n");
    EXPECT_THAT(this->client->connection(), StartsWith("127.0.0.1:"));
    EXPECT_THAT(this->client->connection(), EndsWith(" " + std::string(sim::kIdentityLine)));
}

TYPED_TEST(MotionClientContract, ASilentControllerTimesOutAndSpendsTheSession) {
    this->AddFault("silent");
    try {
        this->Send("SB1");
        FAIL() << "a silent controller answered";
    } catch (const MotionError& error) {
        EXPECT_TRUE(error.TimedOut());
    }
    EXPECT_FALSE(this->backend.machine->Output(1));
    // Spent: every later call throws, even once the controller speaks again.
    this->backend.machine->ClearFaults();
    EXPECT_THROW(this->Send("SB1"), MotionError);
    EXPECT_THROW(this->client->record("QR IXYZW"), MotionError);
    EXPECT_THROW(this->client->connection(), MotionError);
    EXPECT_EQ(this->backend.machine->ReceivedCommands(), std::vector<std::string>{"SB1"});
    EXPECT_EQ(this->backend.Open()->command("MG _CN"), "-1.0000");
}

TYPED_TEST(MotionClientContract, ALateReplyFailsLikeATimeoutThoughTheCommandWasCarriedOut) {
    this->AddFault(TypeParam::kLateReply);
    EXPECT_THROW(this->Send("SB5"), MotionError);
    EXPECT_THROW(this->Send("SB6"), MotionError);
    this->backend.machine->ClearFaults();
    EXPECT_EQ(this->backend.Open()->command("MG @OUT[5]"), "1.0000");
}

TYPED_TEST(MotionClientContract, ADroppedLinkAnswersItsRequestsThenFailsForThatSessionOnly) {
    this->AddFault("drop:2");
    EXPECT_NO_THROW(this->Send("SB1"));
    EXPECT_NO_THROW(this->Send("SB2"));
    // Whether the close is seen before or after SB3 goes out depends on the wire's timing.
    try {
        this->Send("SB3");
        FAIL() << "SB3 was answered on a dropped link";
    } catch (const MotionError& error) {
        EXPECT_TRUE(error.ClosedByController()) << error.what();
    }
    try {
        this->Send("SB4");
        FAIL() << "SB4 was answered on a dropped link";
    } catch (const MotionError& error) {
        EXPECT_TRUE(error.ClosedByController()) << error.what();
        EXPECT_TRUE(error.NotSent()) << error.what();
    }
    EXPECT_FALSE(this->backend.machine->Output(3));
    EXPECT_NO_THROW(this->backend.Open()->command("SB6"));
    EXPECT_TRUE(this->backend.machine->Output(6));
}

TYPED_TEST(MotionClientContract, ASessionClosedWhileIdleFailsItsNextRequestsUnsent) {
    const std::shared_ptr<MotionClient> session = this->backend.OpenOnClosingController();
    EXPECT_EQ(session->command("MG _CN"), "-1.0000");
    this->backend.LetTheIdleTimePass();
    const std::size_t received = this->backend.closingMachine->Received().size();
    try {
        session->command("TPX");
        FAIL() << "TPX was answered on a closed session";
    } catch (const MotionError& error) {
        EXPECT_TRUE(error.ClosedByController()) << error.what();
        EXPECT_TRUE(error.NotSent()) << error.what();
        EXPECT_FALSE(error.TimedOut());
        EXPECT_FALSE(error.OutOfStep());
        EXPECT_FALSE(error.Rejected());
        EXPECT_THAT(error.what(), HasSubstr("the controller at 127.0.0.1:"));
        EXPECT_THAT(error.what(), HasSubstr("closed the session; 'TPX' was not sent"));
    }
    // Spent: every later call is refused, unsent, as the same kind.
    for (const auto& call : std::vector<std::function<void()>>{
             [&] { session->command("SB1"); }, [&] { session->record("QR IXYZW"); },
             [&] { session->programUpload(); }, [&] { session->connection(); }}) {
        try {
            call();
            ADD_FAILURE() << "a spent session answered";
        } catch (const MotionError& error) {
            EXPECT_TRUE(error.ClosedByController()) << error.what();
            EXPECT_TRUE(error.NotSent()) << error.what();
        }
    }
    EXPECT_EQ(this->backend.closingMachine->Received().size(), received);
    EXPECT_FALSE(this->backend.closingMachine->Output(1));
    EXPECT_EQ(this->backend.OpenOnClosingController()->command("TPX"), "0");
}

TYPED_TEST(MotionClientContract, ASessionClosedWhileItsReplyIsAwaitedFailsSent) {
    // A controller that swallows the request, then closes the session as idle.
    this->backend.closingMachine->AddFault(sim::ParseFault("silent"));
    const std::shared_ptr<MotionClient> session = this->backend.OpenOnClosingController();
    try {
        session->command("SB1");
        FAIL() << "a silent controller answered";
    } catch (const MotionError& error) {
        EXPECT_TRUE(error.ClosedByController()) << error.what();
        EXPECT_FALSE(error.NotSent()) << error.what();
        EXPECT_FALSE(error.TimedOut());
    }
    EXPECT_EQ(this->backend.closingMachine->ReceivedCommands(), std::vector<std::string>{"SB1"});
    try {
        session->command("SB2");
        FAIL() << "a spent session answered";
    } catch (const MotionError& error) {
        EXPECT_TRUE(error.ClosedByController()) << error.what();
        EXPECT_TRUE(error.NotSent()) << error.what();
    }
    EXPECT_EQ(this->backend.closingMachine->ReceivedCommands(), std::vector<std::string>{"SB1"});

    // A connection dropped behind the first line of a two-line request: that line was carried
    // out, so the request must not go again.
    this->AddFault("drop:1");
    try {
        this->Send("SB3\rSB4");
        FAIL() << "a dropped link answered both lines";
    } catch (const MotionError& error) {
        EXPECT_TRUE(error.ClosedByController()) << error.what();
        EXPECT_FALSE(error.NotSent()) << error.what();
    }
    EXPECT_TRUE(this->backend.machine->Output(3));
    EXPECT_FALSE(this->backend.machine->Output(4));
}

}  // namespace
}  // namespace trevane
