#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "CliTestFiles.h"
#include "InProcessCli.h"
#include "autotest/TestRecord.h"
#include "history/History.h"
#include "sim/Simulator.h"
#include "support/CliJsonDocs.h"
#include "support/JsonValue.h"
#include "support/ScratchFolder.h"

// Every name every verb writes with --json, held against docs/cli-json.md both ways: nothing
// written that its section does not name, nothing named that no run writes.
namespace trevane {
namespace {

using testing::OneMoveTest;

using Names = std::set<std::string>;

void CollectNames(const testing::JsonValue& value, Names& names) {
    for (const auto& [name, member] : value.members) {
        names.insert(name);
        CollectNames(member, names);
    }
    for (const testing::JsonValue& item : value.items) {
        CollectNames(item, names);
    }
}

class CliJsonFields : public ::testing::Test {
  protected:
    static constexpr std::uint16_t kPort = 5023;

    // Runs `arguments` and keeps the names it wrote under `verb`.
    testing::CliRun Run(const std::string& verb, const std::string& arguments) {
        const testing::CliRun run = cli_.Run(arguments);
        for (const testing::JsonValue& line : testing::ParseJsonLines(run.out)) {
            CollectNames(line, written_[verb]);
        }
        return run;
    }
    static std::string Online() {
        return "--json --address 127.0.0.1 --port " + std::to_string(kPort);
    }

    testing::ScopedWorkingFolder scratch_{"trevane-cli-json"};
    testing::InProcessCli cli_;
    std::map<std::string, Names> written_;
};

TEST_F(CliJsonFields, EveryVerbWritesExactlyTheNamesItsSectionLists) {
    const auto machine = cli_.AddController(kPort);
    cli_.AddController(kPort + 1)->AddFault(sim::ParseFault("stall:Y"));
    machine->SetStoredProgram("#A\r\nEN\r\n");

    EXPECT_EQ(Run("connect", Online() + " connect").exitCode, 0);
    EXPECT_EQ(Run("send", Online() + " send TPX BOGUS").exitCode, 1);
    EXPECT_EQ(Run("run", Online() + " run exit").exitCode, 0);
    EXPECT_EQ(Run("run", Online() + " run prepare").exitCode, 0);
    EXPECT_EQ(Run("jog", Online() + " jog x -500 0.05").exitCode, 0);
    EXPECT_EQ(Run("record", Online() + " record").exitCode, 0);
    EXPECT_EQ(Run("dump", Online() + " dump p.txt").exitCode, 0);
    EXPECT_EQ(Run("autotest", Online() + " autotest --report").exitCode, 0);
    // Warnings and drift: a stuck switch and a load on Y, after three clean tests of Y's
    // controller.
    const auto worn = cli_.AddController(kPort + 2);
    const std::string wornController =
        "--json --address 127.0.0.1 --port " + std::to_string(kPort + 2) + " autotest";
    for (int test = 0; test < 3; ++test) {
        EXPECT_EQ(Run("autotest", wornController).exitCode, 0);
    }
    worn->AddFault(sim::ParseFault("limit:Y:forward"));
    worn->AddFault(sim::ParseFault("load:Y:2.5"));
    worn->AddFault(sim::ParseFault("bind:Z:-12000:-8000"));
    EXPECT_EQ(Run("autotest", wornController).exitCode, 0);
    std::ofstream("fleet.txt") << "127.0.0.1 " << kPort << " a\n127.0.0.1 " << kPort + 1
                               << " b\n";
    EXPECT_EQ(Run("fleet", "--json fleet fleet.txt autotest").exitCode, 1);
    std::filesystem::remove(history::kHistoryFileName);
    {
        history::History store(history::kHistoryFileName);
        // A baseline needs three earlier tests; the fourth drifts from it.
        for (int test = 0; test < 3; ++test) {
            store.Add(OneMoveTest(100), {"a.txt", "", ""});
        }
        TestRecord worn = OneMoveTest(200);
        worn.moves[0].maxTorque = 1.0f;
        store.Add(worn, {"b.txt", "", ""});
    }
    EXPECT_EQ(Run("history", "--json history").exitCode, 0);

    const std::string page = testing::ReadCliJsonPage(TREVANE_SOURCE_DIR);
    ASSERT_FALSE(page.empty());
    const Names everyVerb = testing::SectionJsonNames(page, "Every verb");
    // Only a history server makes these; the server's own tests show them.
    const Names needAServer = {"history_waiting", "server", "sent", "waiting",
                               // No simulated fault brings the error near its limit without
                               // the torque aborting the move first.
                               "limit_counts"};
    Names seenAnywhere;
    for (const auto& [verb, written] : written_) {
        Names documented = testing::SectionJsonNames(page, verb);
        ASSERT_FALSE(documented.empty()) << verb;
        for (const std::string& name : written) {
            EXPECT_TRUE(documented.contains(name) || everyVerb.contains(name))
                << "'" << name << "' of " << verb << " is not in docs/cli-json.md";
        }
        for (const std::string& name : documented) {
            EXPECT_TRUE(written.contains(name) || needAServer.contains(name))
                << "'" << name << "' of " << verb << " is documented but never written";
        }
        seenAnywhere.insert(written.begin(), written.end());
    }
    for (const std::string& name : everyVerb) {
        EXPECT_TRUE(seenAnywhere.contains(name)) << "'" << name << "' is never written";
    }
}

}  // namespace
}  // namespace trevane
