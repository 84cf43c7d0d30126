#include <algorithm>
#include <csignal>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "CliTestFiles.h"
#include "InProcessCli.h"
#include "cli/CommandTable.h"
#include "cli/RunControl.h"
#include "history/History.h"
#include "support/CliJsonDocs.h"
#include "support/JsonValue.h"
#include "support/ScratchFolder.h"

// What the documentation says of the outputs' contents, held against outputs the command line
// writes: a drift's numbers in docs/cli-json.md, a trace's columns in the manual page, the exit
// statuses that interrupts bring in help.
namespace trevane {
namespace {

using ::testing::HasSubstr;
using testing::OneMoveTest;

std::string ReadSource(const std::string& path) {
    std::ifstream in(std::string(TREVANE_SOURCE_DIR) + "/" + path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The lines of `text` from the heading line `heading` to the next heading of its level.
std::string Section(const std::string& text, const std::string& heading) {
    const std::string level = heading.substr(0, heading.find(' ') + 1);
    const std::size_t start = text.find("\n" + heading + "\n");
    if (start == std::string::npos) {
        return {};
    }
    const std::size_t end = text.find("\n" + level, start + 1);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// "- `name`: ..." with the lines that continue it.
std::string ListedItem(const std::string& section, const std::string& name) {
    // The name alone or first of several: "- `value_v`, `value_counts`: ...".
    const std::size_t start = section.find("\n- `" + name + "`");
    if (start == std::string::npos) {
        return {};
    }
    const std::size_t end = section.find("\n- ", start + 1);
    std::string item = section.substr(start, end == std::string::npos ? end : end - start);
    // One blank where the page broke the line and indented the rest.
    std::string joined;
    for (std::size_t i = 0; i < item.size(); ++i) {
        if (item[i] == '\n') {
            joined += ' ';
            while (i + 1 < item.size() && item[i + 1] == ' ') {
                ++i;
            }
        } else {
            joined += item[i];
        }
    }
    return joined;
}

std::vector<std::string> TabFields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t tab = line.find('\t'); tab != std::string::npos;
         start = tab + 1, tab = line.find('\t', start)) {
        fields.push_back(line.substr(start, tab - start));
    }
    fields.push_back(line.substr(start));
    return fields;
}

// The "- *name*: ..." items of the manual page's TRACE FILE section, in order.
std::vector<std::string> DocumentedTraceColumns() {
    std::istringstream lines(
        Section(ReadSource("packaging/man/trevane-cli.1.scd"), "# TRACE FILE"));
    std::vector<std::string> columns;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("- *")) {
            columns.push_back(line.substr(3, line.find('*', 3) - 3));
        }
    }
    return columns;
}

class CliDocsInProcess : public ::testing::Test {
  protected:
    static constexpr std::uint16_t kPort = 5023;

    testing::ScopedWorkingFolder scratch_{"trevane-cli-docs"};
    testing::InProcessCli cli_;
};

TEST_F(CliDocsInProcess, ADriftIsInTheUnitsAndPercentageThePageGives) {
    const std::string history = Section(testing::ReadCliJsonPage(TREVANE_SOURCE_DIR), "## history");
    ASSERT_FALSE(history.empty());
    EXPECT_THAT(ListedItem(history, "value_v"),
                HasSubstr("`max_torque_v` (volts) or `max_error_counts` (counts)"));
    EXPECT_THAT(ListedItem(history, "baseline_v"), HasSubstr("`baseline_counts`"));
    EXPECT_THAT(ListedItem(history, "change_percent"),
                HasSubstr("100 * (value - baseline) / baseline"));

    {
        history::History store(history::kHistoryFileName);
        for (int test = 0; test < 3; ++test) {
            store.Add(OneMoveTest(100), {"a.txt", "", ""});
        }
        // Both quantities rise, by different ratios, so that neither can stand for the other; the
        // values are exact in binary, as the history keeps them.
        TestRecord drifted = OneMoveTest(170);
        drifted.moves[0].maxTorque = 0.75f;
        store.Add(drifted, {"b.txt", "", ""});
    }
    const testing::CliRun run = cli_.Run("--json history");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<testing::JsonValue> lines = testing::ParseJsonLines(run.out);
    ASSERT_EQ(lines.size(), 1u);
    const testing::JsonValue& latest = lines[0]["tests"].items.back();
    const testing::JsonValue& move = latest["moves"].items.at(0);
    const std::vector<testing::JsonValue>& drift = latest["drift"].items;
    ASSERT_EQ(drift.size(), 2u) << run.out;

    for (const testing::JsonValue& found : drift) {
        const std::string kind = found["kind"].text;
        SCOPED_TRACE(kind);
        const bool torque = kind == "torque";
        EXPECT_TRUE(torque || kind == "error");
        const std::string unit = torque ? "_v" : "_counts";
        const double value = found["value" + unit].number;
        const double baseline = found["baseline" + unit].number;
        EXPECT_DOUBLE_EQ(value, move[torque ? "max_torque_v" : "max_error_counts"].number);
        EXPECT_NEAR(baseline, torque ? 0.5 : 100.0, 1e-6);
        EXPECT_NEAR(found["change_percent"].number, 100 * (value - baseline) / baseline, 0.05);
        EXPECT_NEAR(found["change_percent"].number, torque ? 50.0 : 70.0, 1e-6);
    }
}

TEST_F(CliDocsInProcess, ATraceHasTheColumnsTheManualPageListsInItsOrder) {
    const std::vector<std::string> documented = DocumentedTraceColumns();
    ASSERT_EQ(documented.size(), 8u);
    cli_.AddController(kPort)->SetStoredProgram("#A\r\nEN\r\n");
    const std::string online = "--address 127.0.0.1 --port " + std::to_string(kPort);
    ASSERT_EQ(cli_.Run("--trace record.txt " + online + " record").exitCode, 0);
    ASSERT_EQ(cli_.Run("--trace dump.txt " + online + " dump p.txt").exitCode, 0);

    for (const char* trace : {"record.txt", "dump.txt"}) {
        SCOPED_TRACE(trace);
        std::istringstream lines(testing::ReadFile(trace));
        std::string header;
        ASSERT_TRUE(std::getline(lines, header));
        ASSERT_TRUE(header.starts_with("#"));
        EXPECT_EQ(TabFields(header.substr(1)), documented);
        const std::regex stamp(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d\.\d\d\d)");
        int exchanges = 0;
        bool bytesSeen = false;
        for (std::string line; std::getline(lines, line); ++exchanges) {
            const std::vector<std::string> fields = TabFields(line);
            ASSERT_EQ(fields.size(), documented.size()) << line;
            // Each field where the page puts it: read by the page's names.
            std::map<std::string, std::string> named;
            for (std::size_t column = 0; column < fields.size(); ++column) {
                named[documented[column]] = fields[column];
            }
            EXPECT_TRUE(std::regex_match(named["time"], stamp)) << line;
            EXPECT_THAT(named["session"], ::testing::AnyOf("command", "record")) << line;
            EXPECT_TRUE(named["request"].ends_with("\\r")) << line;
            EXPECT_EQ(named["acknowledgement"], ":") << line;
            EXPECT_FALSE(named["microseconds"].empty());
            EXPECT_EQ(named["microseconds"].find_first_not_of("0123456789"), std::string::npos);
            EXPECT_EQ(named["reason"], "") << line;
            bytesSeen = bytesSeen || !named["bytes"].empty();
        }
        EXPECT_GT(exchanges, 0);
        EXPECT_TRUE(bytesSeen) << "a data record's or an upload's bytes";
    }
}

bool ListedInHelp(int code) {
    for (const cli::ExitStatusSpec& status : cli::ExitStatuses()) {
        if (status.code == code) {
            return true;
        }
    }
    return false;
}

TEST(CliDocsExitStatus, EveryInterruptEndsWithAStatusThatHelpLists) {
    const int caught[] = {SIGINT, SIGTERM, SIGHUP};
    for (const int signal : caught) {
        cli::RunControl control;
        control.Arrive(signal);
        EXPECT_TRUE(ListedInHelp(control.ExitCode())) << "signal " << signal;
    }
    cli::RunControl broken;
    broken.OutputBroken();
    EXPECT_TRUE(ListedInHelp(broken.ExitCode())) << "a closed standard output";
    EXPECT_TRUE(ListedInHelp(cli::RunControl().ExitCode())) << "an interrupt without a signal";
}

}  // namespace
}  // namespace trevane
