#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/Clock.h"
#include "history/History.h"
#include "history/Sqlite.h"
#include "sim/Responder.h"
#include "sim/Simulator.h"
#include "support/ChildProcess.h"
#include "support/JsonValue.h"
#include "support/ScratchFolder.h"
#include "support/StandingAxis.h"

// trevane-cli fleet as a program, against simulated controllers on loopback.
namespace trevane {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;
using ::testing::HasSubstr;
using testing::ReadFile;

// A simulated controller served on a free loopback port.
struct Controller {
    explicit Controller(const std::string& fault = {})
        : machine(std::make_shared<sim::Machine>(std::make_shared<RealClock>())) {
        if (!fault.empty()) {
            machine->AddFault(sim::ParseFault(fault));
        }
        server = std::make_unique<sim::Server>(machine, "127.0.0.1", 0);
    }
    std::string Port() const { return std::to_string(server->Port()); }

    std::shared_ptr<sim::Machine> machine;
    std::unique_ptr<sim::Server> server;
};

class Fleet : public ::testing::Test {
  protected:
    void WriteFleet(const std::string& text) { std::ofstream(dir_ / "fleet.txt") << text; }

    testing::ScratchFolder scratch_{"trevane-fleet"};
    const fs::path dir_ = scratch_.Path();
};

TEST_F(Fleet, AnInterruptStopsEveryMemberAndEveryAxisStands) {
    Controller first;
    Controller second;
    Controller third;
    WriteFleet("127.0.0.1 " + first.Port() + " a\n127.0.0.1 " + second.Port() + " b\n127.0.0.1 " +
               third.Port() + " c\n");
    ChildProcess fleet(TREVANE_CLI_PATH, {"fleet", "fleet.txt", "--jobs", "2", "autotest"}, dir_);
    // Both running tests have begun moving X.
    const std::regex moving(
        "(^|\n)a .* running +X Axis is being moved(.|\n)*\nb .* running +X "
        "Axis is being moved|(^|\n)b .* running +X Axis is being moved(.|\n)*"
        "\na .* running +X Axis is being moved");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);
    while (!std::regex_search(fleet.Output(), moving) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(std::regex_search(fleet.Output(), moving)) << fleet.Output();
    fleet.Signal(SIGTERM);
    EXPECT_EQ(fleet.WaitForExit(std::chrono::seconds(30)), 128 + SIGTERM) << fleet.Errors();
    EXPECT_THAT(fleet.Output(), HasSubstr("3 controllers: 3 stopped\n"));
    for (const Controller* controller : {&first, &second}) {
        for (int axis = 0; axis < 4; ++axis) {
            EXPECT_FALSE(StandingAxis(*controller->machine, axis).moving) << axis;
        }
        const std::vector<std::string> sent = controller->machine->ReceivedCommands();
        EXPECT_NE(std::find(sent.begin(), sent.end(), "AB1"), sent.end());
    }
    EXPECT_TRUE(third.machine->ReceivedCommands().empty());
    for (const char* name : {"a", "b"}) {
        for (const auto& entry : fs::directory_iterator(dir_ / name)) {
            if (entry.path().extension() == ".txt" && entry.path().filename() != "trace.txt") {
                EXPECT_THAT(ReadFile(entry.path()), HasSubstr("Test Aborted by User")) << name;
            }
        }
    }
}

// The processes whose working folder is `folder`.
std::vector<pid_t> ProcessesIn(const fs::path& folder) {
    std::vector<pid_t> found;
    std::error_code none;
    for (const auto& entry : fs::directory_iterator("/proc", none)) {
        const std::string name = entry.path().filename().string();
        std::error_code gone;
        if (name.find_first_not_of("0123456789") == std::string::npos &&
            fs::read_symlink(entry.path() / "cwd", gone) == folder) {
            found.push_back(static_cast<pid_t>(std::stol(name)));
        }
    }
    return found;
}

// The processes whose parent is `parent`.
std::vector<pid_t> ChildrenOf(pid_t parent) {
    std::vector<pid_t> found;
    std::error_code none;
    for (const auto& entry : fs::directory_iterator("/proc", none)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        // "pid (comm) state ppid ...": the name may hold blanks, so read after its last ')'.
        const std::string stat = ReadFile(entry.path() / "stat");
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream rest(stat.substr(close + 1));
        std::string state;
        pid_t ppid = 0;
        if (rest >> state >> ppid && ppid == parent) {
            found.push_back(static_cast<pid_t>(std::stol(name)));
        }
    }
    return found;
}

TEST_F(Fleet, RunsEveryControllerInThisOneProcess) {
    Controller controllers[3];
    const char* names[] = {"a", "b", "c"};
    std::string text;
    for (int i = 0; i < 3; ++i) {
        text += "127.0.0.1 " + controllers[i].Port() + " " + names[i] + "\n";
    }
    WriteFleet(text);
    ChildProcess fleet(TREVANE_CLI_PATH,
                       {"--json", "fleet", "fleet.txt", "record", "--watch", "--interval", "50"},
                       dir_);
    // Every member has printed a reading into its own file.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    const auto allReading = [&] {
        return std::all_of(std::begin(names), std::end(names), [&](const char* name) {
            return ReadFile(dir_ / name / "trevane-cli.jsonl").find("\"axes\"") !=
                   std::string::npos;
        });
    };
    while (!allReading() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(allReading()) << fleet.Output() << fleet.Errors();
    const std::vector<pid_t> fleets = ProcessesIn(fs::canonical(dir_));
    ASSERT_EQ(fleets.size(), 1u);
    EXPECT_THAT(ChildrenOf(fleets[0]), ::testing::IsEmpty());
    for (const char* name : names) {
        EXPECT_THAT(ProcessesIn(fs::canonical(dir_ / name)), ::testing::IsEmpty()) << name;
    }

    fleet.Signal(SIGTERM);
    EXPECT_EQ(fleet.WaitForExit(std::chrono::seconds(30)), 128 + SIGTERM) << fleet.Errors();
    const std::vector<testing::JsonValue> lines = testing::ParseJsonLines(fleet.Output());
    ASSERT_GE(lines.size(), 5u) << fleet.Output();
    for (int i = 0; i < 3; ++i) {
        const testing::JsonValue& end = lines[lines.size() - 5 + static_cast<std::size_t>(i)];
        EXPECT_EQ(end["controller"].text, names[i]);
        EXPECT_EQ(end["state"].text, "stopped");
        EXPECT_EQ(end["exit"].number, 128 + SIGTERM);
        for (int axis = 0; axis < 4; ++axis) {
            EXPECT_FALSE(StandingAxis(*controllers[i].machine, axis).moving) << names[i];
        }
        const std::vector<testing::JsonValue> own =
            testing::ParseJsonLines(ReadFile(dir_ / names[i] / "trevane-cli.jsonl"));
        ASSERT_FALSE(own.empty()) << names[i];
        EXPECT_EQ(own.back()["error"]["exit"].number, 128 + SIGTERM) << names[i];
    }
}

// The simulated machine, whose sessions open at one moment can be made to swallow every
// request from then on: a controller that hangs in the middle of an exchange.
class HangingMachine final : public sim::Responder {
  public:
    explicit HangingMachine(std::shared_ptr<sim::Machine> machine)
        : machine_(std::move(machine)), inner_(sim::AsResponder(machine_)) {}

    // The sessions open now answer nothing more; those opened later answer as before.
    std::set<int> HangOpenSessions() {
        std::lock_guard lock(mutex_);
        hung_ = open_;
        return hung_;
    }

    int OpenSession() override {
        const int session = inner_->OpenSession();
        std::lock_guard lock(mutex_);
        open_.insert(session);
        return session;
    }
    void CloseSession(int session) override {
        {
            std::lock_guard lock(mutex_);
            open_.erase(session);
        }
        inner_->CloseSession(session);
    }
    sim::Reply Exchange(int session, std::string_view line, bool tooLong) override {
        {
            std::lock_guard lock(mutex_);
            if (hung_.contains(session)) {
                inner_->RecordOnly(session, line);
                sim::Reply none;
                none.silent = true;
                return none;
            }
        }
        return inner_->Exchange(session, line, tooLong);
    }
    void RecordOnly(int session, std::string_view line) override {
        inner_->RecordOnly(session, line);
    }
    sim::LinkFaults Link() const override { return inner_->Link(); }
    const std::shared_ptr<Clock>& GetClock() const override { return inner_->GetClock(); }

  private:
    std::shared_ptr<sim::Machine> machine_;
    std::shared_ptr<sim::Responder> inner_;
    std::mutex mutex_;
    std::set<int> open_;
    std::set<int> hung_;
};

TEST_F(Fleet, AMemberThatDoesNotEndIsGivenUpOnlyAfterItsControllerWasSentTheStop) {
    const auto machine = std::make_shared<sim::Machine>(std::make_shared<RealClock>());
    const auto hanging = std::make_shared<HangingMachine>(machine);
    sim::Server server(hanging, "127.0.0.1", 0, sim::Server::Options{});
    WriteFleet("127.0.0.1 " + std::to_string(server.Port()) + " a\n");
    // A reply timeout far beyond the fleet's bound: the member's own stop waits on its hung
    // session.
    ChildProcess fleet(TREVANE_CLI_PATH,
                       {"--json", "--timeout", "600000", "fleet", "fleet.txt", "autotest"}, dir_);
    ASSERT_TRUE(fleet.WaitForOutput("X Axis is being moved", std::chrono::seconds(40)))
        << fleet.Output();
    const std::set<int> hung = hanging->HangOpenSessions();
    ASSERT_FALSE(hung.empty());
    const std::size_t before = machine->Received().size();
    // What it would leave if it ended while replacing a file, beside what is not its to remove.
    std::ofstream(dir_ / "a" / "trace.txt.0123abcd.tmp") << "half";
    std::ofstream(dir_ / "a" / "notes.tmp") << "mine";
    std::ofstream(dir_ / "a" / "old.txt.89abcdef.tmp") << "older";
    fs::last_write_time(dir_ / "a" / "old.txt.89abcdef.tmp",
                        fs::file_time_type::clock::now() - std::chrono::hours(1));

    fleet.Signal(SIGINT);
    EXPECT_EQ(fleet.WaitForExit(std::chrono::seconds(40)), 128 + SIGINT) << fleet.Errors();
    const std::vector<testing::JsonValue> lines = testing::ParseJsonLines(fleet.Output());
    ASSERT_GE(lines.size(), 3u);
    const testing::JsonValue& end = lines[lines.size() - 3];
    EXPECT_EQ(end["state"].text, "stopped");
    EXPECT_EQ(end["text"].text,
              "given up: it had not ended 20 s after the interrupt; its controller was sent the "
              "stop first");
    // The member's own stop went out on its hung session; the fleet's came on a fresh one.
    const std::vector<sim::ReceivedCommand> received = machine->Received();
    const auto stop =
        std::find_if(received.begin() + static_cast<std::ptrdiff_t>(before), received.end(),
                     [&](const sim::ReceivedCommand& command) {
                         return command.line == "AB1" && !hung.contains(command.session);
                     });
    ASSERT_NE(stop, received.end());
    for (int axis = 0; axis < 4; ++axis) {
        EXPECT_FALSE(StandingAxis(*machine, axis).moving) << axis;
    }
    EXPECT_FALSE(fs::exists(dir_ / "a" / "trace.txt.0123abcd.tmp"));
    EXPECT_TRUE(fs::exists(dir_ / "a" / "notes.tmp"));
    EXPECT_TRUE(fs::exists(dir_ / "a" / "old.txt.89abcdef.tmp"));
}

TEST_F(Fleet, ItsFilesInAReusedFolderAreNeverWrittenThroughALinkPlantedThere) {
    Controller controllers[4];
    const char* names[] = {"a", "b", "c", "d"};
    std::string text;
    for (int i = 0; i < 4; ++i) {
        text += "127.0.0.1 " + controllers[i].Port() + " " + names[i] + "\n";
    }
    WriteFleet(text);
    const fs::path outside = dir_ / "outside";
    fs::create_directories(outside);
    const struct {
        const char* folder;
        const char* file;
    } planted[] = {{"a", "trevane-cli.jsonl"}, {"b", "trevane-cli.err"}, {"c", "trace.txt"}};
    for (const auto& [folder, file] : planted) {
        fs::create_directories(dir_ / folder);
        std::ofstream(outside / folder) << "keep " << folder;
        fs::create_symlink(outside / folder, dir_ / folder / file);
    }
    // A hard link is a name of its own: the fleet's new file replaces the name, not the bytes.
    fs::create_directories(dir_ / "d");
    std::ofstream(outside / "d") << "keep d";
    fs::create_hard_link(outside / "d", dir_ / "d" / "trevane-cli.jsonl");

    const testing::ProgramRun run =
        testing::RunProgram(TREVANE_CLI_PATH, {"--json", "fleet", "fleet.txt", "connect"}, dir_);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    const std::vector<testing::JsonValue> lines = testing::ParseJsonLines(run.out);
    ASSERT_GE(lines.size(), 6u) << run.out;
    for (int i = 0; i < 3; ++i) {
        const testing::JsonValue& end = lines[lines.size() - 6 + static_cast<std::size_t>(i)];
        EXPECT_EQ(end["controller"].text, names[i]);
        EXPECT_EQ(end["state"].text, "failed");
        EXPECT_EQ(end["text"].text, "'" + (dir_ / names[i] / planted[i].file).string() +
                                        "' is a symbolic link: a fleet writes its files "
                                        "through none");
        EXPECT_TRUE(controllers[i].machine->Received().empty()) << names[i];
        EXPECT_TRUE(fs::is_symlink(dir_ / names[i] / planted[i].file)) << names[i];
    }
    EXPECT_EQ(lines[lines.size() - 3]["state"].text, "done");
    for (const char* folder : names) {
        EXPECT_EQ(ReadFile(outside / folder), std::string("keep ") + folder);
    }
    EXPECT_THAT(ReadFile(dir_ / "d" / "trevane-cli.jsonl"), HasSubstr(sim::kIdentityLine));
}

TEST_F(Fleet, AHistoryThatCannotBeWrittenStartsNoController) {
    Controller controller;
    WriteFleet("127.0.0.1 " + controller.Port() + " a\n");
    fs::create_directory(dir_ / history::kHistoryFileName);
    const testing::ProgramRun run =
        testing::RunProgram(TREVANE_CLI_PATH, {"fleet", "fleet.txt", "autotest"}, dir_);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.err, HasSubstr("fleet: the history cannot be written: '" +
                                   (dir_ / history::kHistoryFileName).string() +
                                   "' is a folder, not a history file; no controller was started"));
    EXPECT_TRUE(controller.machine->Received().empty());
    EXPECT_FALSE(fs::exists(dir_ / "a"));
}

TEST_F(Fleet, ABadFleetFileIsNamedWithItsLineAndNothingStarts) {
    const struct {
        std::string text;
        std::string error;
    } cases[] = {
        {"127.0.0.1 5023 a\n10.0.0.300\n", "line 2: '10.0.0.300' is not a dotted IPv4 address"},
        {"127.0.0.1 0\n", "line 1: '0' is not a port"},
        {"127.0.0.1 5023 ../up\n", "line 1: the name '../up' is not a folder name"},
        {"127.0.0.1 5023 A\n127.0.0.1 5024 a\n", "line 2: the folder 'a' is already line 1's"},
        {"127.0.0.1 5023 a b\n", "line 1: '127.0.0.1 5023 a b' is not ADDRESS [PORT [NAME]]"},
        {"# nothing\n", "lists no controller"},
    };
    for (const auto& [text, error] : cases) {
        WriteFleet(text);
        const testing::ProgramRun run =
            testing::RunProgram(TREVANE_CLI_PATH, {"fleet", "fleet.txt", "autotest"}, dir_);
        EXPECT_EQ(run.exitCode, 2) << text;
        EXPECT_THAT(run.err, HasSubstr(error)) << text;
    }
    const testing::ProgramRun jog =
        testing::RunProgram(TREVANE_CLI_PATH, {"fleet", "fleet.txt", "jog", "X"}, dir_);
    EXPECT_EQ(jog.exitCode, 2);
    EXPECT_THAT(jog.err, HasSubstr("'jog' cannot run on a fleet"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace trevane
