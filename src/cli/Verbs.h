#pragma once

#include <functional>
#include <string>
#include <vector>

namespace trevane::cli {

// What every verb gets: the connection options and the verb's own arguments.
struct Invocation {
    std::string address;
    int port = 23;
    std::vector<std::string> args;  // after the verb's name
};

// Exit codes shared by every verb.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;         // the verb ran, but an exchange or check failed
inline constexpr int kExitUsage = 2;          // bad arguments or no connection
inline constexpr int kExitInterrupted = 130;  // Ctrl-C

struct Verb {
    std::string name;
    std::string usage;    // for example "send [--repeat N] CMD [CMD ...]"
    std::string summary;  // one line for --help
    std::function<int(const Invocation&)> run;
};

// Each verbs_*.cpp registers its verbs with a static VerbRegistration.
void RegisterVerb(Verb verb);
const std::vector<Verb>& Verbs();

// Verbs that never talk to a controller (reading local files) run without --address.
void RegisterOfflineVerb(Verb verb);
bool IsOfflineVerb(const std::string& name);

struct OfflineVerb {};

struct VerbRegistration {
    explicit VerbRegistration(Verb verb) { RegisterVerb(std::move(verb)); }
    VerbRegistration(Verb verb, OfflineVerb) { RegisterOfflineVerb(std::move(verb)); }
};

// Prints "trevane-cli: <message>" on standard error and returns kExitUsage.
int UsageError(const std::string& message);

// Connects as the Connect button does (both sessions, "HX", the description). Returns false after
// printing one line on standard error when the connection failed.
bool ConnectLikeTheWindow(const Invocation& invocation);

// Set once Ctrl-C (SIGINT) or SIGTERM arrived; verbs that run long poll it.
bool InterruptRequested();
// Calls `onInterrupt` from a watcher thread when Ctrl-C arrives (for stopping a test or a jog).
void OnInterrupt(std::function<void()> onInterrupt);

}  // namespace trevane::cli
