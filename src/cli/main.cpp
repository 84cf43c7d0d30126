// trevane-cli: the diagnostics of the window, for scripts and remote sessions.
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Cli.h"
#include "cli/HeadlessWindow.h"
#include "cli/TraceFile.h"
#include "cli/Verbs.h"
#include "history/StoreTest.h"
#include "link/Link.h"
#include "protocol/Limits.h"
#include "protocol/Protocol.h"
#include "report/TestEnd.h"

namespace trevane::cli {
namespace {

void PrintHelp(std::ostream& out) {
    out << "usage: trevane-cli --address A [--port P] [--json] [--trace FILE] VERB [ARGS]\n"
           "\n"
           "Connects to the controller at the dotted IPv4 address A, port P (default "
        << kDefaultControllerPort
        << "),\n"
           "as the window's Connect button does, then runs VERB. With --json every result\n"
           "is one JSON object per line on standard output.\n"
           "--trace FILE writes every exchange to FILE, one a line, tab-separated: time,\n"
           "session, request, reply, acknowledgement, microseconds, reason, and the bytes of\n"
           "a data record or program upload; trevane-sim --replay FILE serves it again.\n"
           "\n"
           "verbs:\n";
    std::vector<Verb> verbs = Verbs();
    std::sort(verbs.begin(), verbs.end(),
              [](const Verb& a, const Verb& b) { return a.name < b.name; });
    for (const Verb& verb : verbs) {
        out << "  " << verb.usage << "\n      " << verb.summary << "\n";
    }
    out << "\n"
           "exit status: 0 done, 1 an exchange or check failed, 2 bad arguments or no "
           "connection,\n"
           "130 interrupted\n"
           "\n"
           "trevane-cli help [VERB] and trevane-cli VERB --help show help without connecting;\n"
           "trevane-cli --version prints the version.\n";
}

void PrintVerbHelp(std::ostream& out, const Verb& verb) {
    out << "usage: trevane-cli --address A [--port P] " << verb.usage << "\n"
        << "      " << verb.summary << "\n";
}

bool IsHelpFlag(const std::string& arg) {
    return arg == "--help" || arg == "-h";
}

bool AsksForHelp(const std::vector<std::string>& args) {
    return std::any_of(args.begin(), args.end(), IsHelpFlag);
}

std::optional<int> ParsePort(std::string_view text) {
    int port = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (ec != std::errc{} || end != text.data() + text.size() || port < 1 || port > 65535) {
        return std::nullopt;
    }
    return port;
}

struct CommandLine {
    bool help = false;
    bool version = false;
    Invocation invocation;
    std::string verb;
    std::optional<std::string> tracePath;
};

// Options come before the verb; everything after the verb is the verb's own.
// Returns an error text, or nothing when the command line is sound.
std::optional<std::string> Parse(int argc, char** argv, CommandLine& line) {
    bool haveAddress = false;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            line.help = true;
            return std::nullopt;
        }
        if (arg == "--version") {
            line.version = true;
            return std::nullopt;
        }
        if (arg == "--json") {
            line.invocation.json = true;
            continue;
        }
        if (arg == "--trace") {
            if (i + 1 == argc || std::string_view(argv[i + 1]).empty()) {
                return std::string("--trace needs a file name");
            }
            line.tracePath = argv[++i];
            continue;
        }
        if (arg == "--address" || arg == "--port") {
            if (i + 1 == argc) {
                return std::string(arg) + " needs a value";
            }
            const std::string value = argv[++i];
            if (arg == "--address") {
                if (!protocol::ParseDottedIpv4(value)) {
                    return "--address '" + protocol::Printable(value) +
                           "' is not a dotted IPv4 address (four numbers 0..255)";
                }
                line.invocation.address = value;
                haveAddress = true;
            } else if (const std::optional<int> port = ParsePort(value)) {
                line.invocation.port = *port;
            } else {
                return "--port '" + protocol::Printable(value) + "' is not a port (1..65535)";
            }
            continue;
        }
        if (arg.starts_with("-")) {
            return "unknown option '" + protocol::Printable(arg) + "' (see --help)";
        }
        break;
    }
    if (i == argc) {
        return std::string("no verb given (see --help)");
    }
    line.verb = argv[i];
    line.invocation.args.assign(argv + i + 1, argv + argc);
    // Help never connects, so it needs no address.
    if (line.verb == "help" || AsksForHelp(line.invocation.args)) {
        line.help = true;
        return std::nullopt;
    }
    if (!haveAddress && !IsOfflineVerb(line.verb)) {
        // No built-in address: a script must never reach a real controller by accident.
        return std::string("--address is required");
    }
    return std::nullopt;
}

const Verb* FindVerb(const std::string& name) {
    for (const Verb& verb : Verbs()) {
        if (verb.name == name) {
            return &verb;
        }
    }
    return nullptr;
}

int RunVerb(const Verb& verb, const Invocation& invocation) {
    try {
        return verb.run(invocation);
    } catch (const std::exception& error) {
        std::cerr << "trevane-cli: " << verb.name << ": " << error.what() << "\n";
    } catch (...) {
        std::cerr << "trevane-cli: " << verb.name << ": failed\n";
    }
    return kExitFailed;
}

// Sessions close before the program's own objects go away.
void CloseEverything() {
    StopInterruptWatcher();
    CloseLink();
    SetSessionFactory(nullptr);
    SetWindow(nullptr);
}

int Main(int argc, char** argv) {
    CommandLine line;
    line.invocation.port = kDefaultControllerPort;
    if (const std::optional<std::string> error = Parse(argc, argv, line)) {
        return UsageError(*error);
    }
    if (line.version) {
        std::cout << "trevane-cli " << TREVANE_VERSION << "\n";
        return kExitOk;
    }
    if (line.help && line.verb.empty()) {
        PrintHelp(std::cout);
        return kExitOk;
    }
    std::string verbName = line.verb;
    if (line.help && line.verb == "help") {
        std::erase_if(line.invocation.args, IsHelpFlag);
        if (line.invocation.args.empty()) {
            PrintHelp(std::cout);
            return kExitOk;
        }
        if (line.invocation.args.size() > 1) {
            return UsageError("help takes at most one verb (see --help)");
        }
        verbName = line.invocation.args.front();
    }
    const Verb* verb = FindVerb(verbName);
    if (verb == nullptr) {
        return UsageError("unknown verb '" + protocol::Printable(verbName) + "' (see --help)");
    }
    if (line.help) {
        PrintVerbHelp(std::cout, *verb);
        return kExitOk;
    }
    if (IsOfflineVerb(verb->name)) {
        return RunVerb(*verb, line.invocation);
    }
    if (line.tracePath) {
        if (const std::optional<std::string> failure = StartTrace(*line.tracePath)) {
            std::cerr << "trevane-cli: " << *failure << "\n";
            return kExitFailed;
        }
    }
    // A fleet's children keep their tests in the fleet's one history.
    if (const char* history = std::getenv("TREVANE_HISTORY"); history != nullptr) {
        history::SetHistoryPath(history);
    }
    InstallInterruptHandlers();
    SetWindow(TheHeadlessWindow());
    InstallTestEndHooks();
    UseTcpSessions(static_cast<std::uint16_t>(line.invocation.port));
    int status = RunVerb(*verb, line.invocation);
    CloseEverything();
    // After the sessions have closed: no exchange can come any more.
    if (const std::optional<std::string> failure = StopTrace()) {
        std::cerr << "trevane-cli: " << *failure << "\n";
        if (status == kExitOk) {
            status = kExitFailed;
        }
    }
    if (InterruptRequested() && status != kExitUsage) {
        status = InterruptExitCode();
    }
    return status;
}

}  // namespace
}  // namespace trevane::cli

int main(int argc, char** argv) {
    return trevane::cli::Main(argc, argv);
}
