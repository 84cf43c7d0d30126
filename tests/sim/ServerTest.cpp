#include <atomic>
#include <functional>
#include <mutex>
#include <random>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "net/TcpMotionClient.h"
#include "sim/RawConnection.h"
#include "sim/Simulator.h"

// The simulated controller over TCP on loopback: the protocol, and clients that misbehave.
namespace trevane::sim::testing {
namespace {

using std::chrono::milliseconds;

class ServerTest : public ::testing::Test {
  protected:
    std::shared_ptr<Machine> machine = std::make_shared<Machine>(std::make_shared<RealClock>());
    std::unique_ptr<Server> server = std::make_unique<Server>(machine, "127.0.0.1", 0);

    std::shared_ptr<MotionClient> Connect(TcpTimeouts timeouts = {}) {
        return std::make_shared<TcpMotionClient>("127.0.0.1", server->Port(), timeouts);
    }

    // The server still answers a fresh session.
    void ExpectServing() {
        auto session = Connect();
        EXPECT_EQ(session->command("MG _CN", "\r", ":", true), "-1.0000");
    }
};

TEST_F(ServerTest, RawBytesOfRepliesAndTheIdentityRequest) {
    RawConnection raw(server->Port());
    ASSERT_TRUE(raw.Write("\x12\x16\r"));
    EXPECT_EQ(raw.ReadReply(), "Trevane simulated controller, 4 axes, firmware 1.0\r\n:");
    ASSERT_TRUE(raw.Write("MG _CN\rXX\rTC1\r"));
    EXPECT_EQ(raw.ReadUntil([](const std::string& s) { return s.size() >= 36; }),
              "-1.0000\r\n:?1 Unrecognized command\r\n:");
}

TEST_F(ServerTest, OverlongRequestGetsQuestionMarkAndTheConnectionGoesOn) {
    RawConnection raw(server->Port());
    const std::string chunk(64 * 1024, 'A');
    for (int i = 0; i < 32; ++i) {  // 2 MiB without a CR
        ASSERT_TRUE(raw.Write(chunk));
    }
    ASSERT_TRUE(raw.Write("\rMG _CN\r"));
    EXPECT_EQ(raw.ReadUntil([](const std::string& s) { return s.size() >= 11; }), "?-1.0000\r\n:");
    EXPECT_EQ(machine->ReceivedCommands(), std::vector<std::string>{"MG _CN"});
}

TEST_F(ServerTest, BinaryGarbageGetsOneAcknowledgementPerLine) {
    RawConnection raw(server->Port());
    std::mt19937 random(42);
    std::string garbage;
    std::size_t lines = 0;
    for (int i = 0; i < 200000; ++i) {
        // No capital letters, so no line can turn into a real command by chance.
        auto byte = static_cast<char>(random() % 256);
        if (byte >= 'A' && byte <= 'Z') {
            byte = '\0';
        }
        lines += byte == '\r';
        garbage.push_back(byte);
    }
    garbage += "\rMG _CN\r";
    ++lines;
    ASSERT_TRUE(raw.Write(garbage));
    const std::string replies =
        raw.ReadUntil([&](const std::string& s) { return s.size() >= lines + 10; });
    ASSERT_EQ(replies.size(), lines + 10);
    EXPECT_EQ(replies.find_first_not_of(":?"), lines);
    EXPECT_EQ(replies.substr(lines), "-1.0000\r\n:");
}

TEST_F(ServerTest, ClientsThatVanishMidRequestOrMidReplyHarmNothing) {
    {
        RawConnection raw(server->Port());
        ASSERT_TRUE(raw.Write("MG _C"));
    }
    machine->SetStoredProgram(std::string(200 * 1024, 'x'));
    for (int i = 0; i < 5; ++i) {
        RawConnection raw(server->Port());
        ASSERT_TRUE(raw.Write("UL\rUL\rUL\r"));
        raw.ReadUntil([](const std::string& s) { return s.size() > 1000; });
    }
    ExpectServing();
}

TEST_F(ServerTest, SixtyFourSessionsAtOnce) {
    constexpr int kSessions = 64;
    std::vector<std::unique_ptr<RawConnection>> raws;
    for (int i = 0; i < kSessions; ++i) {
        raws.push_back(std::make_unique<RawConnection>(server->Port()));
    }
    // Every session has a request outstanding before any reply is read.
    for (int i = 0; i < kSessions; ++i) {
        ASSERT_TRUE(
            raws[static_cast<std::size_t>(i)]->Write("SB" + std::to_string(i % 16 + 1) + ";TPX\r"));
    }
    for (auto& raw : raws) {
        EXPECT_EQ(raw->ReadReply(), " 0\r\n:");
    }
    // Sixty-four threads on two cores (slower still under Wine) can hold one exchange for over a
    // second: the point is that every session is served, so the reply time is generous.
    const TcpTimeouts patient{.reply = milliseconds(8000)};
    std::mutex failuresMutex;
    std::vector<std::string> failures;
    std::vector<std::thread> threads;
    for (int t = 0; t < kSessions; ++t) {
        threads.emplace_back([&] {
            try {
                auto session = Connect(patient);
                for (int i = 0; i < 20; ++i) {
                    session->command("TPX", "\r", ":", true);
                    session->record("QR IXYZW");
                }
            } catch (const MotionError& error) {
                std::lock_guard lock(failuresMutex);
                failures.emplace_back(error.what());
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_THAT(failures, ::testing::IsEmpty());
}

TEST_F(ServerTest, ClientThatNeverReadsIsDisconnected) {
    machine->SetStoredProgram(std::string(60 * 1024, 'x'));
    RawConnection raw(server->Port());
    raw.Socket().set_option(asio::socket_base::receive_buffer_size(4096));
    // Keep asking: the server reads on while the replies pile up, until its bound closes the
    // connection and the writes fail. Without the bound this would run into the deadline.
    bool failed = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (int i = 0; !failed && std::chrono::steady_clock::now() < deadline; ++i) {
        failed = !raw.Write("UL\r", milliseconds(2000));
        if (i % 64 == 0) {
            std::this_thread::sleep_for(milliseconds(1));  // let the server catch up
        }
    }
    EXPECT_TRUE(failed);
    ExpectServing();
}

TEST_F(ServerTest, StopClosesOpenSessions) {
    RawConnection idle(server->Port());
    RawConnection busy(server->Port());
    ASSERT_TRUE(busy.Write("MG _CN\r"));
    EXPECT_EQ(busy.ReadReply(), "-1.0000\r\n:");
    server->Stop();
    EXPECT_TRUE(idle.ClosedByPeer());
    EXPECT_TRUE(busy.ClosedByPeer());
    server->Stop();  // twice is harmless
}

// Polls `condition` for up to `timeout`; true once it holds.
bool WaitFor(const std::function<bool()>& condition, milliseconds timeout = milliseconds(5000)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(milliseconds(5));
    }
    return true;
}

class ServerLimitTest : public ::testing::Test {
  protected:
    std::shared_ptr<Machine> machine = std::make_shared<Machine>(std::make_shared<RealClock>());

    std::unique_ptr<Server> Serve(milliseconds idle, std::size_t maxConnections = 256) {
        Server::Options options;
        options.idleTimeout = idle;
        options.maxConnections = maxConnections;
        return std::make_unique<Server>(machine, "127.0.0.1", 0, options);
    }
};

TEST_F(ServerLimitTest, IdleConnectionsAreClosedButNotWhileOwedAReply) {
    auto server = Serve(milliseconds(200));
    RawConnection silent(server->Port());
    EXPECT_TRUE(silent.ClosedByPeer(milliseconds(10000)));
    // Half a request does not count as a request.
    RawConnection partial(server->Port());
    ASSERT_TRUE(partial.Write("MG _C"));
    EXPECT_TRUE(partial.ClosedByPeer(milliseconds(10000)));
    // A client waiting on a slow controller is not idle: it gets its reply, then its idle time.
    machine->AddFault(ParseFault("delay:800"));
    RawConnection waiting(server->Port());
    ASSERT_TRUE(waiting.Write("MG _CN\r"));
    EXPECT_EQ(waiting.ReadReply(milliseconds(10000)), "-1.0000\r\n:");
    EXPECT_TRUE(waiting.ClosedByPeer(milliseconds(10000)));
}

TEST_F(ServerLimitTest, BadOptionsAreRefused) {
    EXPECT_THROW(Serve(milliseconds(0)), std::runtime_error);
    EXPECT_THROW(Serve(milliseconds(1000), 0), std::runtime_error);
}

TEST_F(ServerLimitTest, PastTheLimitTheLongestIdleConnectionMakesRoom) {
    auto server = Serve(milliseconds(60000), 3);
    std::vector<std::unique_ptr<RawConnection>> clients;
    for (int i = 0; i < 3; ++i) {
        // One at a time, each answered, so that the first is the longest idle.
        clients.push_back(std::make_unique<RawConnection>(server->Port()));
        ASSERT_TRUE(clients.back()->Write("MG _CN\r"));
        ASSERT_EQ(clients.back()->ReadReply(), "-1.0000\r\n:");
    }
    ASSERT_TRUE(clients[0]->Write("MG _CN\r"));  // now the first is the most recent
    ASSERT_EQ(clients[0]->ReadReply(), "-1.0000\r\n:");
    RawConnection newest(server->Port());
    ASSERT_TRUE(newest.Write("MG _CN\r"));
    EXPECT_EQ(newest.ReadReply(), "-1.0000\r\n:");
    EXPECT_TRUE(clients[1]->ClosedByPeer());
    for (const std::size_t kept : {std::size_t{0}, std::size_t{2}}) {
        ASSERT_TRUE(clients[kept]->Write("MG _CN\r"));
        EXPECT_EQ(clients[kept]->ReadReply(), "-1.0000\r\n:") << "client " << kept;
    }
}

TEST_F(ServerLimitTest, WhenEveryConnectionIsBusyTheNewOneIsRefused) {
    auto server = Serve(milliseconds(60000), 2);
    machine->AddFault(ParseFault("delay:4000"));
    RawConnection first(server->Port());
    RawConnection second(server->Port());
    // The outputs show that the server has the requests and is holding back their replies.
    ASSERT_TRUE(first.Write("SB1\r"));
    ASSERT_TRUE(second.Write("SB2\r"));
    ASSERT_TRUE(WaitFor([&] { return machine->Output(1) && machine->Output(2); }));
    RawConnection refused(server->Port());
    EXPECT_TRUE(refused.ClosedByPeer());
    EXPECT_EQ(first.ReadReply(milliseconds(10000)), ":");
    EXPECT_EQ(second.ReadReply(milliseconds(10000)), ":");
}

TEST_F(ServerLimitTest, FloodingADelayedControllerClosesOnlyTheFlooder) {
    auto server = Serve(milliseconds(60000));
    machine->AddFault(ParseFault("delay:300"));
    RawConnection flooder(server->Port());
    const std::string request = std::string(8 * 1024, 'x') + "\r";
    // Until a write fails, far past the bound: loopback buffers can take megabytes before the
    // server reads, and without the bound the server would queue all of it (or stop reading, and
    // the writes would stall instead of failing).
    bool failed = false;
    for (std::size_t sent = 0; !failed && sent < 64 * Server::kMaxQueuedRequestBytes;
         sent += request.size()) {
        failed = !flooder.Write(request, milliseconds(5000));
    }
    EXPECT_TRUE(failed);
    EXPECT_TRUE(flooder.ClosedByPeer());
    auto patient = std::make_shared<TcpMotionClient>("127.0.0.1", server->Port(), TcpTimeouts{});
    EXPECT_EQ(patient->command("MG _CN", "\r", ":", true), "-1.0000");
}

TEST(ServerBindTest, RefusesAnAddressItCannotUse) {
    auto machine = std::make_shared<Machine>(std::make_shared<RealClock>());
    EXPECT_THROW(Server(machine, "not-an-address", 0), std::runtime_error);
    Server first(machine, "127.0.0.1", 0);
    try {
        Server second(machine, "127.0.0.1", first.Port());
        ADD_FAILURE() << "bound the same port twice";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("127.0.0.1:" + std::to_string(first.Port())),
                  std::string::npos)
            << error.what();
    }
}

}  // namespace
}  // namespace trevane::sim::testing
