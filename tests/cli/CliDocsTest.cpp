#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "cli/CommandTable.h"
#include "support/ChildProcess.h"

// help, VERB --help, the manual pages, the bash completion and the README against the tables and
// programs they describe: a verb, option, exit status or file missing from any of them fails here.
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
std::string PlainManualPage(const std::string& program = "trevane-cli") {
    std::string text = ReadSource("packaging/man/" + program + ".1.scd");
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

// The options that lines of `help` begin with ("  --port N  ...").
std::set<std::string> HelpOptions(const std::string& help) {
    std::set<std::string> options;
    const std::regex optionLine("\\n  (--[a-z-]+)");
    for (auto it = std::sregex_iterator(help.begin(), help.end(), optionLine);
         it != std::sregex_iterator(); ++it) {
        options.insert((*it)[1].str());
    }
    return options;
}

TEST(CliDocs, EverySimulatorOptionIsInItsManualPagesSynopsisAndOptions) {
    const std::string page = PlainManualPage("trevane-sim");
    const std::string synopsis = Section(page, "SYNOPSIS");
    const std::string optionsSection = Section(page, "OPTIONS");
    ASSERT_FALSE(synopsis.empty());
    const ProgramRun help = RunProgram(TREVANE_SIM_PATH, {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    const std::set<std::string> options = HelpOptions(help.out.substr(0, help.out.find("Faults:")));
    EXPECT_TRUE(options.contains("--replay-speed"));
    const std::regex optionWord("--[a-z-]+");
    for (const std::string& option : options) {
        const std::regex whole(option + "(?![a-z-])");
        EXPECT_TRUE(std::regex_search(synopsis, whole)) << option << " is not in the SYNOPSIS";
        EXPECT_THAT(optionsSection, HasSubstr("\n" + option)) << option;
    }
    for (auto it = std::sregex_iterator(synopsis.begin(), synopsis.end(), optionWord);
         it != std::sregex_iterator(); ++it) {
        EXPECT_TRUE(options.contains(it->str())) << it->str() << " is not in --help";
    }
}

// The numbers a section's terms name: "*130*, *143*" on the lines that are not indented.
std::set<int> TermNumbers(const std::string& section) {
    std::set<int> numbers;
    std::istringstream lines(section);
    const std::regex number("\\*([0-9]+)\\*");
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("\t")) {
            continue;
        }
        for (auto it = std::sregex_iterator(line.begin(), line.end(), number);
             it != std::sregex_iterator(); ++it) {
            numbers.insert(std::stoi((*it)[1].str()));
        }
    }
    return numbers;
}

TEST(CliDocs, EveryExitStatusIsInHelpAndTheManualPage) {
    std::set<int> listed;
    for (const ExitStatusSpec& status : ExitStatuses()) {
        listed.insert(status.code);
    }
    // The shared constants, read where they are declared: a new one must be listed too.
    const std::string verbs = ReadSource("src/cli/Verbs.h");
    const std::regex constant("constexpr int (kExit[A-Za-z]+) = ([0-9]+);");
    int constants = 0;
    for (auto it = std::sregex_iterator(verbs.begin(), verbs.end(), constant);
         it != std::sregex_iterator(); ++it, ++constants) {
        EXPECT_TRUE(listed.contains(std::stoi((*it)[2].str()))) << (*it)[1].str();
    }
    EXPECT_GE(constants, 4);

    const ProgramRun help = RunProgram(TREVANE_CLI_PATH, {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    const std::size_t start = help.out.find("\nexit status");
    ASSERT_NE(start, std::string::npos);
    const std::string helpStatuses =
        help.out.substr(start, help.out.find("\n\n", start) + 1 - start);
    std::set<int> inHelp;
    const std::regex statusLine("\\n  ([0-9]+) +(.*)");
    for (auto it = std::sregex_iterator(helpStatuses.begin(), helpStatuses.end(), statusLine);
         it != std::sregex_iterator(); ++it) {
        inHelp.insert(std::stoi((*it)[1].str()));
    }
    EXPECT_EQ(inHelp, listed);
    for (const ExitStatusSpec& status : ExitStatuses()) {
        EXPECT_THAT(helpStatuses, HasSubstr(std::to_string(status.code) + " ")) << status.code;
        EXPECT_THAT(helpStatuses, HasSubstr(status.meaning + "\n")) << status.code;
    }
    const std::string page = ReadSource("packaging/man/trevane-cli.1.scd");
    EXPECT_EQ(TermNumbers(Section(page, "EXIT STATUS")), listed);
}

TEST(CliDocs, TheReadmesDocsRowNamesEveryFileOfDocs) {
    const std::string readme = ReadSource("README.md");
    const std::size_t start = readme.find("\n| `docs` |");
    ASSERT_NE(start, std::string::npos);
    const std::string row = readme.substr(start, readme.find('\n', start + 1) - start);
    int files = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(TREVANE_SOURCE_DIR) + "/docs")) {
        ++files;
        const std::string name = entry.path().filename().string();
        EXPECT_THAT(row, HasSubstr("`" + name + "`")) << name;
    }
    EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace trevane::cli
