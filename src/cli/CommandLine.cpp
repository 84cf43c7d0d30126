#include "cli/CommandLine.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/Cli.h"
#include "cli/CommandTable.h"
#include "cli/HeadlessWindow.h"
#include "cli/Json.h"
#include "cli/RunControl.h"
#include "cli/Verbs.h"
#include "common/Clock.h"
#include "common/Platform.h"
#include "controller/Controller.h"
#include "history/ServerAddress.h"
#include "protocol/Limits.h"
#include "protocol/Protocol.h"
#include "traffic/TraceWriter.h"

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
std::optional<std::string> Parse(const std::vector<std::string>& args, CommandLine& line) {
    bool haveAddress = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const OptionSpec* option = FindGlobalOption(arg);
        if (IsHelpFlag(arg)) {
            line.help = true;
        } else if (arg == "--version") {
            line.version = true;
        } else if (arg == "--json") {
            line.invocation.json = true;
        } else if (option != nullptr && !option->argument.empty()) {
            if (i + 1 == args.size()) {
                return arg + " needs a value";
            }
            if (auto error = TakeValue(arg, args[++i], line, haveAddress)) {
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

// What one run owns: its controller, the operator without a window, the context the verbs talk
// through and the --trace writer. Declared in the order they are made; what refers to another
// goes after it.
struct ProgramRun {
    ProgramRun(const CliEnvironment& environment, std::shared_ptr<RunControl> control)
        : window(std::make_shared<HeadlessWindow>(environment.out, environment.err,
                                                  environment.outIsTerminal,
                                                  environment.errIsTerminal)),
          context(controller, window, environment.out, environment.err, std::move(control), true),
          trace(controller.Traffic()) {
        context.outIsTerminal = environment.outIsTerminal;
        context.errIsTerminal = environment.errIsTerminal;
        context.historyVariable = environment.historyVariable;
        context.openSessions = environment.openSessions;
    }

    Controller controller;
    std::shared_ptr<HeadlessWindow> window;
    VerbContext context;
    TraceWriter trace;
};

// Starts --trace FILE; why not when FILE cannot be written.
std::optional<std::string> StartTrace(ProgramRun& run, const CliEnvironment& environment,
                                      const std::string& path) {
    // Onto standard output through its own queue, so the trace and the verb's lines keep their
    // order there.
    const std::shared_ptr<QueuedOutput>& output = environment.outputQueue;
    std::optional<std::string> failure = output && IsStandardOutput(path)
                                             ? run.trace.Start(path, output)
                                             : run.trace.Start(path);
    if (failure) {
        return "--trace " + *failure;
    }
    return std::nullopt;
}

// The help and version texts, which never connect; nothing when the line asks for neither.
std::optional<int> AnswerWithoutAVerb(VerbContext& context, CommandLine& line) {
    std::ostream& out = context.out;
    if (line.version) {
        if (line.invocation.json) {
            json::WriteLine(out, json::Object().Text("version", TREVANE_VERSION));
        } else {
            out << "trevane-cli " << TREVANE_VERSION << "\n";
        }
        return kExitOk;
    }
    if (line.help && (line.verb.empty() || (line.verb == "help" && line.invocation.args.empty()))) {
        out << ProgramHelp(kDefaultControllerPort);
        return kExitOk;
    }
    if (line.help && line.verb == "help" && line.invocation.args.size() > 1) {
        return UsageError(context, "help takes at most one verb (see --help)");
    }
    return std::nullopt;
}

// The verb with the run's sessions, trace and interrupts around it.
int RunOnline(ProgramRun& run, const CliEnvironment& environment, const Verb& verb,
              const CommandLine& line) {
    VerbContext& context = run.context;
    const Invocation& invocation = line.invocation;
    if (line.tracePath) {
        if (const std::optional<std::string> failure =
                StartTrace(run, environment, *line.tracePath)) {
            ReportError(context, *failure);
            return kExitFailed;
        }
    }
    // A history file named there keeps the tests; a server named there is the verb's to take.
    if (const std::optional<std::string>& history = environment.historyVariable;
        history && !history::NamesServer(*history)) {
        run.controller.History().SetPath(*history);
    }
    RunControl& control = context.Control();
    control.StartWatching();
    SessionFactory sessions;
    if (environment.openSessions) {
        sessions = environment.openSessions(static_cast<std::uint16_t>(invocation.port),
                                            invocation.timeoutMs);
    }
    int status = RunOnController(context, verb, invocation, std::move(sessions));
    control.StopWatching();
    // After the sessions have closed: no exchange can come any more.
    if (const std::optional<std::string> failure = run.trace.Stop()) {
        ReportError(context, "--trace " + *failure);
        if (status == kExitOk) {
            status = kExitFailed;
        }
    }
    if (control.Requested() && status != kExitUsage) {
        status = control.ExitCode();
    }
    return status;
}

int Run(ProgramRun& run, const CliEnvironment& environment, CommandLine& line) {
    VerbContext& context = run.context;
    if (const std::optional<int> answered = AnswerWithoutAVerb(context, line)) {
        return *answered;
    }
    const std::string verbName =
        line.help && line.verb == "help" ? line.invocation.args.front() : line.verb;
    const VerbSpec* spec = FindVerbSpec(verbName);
    const Verb* verb = FindVerb(verbName);
    if (spec == nullptr || verb == nullptr) {
        return UsageError(context,
                          "unknown verb '" + protocol::Printable(verbName) + "' (see --help)");
    }
    if (line.help) {
        context.out << VerbHelp(*spec);
        return kExitOk;
    }
    if (spec->offline) {
        return RunVerb(context, *verb, line.invocation);
    }
    return RunOnline(run, environment, *verb, line);
}

// The clock of one run, put back as it was once everything of the run has gone.
class ClockForTheRun {
  public:
    explicit ClockForTheRun(const std::shared_ptr<Clock>& clock)
        : previous_(clock ? SystemClockShared() : nullptr) {
        if (clock) {
            SetSystemClock(clock);
        }
    }
    ~ClockForTheRun() {
        if (previous_) {
            SetSystemClock(previous_);
        }
    }
    ClockForTheRun(const ClockForTheRun&) = delete;
    ClockForTheRun& operator=(const ClockForTheRun&) = delete;

  private:
    std::shared_ptr<Clock> previous_;
};

}  // namespace

int RunCommandLine(const std::vector<std::string>& arguments, CliEnvironment& environment) {
    if (!environment.control) {
        environment.control = std::make_shared<RunControl>();
    }
    RunControl& control = *environment.control;
    const ClockForTheRun clock(environment.clock);
    ProgramRun run(environment, environment.control);
    // A repeated interrupt stops the run's own axes unless a fleet names its members' instead.
    control.SetLastStop([&controller = run.controller](std::chrono::milliseconds bound) {
        return controller.Link().SendStopOnFreshSession(bound);
    });
    CommandLine line;
    line.invocation.port = kDefaultControllerPort;
    int status = kExitOk;
    if (const std::optional<std::string> error = Parse(arguments, line)) {
        status = UsageError(run.context, *error);
    } else {
        status = Run(run, environment, line);
    }
    if (line.invocation.json && status != kExitOk) {
        WriteJsonError(run.context, status);
    }
    control.SetLastStop(nullptr);
    return status;
}

}  // namespace trevane::cli
