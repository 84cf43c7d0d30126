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
#include "cli/CommandTable.h"
#include "cli/HeadlessWindow.h"
#include "cli/Json.h"
#include "cli/StandardOutputs.h"
#include "cli/TraceFile.h"
#include "cli/VerbContext.h"
#include "cli/Verbs.h"
#include "common/Platform.h"
#include "history/ServerAddress.h"
#include "history/StoreTest.h"
#include "controller/Controller.h"
#include "protocol/Limits.h"
#include "protocol/Protocol.h"

namespace trevane::cli {
namespace {

bool IsHelpFlag(const std::string& arg) {
    return arg == "--help" || arg == "-h";
}

template <typename Number>
std::optional<Number> ParseWhole(std::string_view text, Number low, Number high) {
    Number value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

struct CommandLine {
    bool help = false;
    bool version = false;
    Invocation invocation;
    std::string verb;
    std::optional<std::string> tracePath;
};

// The value of a global option that takes one; an error text when it is missing or wrong.
std::optional<std::string> TakeValue(std::string_view option, const std::string& value,
                                     CommandLine& line, bool& haveAddress) {
    if (option == "--address") {
        if (!protocol::ParseDottedIpv4(value)) {
            return "--address '" + protocol::Printable(value) +
                   "' is not a dotted IPv4 address (four numbers 0..255)";
        }
        line.invocation.address = value;
        haveAddress = true;
    } else if (option == "--port") {
        const std::optional<int> port = ParseWhole(value, 1, 65535);
        if (!port) {
            return "--port '" + protocol::Printable(value) + "' is not a port (1..65535)";
        }
        line.invocation.port = *port;
    } else if (option == "--timeout") {
        const std::optional<int> timeout = ParseWhole(value, 1, 600'000);
        if (!timeout) {
            return "--timeout '" + protocol::Printable(value) +
                   "' is not a number of milliseconds (1..600000)";
        }
        line.invocation.timeoutMs = *timeout;
    } else if (option == "--trace") {
        if (value.empty()) {
            return std::string("--trace needs a file name");
        }
        line.tracePath = value;
    }
    return std::nullopt;
}

// Global options go before or after the verb; the rest after the verb is the verb's own.
// Returns an error text, or nothing when the command line is sound.
std::optional<std::string> Parse(int argc, char** argv, CommandLine& line) {
    bool haveAddress = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const OptionSpec* option = FindGlobalOption(arg);
        if (IsHelpFlag(arg)) {
            line.help = true;
        } else if (arg == "--version") {
            line.version = true;
        } else if (arg == "--json") {
            line.invocation.json = true;
        } else if (option != nullptr && !option->argument.empty()) {
            if (i + 1 == argc) {
                return arg + " needs a value";
            }
            if (auto error = TakeValue(arg, argv[++i], line, haveAddress)) {
                return error;
            }
        } else if (line.verb.empty() && arg.starts_with("-")) {
            return "unknown option '" + protocol::Printable(arg) + "' (see --help)";
        } else if (line.verb.empty()) {
            line.verb = arg;
        } else {
            line.invocation.args.push_back(arg);
        }
    }
    if (line.version) {
        return std::nullopt;
    }
    if (line.verb.empty()) {
        if (line.help) {
            return std::nullopt;
        }
        return std::string("no verb given (see --help)");
    }
    // Help never connects, so it needs no address.
    if (line.verb == "help" || line.help) {
        line.help = true;
        return std::nullopt;
    }
    const VerbSpec* spec = FindVerbSpec(line.verb);
    if (!haveAddress && spec != nullptr && !spec->offline) {
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

int RunCommandLine(CommandLine& line) {
    if (line.version) {
        if (line.invocation.json) {
            json::WriteLine(std::cout, json::Object().Text("version", TREVANE_VERSION));
        } else {
            std::cout << "trevane-cli " << TREVANE_VERSION << "\n";
        }
        return kExitOk;
    }
    if (line.help && line.verb.empty()) {
        std::cout << ProgramHelp(kDefaultControllerPort);
        return kExitOk;
    }
    std::string verbName = line.verb;
    if (line.help && line.verb == "help") {
        if (line.invocation.args.empty()) {
            std::cout << ProgramHelp(kDefaultControllerPort);
            return kExitOk;
        }
        if (line.invocation.args.size() > 1) {
            return UsageError("help takes at most one verb (see --help)");
        }
        verbName = line.invocation.args.front();
    }
    const VerbSpec* spec = FindVerbSpec(verbName);
    const Verb* verb = FindVerb(verbName);
    if (spec == nullptr || verb == nullptr) {
        return UsageError("unknown verb '" + protocol::Printable(verbName) + "' (see --help)");
    }
    if (line.help) {
        std::cout << VerbHelp(*spec);
        return kExitOk;
    }
    VerbContext& context = ProgramContext();
    if (spec->offline) {
        return RunVerb(context, *verb, line.invocation);
    }
    if (line.tracePath) {
        if (const std::optional<std::string> failure = StartTrace(*line.tracePath)) {
            ReportError(*failure);
            return kExitFailed;
        }
    }
    // A history file named there keeps the tests; a server named there is the verb's to take.
    if (const char* history = std::getenv("TREVANE_HISTORY");
        history != nullptr && !history::NamesServer(history)) {
        TheController().History().SetPath(history);
    }
    InstallInterruptHandlers();
    int status = RunOnController(context, *verb, line.invocation);
    StopInterruptWatcher();
    // After the sessions have closed: no exchange can come any more.
    if (const std::optional<std::string> failure = StopTrace()) {
        ReportError(*failure);
        if (status == kExitOk) {
            status = kExitFailed;
        }
    }
    if (InterruptRequested() && status != kExitUsage) {
        status = InterruptExitCode();
    }
    return status;
}

int Main(int argc, char** argv) {
    IgnoreBrokenPipeSignal();
    // Before anything is printed or traced: no output may hold up a stop.
    QueueStandardOutputs();
    CommandLine line;
    line.invocation.port = kDefaultControllerPort;
    int status = kExitOk;
    if (const std::optional<std::string> error = Parse(argc, argv, line)) {
        status = UsageError(*error);
    } else {
        status = RunCommandLine(line);
    }
    if (line.invocation.json && status != kExitOk) {
        WriteJsonError(ProgramContext(), status);
    }
    if (FinishStandardOutputs() && status == kExitOk) {
        status = kExitFailed;
    }
    if (ThreadsLeftBehind()) {
        // A fleet member's thread still waits on its controller: what it uses must stay.
        std::_Exit(status);
    }
    return status;
}

}  // namespace
}  // namespace trevane::cli

int main(int argc, char** argv) {
    return trevane::cli::Main(argc, argv);
}
