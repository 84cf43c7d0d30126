#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include <gmock/gmock.h>

#include "sim/RequestFramer.h"
#include "sim/SimFixture.h"

// Faults as written on the command line, and what each does to an in-process session.
namespace trevane::sim::testing {
namespace {

using std::chrono::milliseconds;

// The manual page without its markup: "*load:*_AXIS_" reads "load:AXIS".
std::string PlainManualPage(const std::string& name) {
    std::ifstream in(std::string(TREVANE_SOURCE_DIR) + "/packaging/man/" + name);
    std::string text(std::istreambuf_iterator<char>(in), {});
    std::erase_if(text, [](char c) { return c == '*' || c == '_'; });
    return text;
}

TEST(ParseFaultTest, EveryFaultFormIsParsedShownInHelpAndInTheManualPage) {
    const std::string page = PlainManualPage("trevane-sim.1.scd");
#ifdef _WIN32
    if (page.empty()) {
        GTEST_SKIP() << "on Windows: the source tree is not reachable from here";
    }
#endif
    ASSERT_FALSE(page.empty());
    for (const FaultForm& fault : FaultForms()) {
        SCOPED_TRACE(fault.form);
        EXPECT_NO_THROW(ParseFault(fault.example));
        EXPECT_THAT(FaultHelp(), ::testing::HasSubstr(std::string("  ") + fault.form + " "));
        EXPECT_THAT(page, ::testing::HasSubstr(fault.form));
    }
}

TEST(ParseFaultTest, ReadsEveryFaultForm) {
    EXPECT_EQ(ParseFault("stall:Y").kind, Fault::Kind::Stall);
    EXPECT_EQ(ParseFault("stall:Y").axis, 1);
    EXPECT_EQ(ParseFault("torque:W").axis, 3);
    const Fault limit = ParseFault("limit:Z:forward");
    EXPECT_EQ(limit.kind, Fault::Kind::Limit);
    EXPECT_EQ(limit.axis, 2);
    EXPECT_TRUE(limit.forward);
    EXPECT_FALSE(ParseFault("limit:X:reverse").forward);
    EXPECT_EQ(ParseFault("cn:1").value, 1);
    EXPECT_EQ(ParseFault("delay:250").value, 250);
    EXPECT_EQ(ParseFault("drop:3").value, 3);
    const Fault reject = ParseFault("reject:MG _CN");
    EXPECT_EQ(reject.kind, Fault::Kind::Reject);
    EXPECT_EQ(reject.command, "MG _CN");
    EXPECT_EQ(ParseFault("reject:PAX=-20000").command, "PAX=-20000");
    EXPECT_EQ(ParseFault("short-record").kind, Fault::Kind::ShortRecord);
    EXPECT_EQ(ParseFault("silent").kind, Fault::Kind::Silent);
    const Fault load = ParseFault("load:Y:1.6");
    EXPECT_EQ(load.kind, Fault::Kind::Load);
    EXPECT_EQ(load.axis, 1);
    EXPECT_DOUBLE_EQ(load.factor, 1.6);
    EXPECT_DOUBLE_EQ(ParseFault("load:X:10").factor, 10.0);
}

TEST(ParseFaultTest, ReadsTheFaultsOfAnAxissMechanicsAndSaysWhatIsWrongWithThem) {
    EXPECT_DOUBLE_EQ(ParseFault("gravity:W:-1.25").volts, -1.25);
    const Fault bind = ParseFault("bind:Y:-2147483648:-8000");
    EXPECT_EQ(bind.axis, 1);
    EXPECT_EQ(bind.from, -2147483648LL);
    EXPECT_EQ(bind.to, -8000);
    for (const auto& [text, why] : std::vector<std::pair<const char*, const char*>>{
             {"friction:X", "expected friction:AXIS:FACTOR"},
             {"friction:X:0.5", "from 1.0 to 10.0"},
             {"gravity:V:1", "X, Y, Z, W"},
             {"gravity:Y:1e0", "from -9.9982 to 9.9982"},
             {"bind:Y:-8000:-12000", "FROM below TO"},
             {"bind:Y:0:2147483648", "whole counts"},
             {"bind:Y:0:1.5:2", "expected bind:AXIS:FROM:TO"},
             {"backlash:X:1001", "from 1 to 1000"},
             {"noise", "expected noise:AXIS:COUNTS"},
             {"gain:X:0.05", "from 0.1 to 10.0"}}) {
        try {
            ParseFault(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const std::invalid_argument& error) {
            EXPECT_THAT(error.what(), ::testing::HasSubstr(std::string("'") + text + "'"));
            EXPECT_THAT(error.what(), ::testing::HasSubstr(why));
        }
    }
}

TEST(ParseFaultTest, RefusesUnknownFaultsNamingThem) {
    for (const char* text :
         {"",           "stall",       "stall:",     "stall:Q",    "stall:XY",    "limit:X",
          "limit:X:up", "cn:2",        "delay:-1",   "delay:x",    "delay:60001", "drop:0",
          "reject:",    "silent:1",    "Silent",     "bogus",      "load:Y",      "load:Y:",
          "load:Y:0.9", "load:Y:10.5", "load:Y:1,6", "load:Y:nan", "load:Q:2",    "load:Y:2x"}) {
        try {
            ParseFault(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const std::invalid_argument& error) {
            EXPECT_NE(std::string(error.what()).find("'" + std::string(text) + "'"),
                      std::string::npos)
                << error.what();
        }
    }
}

TEST(RequestFramerTest, CutsAtCarriageReturnsAcrossReads) {
    RequestFramer framer(16);
    std::vector<Request> requests;
    framer.Feed("SB1\rMG _C", requests);
    framer.Feed("N\r\rTP", requests);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].line, "SB1");
    EXPECT_EQ(requests[1].line, "MG _CN");
    EXPECT_EQ(requests[2].line, "");
    EXPECT_EQ(framer.Buffered(), 2u);
}

TEST(RequestFramerTest, OverlongLineIsDiscardedUpToItsCarriageReturn) {
    RequestFramer framer(8);
    std::vector<Request> requests;
    for (int i = 0; i < 1000; ++i) {
        framer.Feed("0123456789", requests);
        EXPECT_LE(framer.Buffered(), 8u);
    }
    framer.Feed("xyz\rTPX\r", requests);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[0].tooLong);
    EXPECT_TRUE(requests[0].line.empty());
    EXPECT_FALSE(requests[1].tooLong);
    EXPECT_EQ(requests[1].line, "TPX");
    framer.Feed(std::string(8, 'a') + "\r", requests);  // exactly at the limit is fine
    EXPECT_FALSE(requests.back().tooLong);
}

class InProcessFaultTest : public SimFixture {};

TEST_F(InProcessFaultTest, DelayAdvancesTheVirtualClockInsteadOfSleeping) {
    machine->AddFault(ParseFault("delay:50"));
    const auto before = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i) {
        Send("TPX");
    }
    EXPECT_EQ(clock->Elapsed(), milliseconds(5000));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
}

// Past the reply timeout, shorter than the upload's.
TEST_F(InProcessFaultTest, AnUploadOutwaitsADelayThatTimesACommandOut) {
    machine->AddFault(ParseFault("delay:1500"));
    EXPECT_NO_THROW(client->programUpload());
}

TEST_F(InProcessFaultTest, RejectAnswersThatExactCommandWithQuestionMark) {
    machine->AddFault(ParseFault("reject:MG _CN"));
    EXPECT_THROW(Send("MG _CN"), MotionError);
    EXPECT_EQ(Send("TC1"), "7 Command rejected");
    EXPECT_THROW(Send(" MG _CN "), MotionError);  // surrounding blanks do not matter
    EXPECT_THROW(Send("SB1;MG _CN"), MotionError);
    EXPECT_EQ(Send("MG _LFX"), "1.0000");  // other commands are untouched
}

TEST_F(InProcessFaultTest, OverlongRequestGetsQuestionMarkAndTheSessionStaysInStep) {
    EXPECT_THROW(Send(std::string(70 * 1024, 'A')), MotionError);
    EXPECT_EQ(Send("TC1"), "6 Request too long");
    EXPECT_EQ(Send("MG _CN"), "-1.0000");
}

TEST_F(InProcessFaultTest, UnterminatedRequestTimesOut) {
    EXPECT_THROW(client->command("SB1", "", ":", true), MotionError);
    EXPECT_EQ(clock->Elapsed(), milliseconds(1000));
}

TEST_F(InProcessFaultTest, SessionsOnManyThreadsShareOneMachine) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            auto session = MakeInProcessClient(machine);
            for (int i = 0; i < 200; ++i) {
                session->command("SB" + std::to_string(t + 1), "\r", ":", true);
                session->record("QR IXYZW");
                clock->Advance(milliseconds(1));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(machine->ReceivedCommands().size(), 800u);
    EXPECT_EQ(machine->Received().size(), 1600u);
}

}  // namespace
}  // namespace trevane::sim::testing
