#include "cli/CommandTable.h"

#include <algorithm>
#include <cstdio>

#include "cli/Verbs.h"

namespace trevane::cli {
namespace {

constexpr const char* kHistoryServerSummary =
    "also keep the history on a PostgreSQL server: postgresql://HOST/DB or a service name "
    "(default TREVANE_HISTORY); never a password";

}  // namespace

const std::vector<OptionSpec>& GlobalOptions() {
    static const std::vector<OptionSpec> options = {
        {"--address", "A",
         "the controller's dotted IPv4 address; needed by every verb that connects"},
        {"--port", "P", "the controller's TCP port, 1 to 65535"},
        {"--json", "",
         "standard output holds only JSON Lines, a failure ends with {\"error\": ...}"},
        {"--timeout", "MS",
         "how long to wait for a reply (default 1000; a program upload ten times it)"},
        {"--trace", "FILE", "write every exchange to FILE, one tab-separated line each"},
        {"--help", "", "show help without connecting"},
        {"--version", "", "print the version"},
    };
    return options;
}

const std::vector<VerbSpec>& VerbSpecs() {
    static const std::vector<VerbSpec> verbs = {
        {"autotest",
         "[--report] [--strict] [--history URL]",
         "run the automatic diagnostic test and write its log file",
         "The log file goes to the working directory; every test that reached the controller\n"
         "is kept in trevane-history.sqlite. Exit 0 when every move of X, Y and Z completed\n"
         "with every reading, 1 when a move was aborted or unverified, the link was lost, a\n"
         "command failed, or the report, the history or an entry of the log could not be\n"
         "written, 2 without connection. Ctrl-C, SIGTERM or SIGHUP abort the test and stop the\n"
         "axes (130, 143, 129), so does a closed standard output (141). With a history\n"
         "server the test goes to trevane-history.sqlite first, then to the server; a server\n"
         "out of reach keeps it waiting there (\"history: kept locally, N tests waiting for\n"
         "the server\") and changes no exit code: the next run or history sync sends it.\n"
         "A pass with warnings (a limit switch active at rest, an axis above 80 % of a limit)\n"
         "or drift still exits 0; with --strict it exits 3.",
         false,
         {{"--report", "",
           "also write the test report beside the log (the log's name with .html, and .csv)"},
          {"--strict", "", "exit 3 when the test passed with warnings or drift"},
          {"--history", "URL", kHistoryServerSummary}}},
        {"connect",
         "",
         "connect as the Connect button does and print the connection description",
         "",
         false,
         {}},
        {"dump",
         "[FILE]",
         "write the stored program to FILE (default logProgram.txt), CR LF line ends",
         "A regular file is replaced whole; a device or FIFO is written as it is; a folder is\n"
         "refused.",
         false,
         {}},
        {"fleet",
         "FILE [--jobs N] [--strict] [--history URL] autotest|record|connect [ARGS]",
         "run VERB on every controller FILE lists, all at once in this one process",
         "FILE lists one controller a line as ADDRESS [PORT [NAME]] ('#' starts a comment).\n"
         "Each runs in the folder NAME (or ADDRESS) with its log, report, trace.txt,\n"
         "trevane-cli.jsonl and trevane-cli.err; autotest keeps every test in one\n"
         "trevane-history.sqlite here. One line per controller while it runs, then a summary\n"
         "table and fleet-summary.html. Exit 0 only when every controller passed (with\n"
         "--strict, 3 when all passed but some with warnings or drift); Ctrl-C,\n"
         "SIGTERM or SIGHUP stop every controller as a single test stops. With a history\n"
         "server every controller's test and what waits is sent; at the end the fleet\n"
         "sends what is still waiting.",
         true,
         {{"--jobs", "N", "how many controllers at once (default 8)"},
          {"--strict", "", "autotest --strict on every controller, and exit 3 as it does"},
          {"--history", "URL", kHistoryServerSummary}}},
        {"history",
         "[sync] [--limit N] [--controller TEXT] [--since DATE] [--history URL]",
         "list the last automatic tests kept in trevane-history.sqlite",
         "Reads trevane-history.sqlite in the working directory: each test with each axis's\n"
         "largest torque and error and the drift against the same controller's earlier tests.\n"
         "A damaged file is named and nothing is listed. With a history server, the team's\n"
         "tests of every technician are listed instead. history sync sends what the file holds\n"
         "and the server has not taken yet (exit 1 when some still wait).",
         true,
         {{"--limit", "N", "how many tests, the newest (default 10)"},
          {"--controller", "TEXT", "only the controllers whose ADDRESS:PORT IDENTITY holds TEXT"},
          {"--since", "DATE", "only the tests started on or after DATE (YYYY-MM-DD, UTC)"},
          {"--history", "URL", kHistoryServerSummary}}},
        {"jog",
         "AXES SPEED SECONDS",
         "jog the axes among X, Y, Z at SPEED counts/s for SECONDS, then stop them (also on "
         "Ctrl-C)",
         "",
         false,
         {}},
        {"record",
         "[--watch [--interval MS] [--count N]] [--csv]",
         "print one decoded status table of the axes X, Y, Z, W",
         "A poll that comes too late is skipped, never made up; the number skipped is reported\n"
         "at the end.",
         false,
         {{"--watch", "", "poll again and again, until --count records or Ctrl-C"},
          {"--interval", "MS", "milliseconds between polls of --watch (default 10)"},
          {"--count", "N", "how many records --watch takes"},
          {"--csv", "", "a header line, then one CSV row a record"}}},
        {"run",
         "enable|disable|prepare|exit|zero",
         "run one machine procedure (exit 1 if any of its commands failed)",
         "",
         false,
         {}},
        {"send",
         "[--repeat N] CMD [CMD ...]",
         "send each CMD and print each reply on its own line",
         "A rejected command is named on standard error with the controller's reason.",
         false,
         {{"--repeat", "N", "send the commands N times, print the last round's replies"}}},
    };
    return verbs;
}

const VerbSpec* FindVerbSpec(const std::string& name) {
    for (const VerbSpec& verb : VerbSpecs()) {
        if (verb.name == name) {
            return &verb;
        }
    }
    return nullptr;
}

const OptionSpec* FindGlobalOption(const std::string& name) {
    for (const OptionSpec& option : GlobalOptions()) {
        if (option.name == name) {
            return &option;
        }
    }
    return nullptr;
}

std::string UsageOf(const VerbSpec& verb) {
    return verb.arguments.empty() ? verb.name : verb.name + " " + verb.arguments;
}

namespace {

std::string OptionLines(const std::vector<OptionSpec>& options) {
    std::size_t width = 0;
    for (const OptionSpec& option : options) {
        width = std::max(width, option.name.size() + 1 + option.argument.size());
    }
    std::string text;
    for (const OptionSpec& option : options) {
        std::string head = option.name;
        if (!option.argument.empty()) {
            head += " " + option.argument;
        }
        text += "  " + head + std::string(width - head.size() + 2, ' ') + option.summary + "\n";
    }
    return text;
}

std::string ExitStatusLines() {
    std::string lines;
    for (const ExitStatusSpec& status : ExitStatuses()) {
        char code[16];
        std::snprintf(code, sizeof code, "  %-5d", status.code);
        lines += code + status.meaning + "\n";
    }
    return lines;
}

}  // namespace

// A signal's status is 128 + its number on Linux, on every platform, as a shell reports it.
const std::vector<ExitStatusSpec>& ExitStatuses() {
    static const std::vector<ExitStatusSpec> statuses = {
        {kExitOk, "done"},
        {kExitFailed, "an exchange or check failed"},
        {kExitUsage, "bad arguments or no connection"},
        {kExitWarnings, "with --strict (autotest, fleet): a test passed with warnings or drift"},
        {kExitInterrupted, "interrupted by Ctrl-C (SIGINT; Ctrl-C or Ctrl-Break on Windows)"},
        {128 + 15, "ended by SIGTERM"},
        {128 + 1, "ended by SIGHUP (the terminal closed; the console closed on Windows)"},
        {128 + 13, "standard output closed (a broken pipe)"},
    };
    return statuses;
}

std::string ProgramHelp(int defaultPort) {
    std::string text =
        "usage: trevane-cli [--address A] [--port P] [--json] [--timeout MS] [--trace FILE] VERB "
        "[ARGS]\n"
        "\n"
        "Connects to the controller at the dotted IPv4 address A, port P (default " +
        std::to_string(defaultPort) +
        "),\n"
        "as the window's Connect button does, then runs VERB. There is no built-in address.\n"
        "\n"
        "options, before or after the verb:\n" +
        OptionLines(GlobalOptions()) +
        "\n"
        "verbs:\n";
    for (const VerbSpec& verb : VerbSpecs()) {
        text += "  " + UsageOf(verb) + "\n      " + verb.summary + "\n";
    }
    text +=
        "\n"
        "exit status (a jog's or a test's axes are stopped before an interrupted run ends):\n" +
        ExitStatusLines() +
        "\n"
        "trevane-cli help [VERB] and trevane-cli VERB --help show help without connecting;\n"
        "trevane-cli --version prints the version.\n";
    return text;
}

std::string VerbHelp(const VerbSpec& verb) {
    std::string text = std::string("usage: trevane-cli ") +
                       (verb.offline ? "" : "--address A [--port P] ") + "[--json] " +
                       UsageOf(verb) + "\n      " + verb.summary + "\n";
    if (!verb.details.empty()) {
        text += "\n" + verb.details + "\n";
    }
    if (!verb.options.empty()) {
        text += "\noptions:\n" + OptionLines(verb.options);
    }
    return text;
}

}  // namespace trevane::cli
