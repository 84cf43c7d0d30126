#pragma once

#include <functional>
#include <string>
#include <vector>

namespace trevane {
class Controller;
}

namespace trevane::cli {

class VerbContext;

// The one controller a run of trevane-cli talks to.
Controller& TheController();

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
inline constexpr int kExitInterrupted = 130;  // Ctrl-C

// The names, arguments and descriptions of the verbs are in CommandTable. A verb a fleet runs
// talks through the context it is given; the others only ever run as the program itself.
struct Verb {
    std::string name;
    std::function<int(VerbContext&, const Invocation&)> run;
};

// Each verbs_*.cpp registers its verbs with a static VerbRegistration.
void RegisterVerb(Verb verb);
const std::vector<Verb>& Verbs();

struct VerbRegistration {
    VerbRegistration(std::string name, std::function<int(VerbContext&, const Invocation&)> run) {
        RegisterVerb({std::move(name), std::move(run)});
    }
    VerbRegistration(std::string name, std::function<int(const Invocation&)> run) {
        RegisterVerb({std::move(name), [run = std::move(run)](VerbContext&, const Invocation& i) {
                          return run(i);
                      }});
    }
};

// The same as ReportError(ProgramContext(), ...) and so on: for the verbs that only run as the
// program itself.
// Prints "trevane-cli: <message>" on standard error (escaped on a terminal) and keeps it as the
// failure that ends the JSON output.
void ReportError(const std::string& message);
// The last text given to ReportError, "" when there was none.
std::string LastReportedError();

// ReportError, then kExitUsage.
int UsageError(const std::string& message);

// Connects as the Connect button does (both sessions, "HX", the description). Returns false after
// printing one line on standard error when the connection failed.
bool ConnectLikeTheWindow(const Invocation& invocation);


// With `print`, each command's outcome as one {"time", "command", "reply", "ok", "reason"} line.
void PrintCommandsAsJson(bool print);

// Set once Ctrl-C (SIGINT) or SIGTERM arrived; verbs that run long poll it.
bool InterruptRequested();
// Calls `onInterrupt` from a watcher thread when Ctrl-C arrives (for stopping a test or a jog).
void OnInterrupt(std::function<void()> onInterrupt);

}  // namespace trevane::cli
