#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/Clock.h"
#include "common/TraceFormat.h"
#include "net/TcpMotionClient.h"
#include "sim/Replay.h"
#include "sim/Simulator.h"

#ifndef _WIN32
#include <signal.h>

#include "support/ChildProcess.h"
#include "support/ScratchFolder.h"
#endif

// Trace files read back, and trevane-sim serving one.
namespace trevane::sim::testing {
namespace {

const std::string kStamp = "12/07/26 17:35:01.123\t";

std::string TraceError(const std::string& trace) {
    std::istringstream in(trace);
    try {
        ReadTrace(in);
    } catch (const trevane::TraceError& error) {
        return error.what();
    }
    return "no error";
}

TEST(TraceReadTest, AnOlderTruncatedOrDamagedTraceNamesItsLine) {
    const std::string good = kStamp + "command\tTPX\\r\t5\t:\t40\t\t\n";
    const struct {
        std::string trace;
        std::string error;
    } cases[] = {
        {good + kStamp + "command\tTPX\\r\t5\t:\t40\t\n", "line 2: written by an older Trevane"},
        {good + kStamp + "command\tTPX\\r\t5\t:\t40\n", "line 2: damaged: 6 fields, expected 8"},
        {good + good.substr(0, 30), "line 2: truncated"},
        {"12/07/26 25:35:01.123\t" + good.substr(kStamp.size()), "line 1: the time"},
        {kStamp + "status\tTPX\\r\t5\t:\t40\t\t\n", "line 1: the session 'status'"},
        {kStamp + "command\tTPX\\q\t5\t:\t40\t\t\n",
         "line 1: the request 'TPX\\q' holds an escape"},
        {kStamp + "record\tQR\\r\trecord, 9 bytes\t:\t40\t\tABCD\n",
         "line 1: the record should hold 9 bytes but 4 were recorded"},
        {kStamp + "command\tTPX\\r\t5\t:\tfast\t\t\n", "line 1: the round trip 'fast'"},
        {good + "# not a header here\n", "line 2: damaged: 1 fields"},
        {"# header\n", "the trace holds no exchanges"},
        {"", "the trace holds no exchanges"},
    };
    for (const auto& [trace, error] : cases) {
        EXPECT_EQ(TraceError(trace).rfind(error, 0), 0u) << trace << "\n" << TraceError(trace);
    }
    // A header line first, and a reply's bytes as escaped.
    std::istringstream in("# Trevane trace\n" + good + kStamp +
                          "record\tQR IXYZW\\r\trecord, 4 bytes\t:\t40\t\t\\x00\\\\\\x08\\xFF\n");
    const std::vector<TraceExchange> trace = ReadTrace(in);
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0].lineNumber, 2);
    EXPECT_EQ(trace[0].reply, "5");
    EXPECT_EQ(trace[1].kind, TraceExchange::Kind::Record);
    EXPECT_EQ(trace[1].bytes, std::string("\0\\\x08\xFF", 4));
    EXPECT_EQ(UnescapeBytes(EscapeBytes(std::string("a\r\n\t\\\x1a\xff\0z", 9))),
              std::string("a\r\n\t\\\x1a\xff\0z", 9));
}

std::shared_ptr<Replay> ReplayOf(const std::string& trace, std::shared_ptr<VirtualClock> clock,
                                 double speed = 1.0) {
    std::istringstream in(trace);
    return std::make_shared<Replay>(in, std::move(clock), speed);
}

std::string Line(const std::string& time, const std::string& rest) {
    return "12/07/26 17:35:" + time + "\t" + rest + "\n";
}

TEST(ReplayTest, RecordsFollowTheRecordedTimeScaledByTheSpeed) {
    const auto record = [](char mark) {
        return "record\tQR IXYZW\\r\trecord, 5 bytes\t:\t40\t\t\\x00\\x00\\x05\\x00" +
               std::string(1, mark);
    };
    auto clock = std::make_shared<VirtualClock>();
    const auto replay = ReplayOf(
        Line("01.000", record('a')) + Line("01.100", record('b')) + Line("01.200", record('c')),
        clock, 2.0);
    const auto session = MakeInProcessClient(replay, "127.0.0.1", 23);
    std::string seen;
    for (const int ms : {0, 30, 45, 80, 200}) {
        clock->Advance(std::chrono::milliseconds(ms) - clock->Elapsed());
        seen += session->record("QR IXYZW").back();
    }
    // At 0, 60, 90, 160 and 400 ms of recorded time.
    EXPECT_EQ(seen, "abbcc");
    EXPECT_EQ(replay->Summary(), "5 requests: 4 matched, 1 repeated, 0 unknown");
}

TEST(ReplayTest, ALostReplyStaysLostAndWhatASpentSessionNeverSentIsSkipped) {
    auto clock = std::make_shared<VirtualClock>();
    const auto replay =
        ReplayOf(Line("01.000", "command\tTPX\\r\t1\t:\t40\t\t") +
                     Line("01.100", "command\tTPX\\r\t\t\t1000000\tno reply in time\t") +
                     Line("02.100",
                          "command\tTPX\\r\t\t\t3\tcannot send 'TPX': the session to "
                          "127.0.0.1:23 is spent (no reply in time)\t") +
                     Line("03.000", "command\tTPX\\r\t4\t:\t40\t\t") +
                     Line("03.100", "command\tSH\\rTPY\\r\t17\t:\t40\t\t"),
                 clock);
    auto session = MakeInProcessClient(replay, "127.0.0.1", 23);
    EXPECT_EQ(session->command("TPX", "\r", ":", true), "1");
    EXPECT_THROW(session->command("TPX", "\r", ":", true), MotionError);
    session = MakeInProcessClient(replay, "127.0.0.1", 23);
    EXPECT_EQ(session->command("TPX", "\r", ":", true), "4");
    // Two lines in one request: one acknowledgement each, the replies joined.
    EXPECT_EQ(session->command("SH\rTPY", "\r", ":", true), "17");
    EXPECT_EQ(replay->Counts().unknown, 0u);
}

// What the site's client wrote when its controller closed the connection under a request.
const std::string kClosedUnderTpy =
    "command\tTPY\\r\t\t\t12\tconnection to 127.0.0.1:23 closed the connection while waiting "
    "for the reply to 'TPY'\t";

// A connection the site's controller closed is closed in the replay too: the replaying client
// learns what the site's did, not that a reply was late.
TEST(ReplayTest, AConnectionTheControllerClosedIsClosedAgainNotLeftSilent) {
    auto clock = std::make_shared<VirtualClock>();
    const auto replay =
        ReplayOf(Line("01.000", "command\tTPX\\r\t1\t:\t40\t\t") + Line("01.100", kClosedUnderTpy) +
                     Line("01.200", "command\tTPY\\r\t2\t:\t40\t\t"),
                 clock);
    auto session = MakeInProcessClient(replay, "127.0.0.1", 23);
    EXPECT_EQ(session->command("TPX", "\r", ":", true), "1");
    try {
        session->command("TPY", "\r", ":", true);
        ADD_FAILURE() << "TPY was answered";
    } catch (const MotionError& error) {
        EXPECT_TRUE(error.ClosedByController()) << error.what();
        EXPECT_FALSE(error.TimedOut()) << error.what();
        EXPECT_THAT(error.what(), ::testing::HasSubstr("closed the connection"));
    }
    EXPECT_LT(clock->Elapsed(), std::chrono::seconds(1)) << "no reply timeout waited out";
    session = MakeInProcessClient(replay, "127.0.0.1", 23);
    EXPECT_EQ(session->command("TPY", "\r", ":", true), "2") << "the site's next session";
}

// A test asking more often than the trace recorded: accepted and rejected replies alike are
// served again from their last, so the session stays in step and "TC1" still knows why.
TEST(ReplayTest, PastItsRecordedRepliesEachRequestGetsItsLastOneAgain) {
    const std::string trace = Line("01.000", "command\tTPY\\r\t10\t:\t40\t\t") +
                              Line("01.010", "command\tTPY\\r\t20\t:\t40\t\t") +
                              Line("01.020", "command\tMG _CN\\r\t-1.0000\t:\t40\t\t") +
                              Line("01.030", "command\tFOO\\r\t\t?\t90\t7 Command rejected\t");
    for (const bool streamed : {false, true}) {
        SCOPED_TRACE(streamed ? "streamed" : "read whole");
        auto clock = std::make_shared<VirtualClock>();
        std::istringstream in(trace);
        const auto replay = streamed ? std::make_shared<Replay>(in, clock)
                                     : std::make_shared<Replay>(ReadTrace(in), clock);
        const auto session = MakeInProcessClient(replay, "127.0.0.1", 23);
        std::vector<std::string> replies;
        for (int i = 0; i < 4; ++i) {
            replies.push_back(session->command("TPY", "\r", ":", true));
        }
        EXPECT_EQ(replies, (std::vector<std::string>{"10", "20", "20", "20"}));
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(session->command("MG _CN", "\r", ":", true), "-1.0000") << i;
            try {
                session->command("FOO", "\r", ":", true);
                ADD_FAILURE() << "FOO was accepted";
            } catch (const MotionError& error) {
                EXPECT_EQ(error.ControllerReason(), "7 Command rejected") << i;
            }
        }
        const ReplayCounts counts = replay->Counts();
        EXPECT_EQ(counts.repeated, 4u);
        EXPECT_EQ(counts.unknown, 0u);
    }
}

// `count` record polls 10 ms apart, each record different from the one before.
std::string RecordPolls(int count) {
    std::string trace;
    std::string record(152, '\0');
    record[2] = static_cast<char>(152);
    for (int i = 0; i < count; ++i) {
        record[100] = static_cast<char>(i);
        char time[16];
        std::snprintf(time, sizeof time, "%02d.%03d", i / 100 % 60, i % 100 * 10);
        trace += Line(time, "record\tQR IXYZW\\r\trecord, 152 bytes\t:\t40\t\t" +
                                EscapeBytes(record));
    }
    return trace;
}

TEST(ReplayTest, ATraceOverTheBoundIsRefusedAtTheLineItReachedAndReadNoFurther) {
    const std::string trace = RecordPolls(2000);
    std::istringstream in(trace);
    try {
        Replay replay(in, std::make_shared<VirtualClock>(), 1.0, 64 * 1024);
        ADD_FAILURE() << "a trace of " << replay.HeldBytes() << " bytes held was taken";
    } catch (const trevane::TraceError& error) {
        const std::string what = error.what();
        // Spelled out: no regular expression reads the same on Linux and in the Windows build.
        EXPECT_THAT(what, ::testing::StartsWith("line "));
        EXPECT_THAT(what, ::testing::EndsWith(
                              ": the trace is too large to replay: it would take more than 65536 "
                              "bytes of memory; replay a shorter part of it"));
        const std::string number = what.substr(5, what.find(':') - 5);
        EXPECT_TRUE(!number.empty() && number.find_first_not_of("0123456789") == std::string::npos)
            << what;
    }
    EXPECT_LT(static_cast<std::size_t>(in.tellg()), trace.size() / 2);

    // Within the bound the same trace is served, and holds little more than its records.
    std::istringstream whole(trace);
    Replay replay(whole, std::make_shared<VirtualClock>());
    EXPECT_EQ(replay.Exchanges(), 2000u);
    EXPECT_LT(replay.HeldBytes(), Replay::kMaxHeldBytes);
}

// A controller standing still answers every poll alike; a long trace of it holds one copy.
TEST(ReplayTest, RepeatedRepliesAreKeptOnce) {
    const std::string reply(200, 'x');
    std::string trace;
    for (int i = 0; i < 20000; ++i) {
        trace += Line("01.000", "command\tTPX\\r\t" + reply + "\t:\t40\t\t");
    }
    std::istringstream in(trace);
    const auto replay = std::make_shared<Replay>(in, std::make_shared<VirtualClock>());
    EXPECT_LT(replay->HeldBytes(), 20000 * reply.size() / 2);
    const auto session = MakeInProcessClient(replay, "127.0.0.1", 23);
    EXPECT_EQ(session->command("TPX", "\r", ":", true), reply);
}

// Records come back in time order even when the trace has them out of it, and a trace read
// whole answers as one read line by line.
TEST(ReplayTest, ARecordedListAndAStreamAnswerAlike) {
    const auto record = [](char mark) {
        return "record\tQR IXYZW\\r\trecord, 5 bytes\t:\t40\t\t\\x00\\x00\\x05\\x00" +
               std::string(1, mark);
    };
    const std::string trace = Line("01.200", record('c')) + Line("01.000", record('a')) +
                              Line("01.100", record('b')) +
                              Line("01.300", "command\tTPX\\r\t7\t:\t40\t\t");
    for (const bool streamed : {false, true}) {
        auto clock = std::make_shared<VirtualClock>();
        std::istringstream in(trace);
        const auto replay = streamed ? std::make_shared<Replay>(in, clock)
                                     : std::make_shared<Replay>(ReadTrace(in), clock);
        const auto session = MakeInProcessClient(replay, "127.0.0.1", 23);
        std::string seen;
        for (const int ms : {0, 100, 200}) {
            clock->Advance(std::chrono::milliseconds(ms) - clock->Elapsed());
            seen += session->record("QR IXYZW").back();
        }
        EXPECT_EQ(seen, "abc") << streamed;
        EXPECT_EQ(session->command("TPX", "\r", ":", true), "7") << streamed;
    }
}

#ifndef _WIN32

class ReplayProcess : public ::testing::Test {
  protected:
    std::string Write(const std::string& trace) {
        const std::string path = (scratch_.Path() / "trace.txt").string();
        std::ofstream(path, std::ios::binary) << trace;
        return path;
    }

    trevane::testing::ScratchFolder scratch_{"trevane-replay"};
};

// The record's header gives its length (8) in bytes 2 and 3.
const std::string kTrace =
    kStamp + "command\t\\x12\\x16\\r\t127.0.0.1:5023 Recorded controller 2.0\t:\t30\t\t\n" +
    kStamp + "command\tTPX\\r\t5\t:\t40\t\t\n" + kStamp + "command\tTPX\\r\t7\t:\t40\t\t\n" +
    kStamp + "command\tFOO\\r\t\t?\t90\t7 Command rejected\t\n" + kStamp +
    "record\tQR IXYZW\\r\trecord, 8 bytes\t:\t40\t\t\\x00\\x00\\x08\\x00ABCD\n";

TEST_F(ReplayProcess, ServesTheRecordedRepliesAndCountsWhatItCouldNot) {
    trevane::testing::ChildProcess sim(TREVANE_SIM_PATH,
                                       {"--replay", Write(kTrace), "--port", "0"});
    ASSERT_TRUE(sim.WaitForOutput("listening on 127.0.0.1:", std::chrono::seconds(10)))
        << sim.Errors();
    ASSERT_TRUE(sim.WaitForOutput("\n", std::chrono::seconds(10)));
    const std::string out = sim.Output();
    const std::size_t colon = out.rfind(':');
    const auto port = static_cast<std::uint16_t>(std::stoi(out.substr(colon + 1)));
    {
        TcpMotionClient session("127.0.0.1", port);
        EXPECT_EQ(session.connection(),
                  "127.0.0.1:" + std::to_string(port) + " Recorded controller 2.0");
        EXPECT_EQ(session.command("TPX", "\r", ":", true), "5");
        EXPECT_EQ(session.command("TPX", "\r", ":", true), "7");
        EXPECT_EQ(session.command("TPX", "\r", ":", true), "7");  // run out: the last again
        try {
            session.command("FOO", "\r", ":", true);
            ADD_FAILURE() << "FOO was accepted";
        } catch (const MotionError& error) {
            EXPECT_EQ(error.ControllerReason(), "7 Command rejected");
        }
        try {
            session.command("BAR", "\r", ":", true);
            ADD_FAILURE() << "BAR was accepted";
        } catch (const MotionError& error) {
            EXPECT_EQ(error.ControllerReason(), "1 Unrecognized command");
        }
        EXPECT_EQ(session.record("QR IXYZW"), std::vector<char>({0, 0, 8, 0, 'A', 'B', 'C', 'D'}));
    }
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.WaitForExit(), 0) << sim.Errors();
    // The two "TC1" that the client asked after each "?" are answered from the trace.
    EXPECT_NE(sim.Output().find("replayed 9 requests: 7 matched, 1 repeated, 1 unknown\n"
                                "unknown request: BAR\n"),
              std::string::npos)
        << sim.Output();
}

TEST_F(ReplayProcess, ADamagedTraceIsRefusedNamingTheFileAndLine) {
    const std::string path = Write(kTrace + kStamp + "command\tTPX\\r\t5\t:\n");
    const trevane::testing::ProgramRun run =
        trevane::testing::RunProgram(TREVANE_SIM_PATH, {"--replay", path, "--port", "0"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err,
              "trevane-sim: --replay '" + path + "': line 6: damaged: 5 fields, expected 8\n");
    EXPECT_EQ(run.out, "");
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"--replay", path, "--fault", "stall:Y"},
                                               {"--replay-speed", "2"},
                                               {"--replay", path, "--replay-speed", "0"}}) {
        EXPECT_EQ(trevane::testing::RunProgram(TREVANE_SIM_PATH, arguments).exitCode, 2)
            << arguments.back();
    }
}

#endif

}  // namespace
}  // namespace trevane::sim::testing
