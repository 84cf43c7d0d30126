#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "common/CLocale.h"
#include "common/Clock.h"
#include "common/RecordLayout.h"
#include "link/ControllerLink.h"
#include "link/Operator.h"
#include "net/TcpMotionClient.h"
#include "sim/Simulator.h"
#include "support/ControllerUnderTest.h"
#include "support/SpyWindow.h"
#include "traffic/TrafficRecorder.h"

namespace trevane {
namespace {

using namespace trevane::testing;
using ::testing::HasSubstr;

// The link end to end: Connect and SendCommand over TCP to the simulated controller's server.
class SimulatorLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetWindow(window);
        SetSessionFactory(MakeTcpSessionFactory(server.Port()));
    }

    std::shared_ptr<sim::Machine> machine =
        std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    sim::Server server{machine, "127.0.0.1", 0};
    std::shared_ptr<testing::SpyWindow> window = std::make_shared<testing::SpyWindow>();
    testing::ControllerGuard controller_;
};

TEST_F(SimulatorLinkTest, ConnectAndExchangeCommands) {
    OnConnect();
    ASSERT_TRUE(Connected());
    EXPECT_EQ(window->Transcript(),
              "127.0.0.1:" + std::to_string(server.Port()) + " " + sim::kIdentityLine + "\r\n");
    EXPECT_EQ(SendCommand("SH"), "");
    EXPECT_EQ(SendCommand("DP0,0,0,0"), "");
    EXPECT_EQ(ReadNumber(SendCommand("TPX")), 0.0f);
    EXPECT_EQ(window->ScrollCount(), 0);

    EXPECT_EQ(SendCommand("NOT A COMMAND"), "");
    EXPECT_THAT(window->Transcript(), HasSubstr("a command error occurred\r\n"));
}

// The recorder sits between Connect and the client: every exchange of both sessions shows, a
// rejection with the controller's own reason, a failure with what failed.
TEST_F(SimulatorLinkTest, TrafficHoldsEachExchangeWithItsReasonAndEveryFailure) {
    SetSessionFactory(
        MakeTcpSessionFactory(server.Port(), {.reply = std::chrono::milliseconds(300)}));
    Traffic().Clear();
    const std::uint64_t before = Traffic().LastSequence();
    OnConnect();
    ASSERT_TRUE(Connected());
    EXPECT_EQ(SendCommand("NOT A COMMAND"), "");
    const std::vector<char> record = Link().RecordSession()->record("QR IXYZW");
    machine->AddFault(sim::ParseFault("silent"));
    EXPECT_EQ(SendCommand("TPX"), "");

    const std::vector<TrafficEntry> entries = Traffic().Since(before);
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(FormatTrafficLine(entries[0]).substr(21),
              "\tcommand\tHX\\r\t\t:\t" + std::to_string(entries[0].microseconds) + "\t");
    EXPECT_EQ(entries[1].request, "\\x12\\x16\\r");
    EXPECT_EQ(entries[1].reply,
              "127.0.0.1:" + std::to_string(server.Port()) + " " + sim::kIdentityLine);

    const TrafficEntry& rejected = entries[2];
    EXPECT_EQ(rejected.request, "NOT A COMMAND\\r");
    EXPECT_EQ(rejected.acknowledgement, "?");
    EXPECT_EQ(rejected.reason, "1 Unrecognized command");
    // The operator still sees only the fixed line.
    EXPECT_THAT(window->Transcript(), ::testing::EndsWith("\r\na command error occurred\r\n"));

    EXPECT_STREQ(entries[3].session, "record");
    EXPECT_EQ(entries[3].reply, "record, " + std::to_string(record.size()) + " bytes");
    EXPECT_EQ(Traffic().RecordPolls(), 1u);

    const TrafficEntry& timeout = entries[4];
    EXPECT_EQ(timeout.request, "TPX\\r");
    EXPECT_EQ(timeout.acknowledgement, "");
    EXPECT_THAT(timeout.reason, HasSubstr("TPX"));
    EXPECT_TRUE(timeout.Failed());
    EXPECT_EQ(Traffic().LastError(), timeout.reason);
    EXPECT_EQ(Traffic().LastFailure()->sequence, timeout.sequence);
}

// The box keeps its fixed text; the core keeps the step, the address and port and what failed.
TEST_F(SimulatorLinkTest, AFailedConnectKeepsItsReasonUntilTheNextConnectSucceeds) {
    std::uint16_t freePort = 0;
    {
        sim::Server closed{machine, "127.0.0.1", 0};
        freePort = closed.Port();
    }
    SetSessionFactory(MakeTcpSessionFactory(freePort));
    OnConnect();
    ASSERT_FALSE(Connected());
    ASSERT_EQ(window->Messages().size(), 1u);
    EXPECT_EQ(window->Messages()[0].text, "Connection Failed");
    EXPECT_THAT(Link().LastConnectFailure(),
                ::testing::StartsWith("opening the command session: cannot connect to 127.0.0.1:" +
                                      std::to_string(freePort) + ": "));

    machine->AddFault(sim::ParseFault("silent"));
    SetSessionFactory(
        MakeTcpSessionFactory(server.Port(), {.reply = std::chrono::milliseconds(200)}));
    OnConnect();
    ASSERT_FALSE(Connected());
    EXPECT_THAT(Link().LastConnectFailure(),
                ::testing::StartsWith("asking the controller for its identity: "));
    EXPECT_THAT(Link().LastConnectFailure(), HasSubstr(std::to_string(server.Port())));

    machine->ClearFaults();
    SetSessionFactory(MakeTcpSessionFactory(server.Port()));
    OnConnect();
    ASSERT_TRUE(Connected());
    EXPECT_EQ(Link().LastConnectFailure(), "");
}

TEST(TrafficRecorder, KeepsTheNewestTenThousandAndOneRecordPollASecondPlusEveryFailedOne) {
    TrafficRecorder recorder;
    const auto start = std::chrono::system_clock::time_point{} + std::chrono::hours(24);
    auto poll = [&](int ms, bool ok) {
        TrafficEntry entry;
        entry.session = "record";
        entry.time = start + std::chrono::milliseconds(ms);
        entry.acknowledgement = ok ? ":" : "";
        recorder.Add(entry);
    };
    for (int ms = 0; ms < 3000; ms += 10) {
        poll(ms, ms != 1500);
    }
    EXPECT_EQ(recorder.RecordPolls(), 300u);
    std::vector<TrafficEntry> kept = recorder.Snapshot();
    ASSERT_EQ(kept.size(), 4u);  // at 0, 1000, 2000 and the failed one at 1500
    EXPECT_EQ(kept[2].time - kept[1].time, std::chrono::milliseconds(500));
    EXPECT_TRUE(kept[2].Failed());

    for (int i = 0; i < 10005; ++i) {
        TrafficEntry entry;
        entry.request = "SH" + std::to_string(i);
        entry.acknowledgement = ":";
        recorder.Add(entry);
    }
    kept = recorder.Snapshot();
    ASSERT_EQ(kept.size(), TrafficRecorder::kCapacity);
    EXPECT_EQ(kept.front().request, "SH5");
    EXPECT_EQ(recorder.Since(recorder.LastSequence() - 2).size(), 2u);
    // A failure that has left the list is still the last error.
    EXPECT_EQ(recorder.LastFailure()->sequence, 151u);
}

TEST(TrafficRecorder, EscapesEveryByteThatCouldBreakALine) {
    EXPECT_EQ(EscapeBytes(std::string("a\r\n\t\\\x1a\xff\0z", 9)),
              "a\\r\\n\\x09\\\\\\x1A\\xFF\\x00z");
    TrafficEntry entry;
    entry.reason = "bad\tline\n";
    EXPECT_THAT(FormatTrafficLine(entry), ::testing::EndsWith("\t\t0\tbad\\x09line\\n"));
}

}  // namespace
}  // namespace trevane
