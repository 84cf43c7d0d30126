#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "common/RecordLayout.h"
#include "link/ScriptedPeer.h"
#include "net/TcpMotionClient.h"

namespace trevane {
namespace {

using testing::ControllerScript;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::PeerReply;
using testing::ScriptedPeer;

// Short limits keep the timeout cases quick.
constexpr TcpTimeouts kQuick{std::chrono::milliseconds(1000), std::chrono::milliseconds(150),
                             std::chrono::milliseconds(300)};

std::string RecordOfLength(std::size_t length) {
    std::string bytes(length, '\0');
    for (std::size_t i = 4; i < length; ++i) {
        bytes[i] = static_cast<char>(i);  // every byte value, ":" and "?" included
    }
    bytes[record::kLengthOffset] = static_cast<char>(length & 0xFF);
    bytes[record::kLengthOffset + 1] = static_cast<char>(length >> 8);
    return bytes;
}

std::optional<PeerReply> Answers(const std::string& request) {
    if (request == "TPX") {
        return PeerReply{" 1234\r\n:"};
    }
    if (request == "TPY") {
        return PeerReply{"-5\r\n:"};
    }
    if (request == "QR IXYZW") {
        return PeerReply{RecordOfLength(record::kMinimumSize) + ":"};
    }
    if (request == "WT") {
        return std::nullopt;  // never answers
    }
    if (request == "CUT") {
        return PeerReply{"12", true};  // closes in the middle of its reply
    }
    if (request == "LS") {
        return PeerReply{std::string(kMaxReplyBytes + 1, 'a') + "\r\n:"};
    }
    if (request.rfind("ECHO", 0) == 0) {
        return PeerReply{request + "\r\n:"};
    }
    return PeerReply{"?"};
}

class TcpMotionClientTest : public ::testing::Test {
  protected:
    std::unique_ptr<TcpMotionClient> Open() {
        return std::make_unique<TcpMotionClient>("127.0.0.1", peer.Port(), kQuick);
    }

    ScriptedPeer peer{ControllerScript(Answers)};
};

TEST_F(TcpMotionClientTest, ACommandGivesUpAfterTheReplyTimeNotTheUploadTime) {
    // The shipped limits: 1 s for a reply, 10 s for a program upload.
    const TcpTimeouts shipped{};
    ASSERT_LT(shipped.reply * 5, shipped.upload);
    TcpMotionClient client("127.0.0.1", peer.Port(), shipped);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(client.command("WT"), MotionError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5))
        << "a silent peer held a command for the upload's time";
}

TEST_F(TcpMotionClientTest, PeerClosingMidReplySpendsTheSession) {
    auto client = Open();
    try {
        client->command("CUT");
        FAIL() << "a cut reply returned";
    } catch (const MotionError& error) {
        EXPECT_THAT(error.what(), HasSubstr("'CUT'"));
    }
    EXPECT_THROW(client->command("TPX"), MotionError);
    EXPECT_THAT(peer.Requests(), ElementsAre("CUT"));
}

TEST_F(TcpMotionClientTest, ReplyOverOneMebibyteThrows) {
    auto client = Open();
    try {
        client->command("LS");
        FAIL() << "an oversized reply returned";
    } catch (const MotionError& error) {
        EXPECT_THAT(error.what(), HasSubstr("longer than 1048576 bytes"));
    }
    // The rest of that reply is still on its way: the session cannot be trusted any more.
    EXPECT_THROW(client->command("TPX"), MotionError);
}

// Unasked bytes may be the late answer to the request before: the session is out of step, and
// the request that found them is not sent on it.
TEST_F(TcpMotionClientTest, BytesArrivingBetweenRequestsPutTheSessionOutOfStep) {
    auto client = Open();
    EXPECT_EQ(client->command("TPX"), "1234");
    peer.PushToAll("unasked\r\n:?");
    try {
        client->command("TPY");
        FAIL() << "a request was answered on a session out of step";
    } catch (const MotionError& error) {
        EXPECT_TRUE(error.OutOfStep());
        EXPECT_THAT(error.what(), HasSubstr("'unasked\\r\\n:?' came from 127.0.0.1:"));
        EXPECT_THAT(error.what(), HasSubstr("'TPY' was not sent"));
    }
    try {
        client->command("TPZ");
        FAIL() << "a session out of step was used again";
    } catch (const MotionError& error) {
        EXPECT_TRUE(error.OutOfStep());
    }
    EXPECT_THAT(peer.Requests(), ElementsAre("TPX"));
}

TEST_F(TcpMotionClientTest, ConnectionNamesAddressPortAndIdentity) {
    auto client = Open();
    EXPECT_EQ(client->connection(),
              "127.0.0.1:" + std::to_string(peer.Port()) + " " + testing::kPeerIdentity);
    EXPECT_THAT(peer.Requests(), ElementsAre("\x12\x16"));
}

TEST_F(TcpMotionClientTest, RecordReturnsExactlyTheRecordsBytes) {
    auto client = Open();
    const std::vector<char> record = client->record("QR IXYZW");
    const std::string expected = RecordOfLength(record::kMinimumSize);
    EXPECT_EQ(std::string(record.begin(), record.end()), expected);
    EXPECT_EQ(client->command("TPY"), "-5");
}

TEST_F(TcpMotionClientTest, ExchangesFromTwoThreadsStayPaired) {
    auto client = Open();
    auto exchange = [&client](const std::string& prefix, int* mismatches) {
        for (int i = 0; i < 100; ++i) {
            const std::string line = prefix + std::to_string(i);
            if (client->command(line) != line) {
                ++*mismatches;
            }
        }
    };
    int first = 0;
    int second = 0;
    std::thread other(exchange, "ECHO a", &first);
    exchange("ECHO b", &second);
    other.join();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(peer.Requests().size(), 200u);
}

TEST(TcpMotionClientOpenTest, AddressMustBeDottedIpv4) {
    for (const char* address : {"localhost", "127.0.0", "127.0.0.1 ", "127.0.0.256", ""}) {
        try {
            TcpMotionClient client(address, 23, kQuick);
            FAIL() << "opened a session to '" << address << "'";
        } catch (const MotionError& error) {
            EXPECT_THAT(error.what(), HasSubstr("'" + std::string(address) + "'"));
        }
    }
}

TEST(TcpMotionClientOpenTest, RefusedConnectionNamesTheEndpoint) {
    const std::uint16_t port = testing::UnusedLoopbackPort();
    try {
        TcpMotionClient client("127.0.0.1", port, kQuick);
        FAIL() << "connected to a port where nothing listens";
    } catch (const MotionError& error) {
        EXPECT_THAT(error.what(), HasSubstr("127.0.0.1:" + std::to_string(port)));
    }
}

TEST(TcpMotionClientOpenTest, FactoryOpensSessionsOnItsPort) {
    ScriptedPeer peer(ControllerScript());
    SessionFactory factory = MakeTcpSessionFactory(peer.Port(), kQuick);
    std::shared_ptr<MotionClient> session = factory("127.0.0.1");
    EXPECT_EQ(session->command("HX"), "");
    EXPECT_EQ(peer.ConnectionsAccepted(), 1);
}

}  // namespace
}  // namespace trevane
