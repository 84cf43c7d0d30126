#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/Clock.h"
#include "sim/Simulator.h"
#include "support/ChildProcess.h"
#include "support/CliJsonDocs.h"
#include "support/JsonValue.h"
#include "support/PostgresServer.h"
#include "support/ScratchFolder.h"

// trevane-cli with a history server, as a technician runs it: the server away and back, wrong
// credentials, a password where none belongs.
namespace trevane {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::PostgresServer;
using testing::ProgramRun;

class ServerCli : public ::testing::Test {
  protected:
    void SetUp() override {
        server_ = PostgresServer::Shared();
        TREVANE_REQUIRE_POSTGRES(server_);
        url_ = server_->NewDatabase();
    }
    void TearDown() override {
        ::unsetenv("TREVANE_HISTORY");
        if (server_ != nullptr) {
            server_->Start();
            ::setenv("PGPASSFILE", server_->PassFile().c_str(), 1);
        }
    }

    ProgramRun Run(const std::vector<std::string>& arguments) {
        ProgramRun run = testing::RunProgram(TREVANE_CLI_PATH, arguments, dir_);
        everything_ += run.out + run.err;
        return run;
    }

    // An automatic test, ended by Ctrl-C once it runs: it reached the controller, so it is kept.
    ProgramRun InterruptedTest(std::vector<std::string> extra) {
        std::vector<std::string> arguments = {
            "--address", "127.0.0.1", "--port",    std::to_string(sim_.Port()),
            "--json",    "--trace",   "trace.txt", "autotest"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        ChildProcess cli(TREVANE_CLI_PATH, arguments, dir_);
        EXPECT_TRUE(cli.WaitForOutput("Starting Test", std::chrono::seconds(30)));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cli.Signal(SIGINT);
        ProgramRun run;
        run.exitCode = cli.WaitForExit(std::chrono::seconds(120));
        run.out = cli.Output();
        run.err = cli.Errors();
        everything_ += run.out + run.err;
        return run;
    }

    // What every run printed and every file it left, in one text.
    std::string EverythingWritten() const {
        std::string all = everything_;
        for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
            if (entry.is_regular_file()) {
                all += testing::ReadFile(entry.path());
            }
        }
        return all;
    }

    PostgresServer* server_ = nullptr;
    std::string url_;
    std::shared_ptr<sim::Machine> machine_ =
        std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    sim::Server sim_{machine_, "127.0.0.1", 0};
    testing::ScratchFolder scratch_{"trevane-server-cli"};
    const fs::path& dir_ = scratch_.Path();
    std::string everything_;
};

TEST_F(ServerCli, ATestWaitsLocallyWhileTheServerIsAwayAndSyncSendsItOnce) {
    server_->Stop();
    const ProgramRun test = InterruptedTest({"--history", url_});
    EXPECT_EQ(test.exitCode, 130) << "as without a server: " << test.err;
    EXPECT_THAT(test.err, HasSubstr("cannot be reached"));
    EXPECT_THAT(test.err, HasSubstr("history: kept locally, 1 test waiting for the server"));
    const std::vector<testing::JsonValue> lines = testing::ParseJsonLines(test.out);
    ASSERT_GE(lines.size(), 2u);
    const testing::JsonValue& verdict = lines[lines.size() - 2];
    EXPECT_EQ(verdict["history_waiting"].number, 1);
    EXPECT_THAT(verdict["verdict_line"].text,
                HasSubstr("history: kept locally, 1 test waiting for the server."));
    const std::string page = testing::ReadCliJsonPage(TREVANE_SOURCE_DIR);
    EXPECT_THAT(testing::UndocumentedNames(lines, testing::DocumentedJsonNames(page, "autotest")),
                ::testing::ElementsAre());

    ProgramRun sync = Run({"history", "sync", "--history", url_});
    EXPECT_EQ(sync.exitCode, 1);
    EXPECT_THAT(sync.err, HasSubstr("history: kept locally, 1 test waiting for the server"));

    server_->Start();
    sync = Run({"--json", "history", "sync", "--history", url_});
    EXPECT_EQ(sync.exitCode, 0) << sync.err;
    const std::vector<testing::JsonValue> synced = testing::ParseJsonLines(sync.out);
    ASSERT_EQ(synced.size(), 1u) << sync.out;
    EXPECT_EQ(synced[0]["sent"].number, 1);
    EXPECT_EQ(synced[0]["waiting"].number, 0);
    EXPECT_THAT(testing::UndocumentedNames(synced, testing::DocumentedJsonNames(page, "history")),
                ::testing::ElementsAre());
    EXPECT_THAT(Run({"history", "sync", "--history", url_}).out,
                HasSubstr("history sync: 0 tests sent to "));

    // The team's listing, narrowed to the controller, from the environment's server.
    ::setenv("TREVANE_HISTORY", url_.c_str(), 1);
    const ProgramRun listed =
        Run({"--json", "history", "--controller", "127.0.0.1:" + std::to_string(sim_.Port())});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    const std::vector<testing::JsonValue> tests = testing::ParseJsonLines(listed.out);
    ASSERT_EQ(tests.size(), 1u);
    EXPECT_EQ(tests[0]["tests"].items.size(), 1u) << "sent twice, stored once";
    EXPECT_EQ(Run({"history", "--controller", "no such machine"}).out,
              "no tests in " + url_ + "\n");
    EXPECT_EQ(Run({"history", "--since", "2026-02-30"}).exitCode, 2);
}

TEST_F(ServerCli, APasswordNeverAppearsInAnythingTheProgramWrote) {
    const std::string& secret = server_->Password();
    const std::string withPassword = "postgresql://" + server_->User() + ":" + secret +
                                     "@127.0.0.1:" + std::to_string(server_->Port()) + "/x";
    ProgramRun refused = Run({"history", "--history", withPassword});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_THAT(refused.err, HasSubstr("holds a password, refused"));
    refused = Run({"--address", "127.0.0.1", "--port", std::to_string(sim_.Port()), "autotest",
                   "--history", withPassword + "?sslmode=disable"});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(testing::ReadFile(dir_ / "trevane-history.sqlite").empty()) << "no test ran";
    ::setenv("TREVANE_HISTORY", (url_ + "?password=" + secret).c_str(), 1);
    EXPECT_EQ(Run({"--json", "history"}).exitCode, 2);
    ::unsetenv("TREVANE_HISTORY");

    ::setenv("PGPASSFILE", server_->WrongPassFile().c_str(), 1);
    const ProgramRun wrong = InterruptedTest({"--report", "--history", url_});
    EXPECT_THAT(wrong.err, HasSubstr("password authentication failed"));
    EXPECT_THAT(wrong.err, HasSubstr("kept locally, 1 test waiting"));
    ::setenv("PGPASSFILE", server_->PassFile().c_str(), 1);
    const ProgramRun right = InterruptedTest({"--report", "--history", url_});
    EXPECT_THAT(right.err, Not(HasSubstr("kept locally")));
    EXPECT_EQ(Run({"--json", "history", "--history", url_}).exitCode, 0);

    const std::string all = EverythingWritten();
    EXPECT_THAT(all, HasSubstr("trevane_test")) << "the runs wrote what they should";
    EXPECT_EQ(all.find(secret), std::string::npos) << "the password was written somewhere";
}

// Two controllers tested while the server is down: both pass and say so by their exit code, the
// fleet says what waits, and a sync sends it.
TEST_F(ServerCli, AFleetKeepsEveryTestWhileTheServerIsDownAndPassesAsWithout) {
    sim::Server second{std::make_shared<sim::Machine>(std::make_shared<RealClock>()), "127.0.0.1",
                       0};
    std::ofstream(dir_ / "fleet.txt") << "127.0.0.1 " << sim_.Port() << " press-1\n127.0.0.1 "
                                      << second.Port() << " press-2\n";
    server_->Stop();
    const ProgramRun fleet = Run({"fleet", "fleet.txt", "--history", url_, "autotest"});
    EXPECT_EQ(fleet.exitCode, 0) << fleet.err;
    EXPECT_THAT(fleet.err, HasSubstr("trevane-cli: fleet: history: kept locally, 2 tests waiting "
                                     "for the server"));
    for (const char* member : {"press-1", "press-2"}) {
        EXPECT_THAT(testing::ReadFile(dir_ / member / "trevane-cli.err"),
                    HasSubstr("history: kept locally"))
            << member << ": the child was given the server";
    }
    server_->Start();
    const ProgramRun sync = Run({"history", "sync", "--history", url_});
    EXPECT_EQ(sync.exitCode, 0) << sync.err;
    EXPECT_THAT(sync.out, HasSubstr("history sync: 2 tests sent to "));
}

}  // namespace
}  // namespace trevane
