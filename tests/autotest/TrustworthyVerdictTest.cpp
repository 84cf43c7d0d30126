#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "AutotestHarness.h"
#include "autotest/TestLog.h"
#include "autotest/TestRunner.h"
#include "history/History.h"
#include "history/StoreTest.h"
#include "link/ControllerLink.h"
#include "net/TcpMotionClient.h"
#include "report/TestReport.h"
#include "report/TestVerdict.h"
#include "sim/Simulator.h"
#include "support/ScratchFolder.h"

// Verdicts of tests whose readings failed or whose link went away, against the simulated
// controller over loopback TCP, in virtual time.
namespace trevane::autotest_testing {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

using trevane::testing::ReadFile;

constexpr const char* kLinkLostEntry = "Test Aborted: the link to the controller was lost";

class TrustworthyVerdict : public AutotestFixture {
  protected:
    void SetUp() override {
        AutotestFixture::SetUp();
        DropController();
        History().SetEnabled(true);
    }
    void TearDown() override {
        AutotestFixture::TearDown();
        server_.reset();
    }

    // A new machine served on loopback, with `fault` when given, and a Connect to it.
    // The same port every time: the history knows one controller by address, port and identity.
    void ServeAndConnect(const std::string& fault = {}) {
        const auto port = server_ ? server_->Port() : 0;
        CloseLink();
        server_.reset();
        machine_ = std::make_shared<sim::Machine>(clock_);
        if (!fault.empty()) {
            machine_->AddFault(sim::ParseFault(fault));
        }
        server_ = std::make_unique<sim::Server>(machine_, "127.0.0.1", port);
        SetSessionFactory(MakeTcpSessionFactory(server_->Port()));
        window_->SetAddress("127.0.0.1");
        OnConnect();
        ASSERT_TRUE(Connected());
    }

    std::string Verdict() const {
        const std::optional<TestVerdict> verdict = LastTestVerdict();
        return verdict ? VerdictLine(*verdict) : std::string("(none)");
    }

    std::string StoredOutcome() const {
        history::History stored(history::kHistoryFileName, history::History::Access::Read);
        const std::vector<history::StoredTest> last = stored.LastTests(1);
        return last.empty() ? std::string("(none)") : last.back().outcome;
    }

    std::shared_ptr<sim::Machine> machine_;
    std::unique_ptr<sim::Server> server_;
};

// The 0-based position, among the command session's requests of a clean test, of the
// `occurrence`-th `command` (from 0), plus `later`.
int RequestIndex(const std::vector<sim::ReceivedCommand>& received, const std::string& command,
                 int later) {
    const int session = received.front().session;
    int index = 0;
    for (const sim::ReceivedCommand& line : received) {
        if (line.session != session) {
            continue;
        }
        if (line.line == command) {
            return index + later;
        }
        ++index;
    }
    return -1;
}

struct DropPoint {
    const char* name;
    const char* command;  // the first command at or before the cut
    int later;            // requests after it
    const char* stage;
    const char* motors;       // what the reading after the stop said of the motors
    const char* settledAxes;  // what the verdict still tells after the loss
    int movingAxis;           // the axis under way at the cut, -1 for none
};

// The link is cut in the middle of an exchange at three points; each time the test ends at that
// exchange, logs our entry last, stops the axes on a new session and reads the motors there,
// and the next clean test is not flagged.
TEST_F(TrustworthyVerdict, ALostLinkEndsTheTestStopsTheAxesAndTeachesTheHistoryNothing) {
    ServeAndConnect();
    RunWholeTest();
    const std::vector<sim::ReceivedCommand> clean = machine_->Received();
    const DropPoint points[] = {
        {"the checks", "MG _CN", 1, "the checks", "the motors read switched off.", "", -1},
        {"X's first move", "PAX=-20000", 61, "X's move to -20000",
         "the motors are still switched on.", "", 0},
        {"Z's second move", "PAZ=0", 121, "Z's move to 0", "the motors are still switched on.",
         " X passed, Y passed. X, Y, Z: no baseline yet.", 2},
    };
    for (const DropPoint& point : points) {
        SCOPED_TRACE(point.name);
        const int drop = RequestIndex(clean, point.command, point.later);
        ASSERT_GT(drop, 0);
        ServeAndConnect("cut:" + std::to_string(drop));
        window_->EditTranscript({});
        RunWholeTest();

        EXPECT_EQ(Verdict(), "Test result: link lost during " + std::string(point.stage) +
                                 "; the stop (AB1) was sent on a new session; " + point.motors +
                                 point.settledAxes + " Report: none");
        EXPECT_EQ(LastTestVerdict()->kind, TestVerdict::Kind::LinkLost);
        EXPECT_FALSE(TestState().running);
        // One error line, for the exchange that found the session gone; none after it.
        const std::string transcript = window_->Transcript();
        EXPECT_EQ(std::count(transcript.begin(), transcript.end(), '\n'), 2) << transcript;
        // The tests of this fixture share one log: this test's entries follow its start.
        std::vector<std::string> entries = SplitLogEntries(LogBytes());
        entries.erase(entries.begin(),
                      std::find(entries.rbegin(), entries.rend(), "Starting Test\r\n").base());
        EXPECT_EQ(entries.back(), std::string(kLinkLostEntry) + "\r\n");
        EXPECT_EQ(std::count(entries.begin(), entries.end(), entries.back()), 1);
        EXPECT_EQ(StoredOutcome(), "link_lost");

        // The fresh session sent "AB1", then read the motors and nothing else; what moved
        // stands, stopped by it.
        const std::vector<sim::ReceivedCommand> received = machine_->Received();
        ASSERT_GE(received.size(), 5u);
        const std::vector<std::string> last{received[received.size() - 4].line,
                                            received[received.size() - 3].line,
                                            received[received.size() - 2].line,
                                            received.back().line};
        EXPECT_EQ(last, (std::vector<std::string>{"AB1", "MG _MOX", "MG _MOY", "MG _MOZ"}));
        EXPECT_EQ(received[received.size() - 4].session, received.back().session);
        EXPECT_NE(received.back().session, received.front().session);
        clock_->SleepFor(3s, {});
        for (int axis = 0; axis < 3; ++axis) {
            const sim::AxisState state = machine_->ReadAxis(axis);
            EXPECT_FALSE(state.moving) << axis;
            if (axis == point.movingAxis) {
                EXPECT_EQ(state.stopCode, sim::kStopAborted) << axis;
            }
        }
    }
    ServeAndConnect();
    RunWholeTest();
    EXPECT_EQ(LastTestVerdict()->kind, TestVerdict::Kind::Passed) << Verdict();
    ASSERT_TRUE(History().Last());
    EXPECT_TRUE(History().Last()->flags.empty());
}

// Readings that never arrived make the axis unverified, never passed; three such tests leave
// the axis without a baseline instead of a zero one that would flag the next clean test.
TEST_F(TrustworthyVerdict, FailedReadingsMakeTheAxisUnverifiedAndAreNoBaseline) {
    SetTestReportEnabled(true);
    for (int run = 0; run < 3; ++run) {
        ServeAndConnect("reject:TTY");
        RunWholeTest();
        EXPECT_THAT(Verdict(), StartsWith("Test result: X passed, Y unverified (400 of 400 torque "
                                          "readings failed), Z passed."));
        EXPECT_EQ(LastTestVerdict()->kind, TestVerdict::Kind::Unverified);
        EXPECT_EQ(StoredOutcome(), "unverified");
        EXPECT_TRUE(History().Last()->flags.empty());
    }
    const std::string html = ReadFile(LastTestReport()->files.html);
    EXPECT_THAT(html, HasSubstr("<h1 class=\"headline incomplete\">INCOMPLETE: Y unverified (400 "
                                "of 400 torque readings failed)</h1>"));
    EXPECT_THAT(html, HasSubstr("<td class=\"incomplete\">unverified: 400 of 400 torque readings "
                                "failed</td>"));
    EXPECT_THAT(html, HasSubstr("<td>not compared: unverified</td>"));

    ServeAndConnect("reject:TEX");
    RunWholeTest();
    EXPECT_THAT(Verdict(), StartsWith("Test result: X unverified (400 of 400 error readings "
                                      "failed), Y passed, Z passed."));
    EXPECT_THAT(Verdict(), Not(HasSubstr("X passed")));

    ServeAndConnect();
    RunWholeTest();
    const std::optional<history::StoreResult> stored = History().Last();
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->flags.empty());
    EXPECT_THAT(stored->noBaseline, ElementsAre('Y'));
    EXPECT_THAT(Verdict(),
                EndsWith("Z passed. Y: no baseline yet. Report: " +
                         std::filesystem::path(LastTestReport()->files.html).filename().string()));
    EXPECT_THAT(ReadFile(LastTestReport()->files.html), StartsWith("<!DOCTYPE html>"));
}

// Opens sessions on the server for Connect, then none: every later call waits until released.
class UnreachableAfterConnect {
  public:
    explicit UnreachableAfterConnect(SessionFactory connect) : connect_(std::move(connect)) {}
    SessionFactory Factory() {
        return [this](const std::string& address) -> std::shared_ptr<MotionClient> {
            std::unique_lock lock(mutex_);
            if (opened_ < 2) {
                ++opened_;
                lock.unlock();
                return connect_(address);
            }
            attemptStarted_ = std::chrono::steady_clock::now();
            changed_.wait_for(lock, 10s, [this] { return released_; });
            throw MotionError("cannot connect to " + address + ": unreachable");
        };
    }
    void Release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    std::chrono::steady_clock::time_point AttemptStarted() {
        std::lock_guard lock(mutex_);
        return attemptStarted_;
    }

  private:
    SessionFactory connect_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int opened_ = 0;
    bool released_ = false;
    std::chrono::steady_clock::time_point attemptStarted_{};
};

TEST_F(TrustworthyVerdict, TheStopAttemptGivesUpWithinItsBoundAndSaysSo) {
    machine_ = std::make_shared<sim::Machine>(clock_);
    machine_->AddFault(sim::ParseFault("cut:41"));
    server_ = std::make_unique<sim::Server>(machine_, "127.0.0.1", 0);
    UnreachableAfterConnect link(MakeTcpSessionFactory(server_->Port()));
    SetSessionFactory(link.Factory());
    window_->SetAddress("127.0.0.1");
    OnConnect();
    ASSERT_TRUE(Connected());

    RunWholeTest();
    const auto ended = std::chrono::steady_clock::now();
    link.Release();
    Link().JoinStopAttempts();
    const auto gaveUpAfter = ended - link.AttemptStarted();
    // The attempt hangs until Release: the test ended because it gave up at its 2 s bound, never
    // sooner. How much later depends on the machine's load, so the upper figure is generous.
    EXPECT_LT(gaveUpAfter, 15s);
    EXPECT_GE(gaveUpAfter, 1900ms);
    EXPECT_THAT(Verdict(), HasSubstr("; the stop (AB1) could not be sent, so the machine may still "
                                     "be switched on and moving: check it before you go near "
                                     "it."));
    EXPECT_FALSE(LastTestVerdict()->stopReached);
    EXPECT_THAT(LogBytes(), EndsWith(std::string(kLinkLostEntry) + "\r\n"));
}

}  // namespace
}  // namespace trevane::autotest_testing
