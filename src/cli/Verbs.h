#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace trevane::cli {

class VerbContext;

// What every verb gets: the connection options and the verb's own arguments.
struct Invocation {
    std::string address;
    int port = 23;
    bool json = false;              // --json: JSON Lines on standard output
    int timeoutMs = 1000;           // --timeout: the reply timeout
    std::vector<std::string> args;  // after the verb's name, global options taken out
};

// A text command on the command session and how its exchange ended.
struct CommandOutcome {
    std::string command;
    std::string reply;
    bool ok = false;
    std::string reason;  // when not ok: the controller's "TC1" reason, or the link's error
};

// Exit codes shared by every verb.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;         // the verb ran, but an exchange or check failed
inline constexpr int kExitUsage = 2;          // bad arguments or no connection
inline constexpr int kExitWarnings = 3;  // with --strict: a test passed with warnings or drift
inline constexpr int kExitInterrupted = 130;  // Ctrl-C

// Why a verb refuses `args`, or nothing when it takes them: the verb's own parser, with nothing
// looked up, so that a fleet can refuse bad arguments once before any member starts.
using ArgumentCheck = std::optional<std::string> (*)(const std::vector<std::string>& args);

// The names, arguments and descriptions of the verbs are in CommandTable. Every verb talks
// through the context it is given.
struct Verb {
    const char* name;
    int (*run)(VerbContext&, const Invocation&);
    ArgumentCheck checkArguments = nullptr;  // null where only the run checks them
};

// Every verb.
std::span<const Verb> Verbs();
// The verb called `name`; null when there is none.
const Verb* FindVerb(const std::string& name);

// The verbs, each in the file of its kind.
int RunConnect(VerbContext& context, const Invocation& invocation);
int RunSend(VerbContext& context, const Invocation& invocation);
int RunProcedure(VerbContext& context, const Invocation& invocation);
int RunJog(VerbContext& context, const Invocation& invocation);
int RunRecord(VerbContext& context, const Invocation& invocation);
int RunDump(VerbContext& context, const Invocation& invocation);
int RunAutoTest(VerbContext& context, const Invocation& invocation);
int RunHistory(VerbContext& context, const Invocation& invocation);
int RunFleetVerb(VerbContext& context, const Invocation& invocation);

// The argument checks of the verbs a fleet runs.
std::optional<std::string> CheckConnectArguments(const std::vector<std::string>& args);
std::optional<std::string> CheckRecordArguments(const std::vector<std::string>& args);
std::optional<std::string> CheckAutotestArguments(const std::vector<std::string>& args);

}  // namespace trevane::cli
