#pragma once

#include <string>
#include <vector>

// The one description of trevane-cli's command line: `help`, `VERB --help`, the parser's option
// names and the checks of the manual page and the bash completion all read it.
namespace trevane::cli {

struct OptionSpec {
    std::string name;      // "--repeat"
    std::string argument;  // "N", or "" for a flag
    std::string summary;   // one line
};

struct VerbSpec {
    std::string name;
    std::string arguments;  // after the name: "[--repeat N] CMD [CMD ...]"
    std::string summary;    // one line
    std::string details;    // more lines for `VERB --help`, may be empty
    bool offline = false;   // reads local files only: needs no --address, never connects
    std::vector<OptionSpec> options;
};

// Options of every verb, accepted before or after the verb.
const std::vector<OptionSpec>& GlobalOptions();
const std::vector<VerbSpec>& VerbSpecs();
const VerbSpec* FindVerbSpec(const std::string& name);
const OptionSpec* FindGlobalOption(const std::string& name);

struct ExitStatusSpec {
    int code;
    std::string meaning;  // one line
};

// Every status the program ends with, in the order help lists them.
const std::vector<ExitStatusSpec>& ExitStatuses();

// "send [--repeat N] CMD [CMD ...]"
std::string UsageOf(const VerbSpec& verb);
// The text of `trevane-cli --help` and of `trevane-cli help VERB`.
std::string ProgramHelp(int defaultPort);
std::string VerbHelp(const VerbSpec& verb);

}  // namespace trevane::cli
