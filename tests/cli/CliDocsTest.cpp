#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "cli/CommandTable.h"
#include "support/ChildProcess.h"

// help, VERB --help, the manual page and the bash completion against the one table of verbs and
// options: a verb or option missing from any of them fails here.
namespace trevane::cli {
namespace {

using ::testing::HasSubstr;
using testing::ProgramRun;
using testing::RunProgram;

std::string ReadSource(const std::string& path) {
    std::ifstream in(std::string(TREVANE_SOURCE_DIR) + "/" + path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The manual page without its markup: "*send* [*--repeat* _N_]" reads "send [--repeat N]".
std::string PlainManualPage() {
    std::string text = ReadSource("packaging/man/trevane-cli.1.scd");
    std::erase_if(text, [](char c) { return c == '*' || c == '_'; });
    return text;
}

// The lines of `text` between "# FROM" and the next heading.
std::string Section(const std::string& text, const std::string& heading) {
    const std::size_t start = text.find("\n# " + heading + "\n");
    if (start == std::string::npos) {
        return {};
    }
    const std::size_t end = text.find("\n# ", start + 1);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::set<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), {}};
}

// The completion's words for a verb: its "verb) ..." line, "$globals" expanded.
std::set<std::string> CompletionOf(const std::string& completion, const std::string& verb) {
    const std::regex line("\\n\\s*" + verb + "\\) COMPREPLY=\\(\\$\\(compgen -W \"([^\"]*)\"");
    std::smatch found;
    return std::regex_search(completion, found, line) ? Words(found[1].str())
                                                      : std::set<std::string>{};
}

std::set<std::string> QuotedList(const std::string& completion, const std::string& name) {
    std::smatch found;
    std::regex_search(completion, found, std::regex("local " + name + "=\"([^\"]*)\""));
    return Words(found[1].str());
}

TEST(CliDocs, EveryVerbAndOptionIsInHelpTheManualPageAndTheCompletion) {
    const std::string page = PlainManualPage();
    const std::string completion = ReadSource("packaging/completion/trevane-cli");
    ASSERT_FALSE(page.empty());
    ASSERT_FALSE(completion.empty());
    const std::string verbsSection = Section(page, "VERBS");
    const std::string optionsSection = Section(page, "OPTIONS");
    const std::set<std::string> completedVerbs = QuotedList(completion, "verbs");
    const std::set<std::string> completedGlobals = QuotedList(completion, "globals");
    const ProgramRun help = RunProgram(TREVANE_CLI_PATH, {"help"});
    EXPECT_EQ(help.exitCode, 0);

    std::set<std::string> knownOptions;
    for (const OptionSpec& option : GlobalOptions()) {
        SCOPED_TRACE(option.name);
        knownOptions.insert(option.name);
        EXPECT_THAT(optionsSection, HasSubstr("\n" + option.name));
        EXPECT_THAT(help.out, HasSubstr("  " + option.name));
        EXPECT_TRUE(completedGlobals.contains(option.name));
    }
    std::set<std::string> tableVerbs = {"help"};
    for (const VerbSpec& verb : VerbSpecs()) {
        SCOPED_TRACE(verb.name);
        tableVerbs.insert(verb.name);
        EXPECT_THAT(help.out, HasSubstr("  " + UsageOf(verb) + "\n      " + verb.summary + "\n"));
        const ProgramRun own = RunProgram(TREVANE_CLI_PATH, {verb.name, "--help"});
        EXPECT_EQ(own.exitCode, 0);
        EXPECT_THAT(own.out, HasSubstr(UsageOf(verb) + "\n"));
        EXPECT_THAT(verbsSection, HasSubstr("\n" + verb.name));
        const std::set<std::string> completed = CompletionOf(completion, verb.name);
        for (const OptionSpec& option : verb.options) {
            knownOptions.insert(option.name);
            EXPECT_THAT(verbsSection, HasSubstr(option.name)) << option.name;
            EXPECT_THAT(own.out, HasSubstr("  " + option.name)) << option.name;
            if (verb.name != "jog" && verb.name != "dump") {
                EXPECT_TRUE(completed.contains(option.name)) << option.name;
            }
        }
    }
    EXPECT_EQ(completedVerbs, tableVerbs);
    // Nothing documented that the program does not take.
    const std::regex optionWord("--[a-z]+");
    for (auto it = std::sregex_iterator(page.begin(), page.end(), optionWord);
         it != std::sregex_iterator(); ++it) {
        EXPECT_TRUE(knownOptions.contains(it->str())) << it->str() << " is not an option";
    }
}

}  // namespace
}  // namespace trevane::cli
