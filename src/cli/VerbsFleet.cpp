// Many controllers at once: one controller and thread each in this process, each in its own
// folder, one summary.
#include <algorithm>
#include <charconv>
#include <filesystem>
#include <ostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/Fleet.h"
#include "cli/FleetFile.h"
#include "cli/FleetReport.h"
#include "cli/HistoryServerOption.h"
#include "cli/Json.h"
#include "cli/RunControl.h"
#include "cli/VerbContext.h"
#include "cli/Verbs.h"
#include "common/CLocale.h"
#include "common/Clock.h"
#include "common/FileReplace.h"
#include "history/History.h"
#include "history/ServerAddress.h"
#include "history/ServerStore.h"
#include "history/Sync.h"
#include "protocol/Protocol.h"

namespace trevane::cli {
namespace {

namespace fs = std::filesystem;

constexpr int kMaxJobs = 64;
constexpr const char* kUsage =
    "fleet FILE [--jobs N] [--strict] [--history URL] autotest|record|connect [ARGS]";

struct FleetCommand {
    std::string file;
    FleetOptions options;
    std::optional<std::string> server;  // --history before the verb
};

// The server named after the verb, for the members, wins over the one named before it.
std::optional<std::string> ServerAfterTheVerb(const std::vector<std::string>& args) {
    const auto at = std::find(args.begin(), args.end(), "--history");
    return at != args.end() && at + 1 != args.end() ? std::optional<std::string>(*(at + 1))
                                                    : std::nullopt;
}

// What the members could not send while the server was away goes now.
void SendWhatWaits(std::ostream& err, const std::string& server, const fs::path& historyFile) {
    std::error_code noFile;
    if (!fs::is_regular_file(historyFile, noFile)) {
        return;
    }
    try {
        history::History local(historyFile.string());
        try {
            const history::SyncResult sync = history::SendWaiting(
                local, *history::OpenServerStore(history::ParseServerAddress(server)));
            if (sync.sent > 0) {
                err << "trevane-cli: fleet: history: " << sync.sent
                          << (sync.sent == 1 ? " test" : " tests") << " sent to the server\n";
            }
        } catch (const history::HistoryError& e) {
            err << "trevane-cli: fleet: history: " << e.what() << "\n"
                      << "trevane-cli: fleet: "
                      << history::KeptLocallyText(static_cast<int>(local.Waiting().size()))
                      << "\n";
        }
    } catch (const std::exception& e) {
        err << "trevane-cli: fleet: history: " << e.what() << "\n";
    }
}

// Returns an error text, or nothing when the arguments are sound.
std::optional<std::string> ParseFleetArguments(const std::vector<std::string>& args,
                                               FleetCommand& command) {
    std::size_t i = 0;
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--jobs") {
            if (i + 1 == args.size()) {
                return std::string("--jobs needs a value");
            }
            const std::string& value = args[++i];
            int jobs = 0;
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), jobs);
            if (ec != std::errc{} || end != value.data() + value.size() || jobs < 1 ||
                jobs > kMaxJobs) {
                return "--jobs '" + protocol::Printable(value) + "' is not a number 1.." +
                       std::to_string(kMaxJobs);
            }
            command.options.jobs = jobs;
        } else if (arg == "--strict") {
            command.options.strict = true;
        } else if (arg == "--history") {
            if (i + 1 == args.size()) {
                return std::string("--history needs a URL or service name");
            }
            command.server = args[++i];
        } else if (command.file.empty()) {
            command.file = arg;
        } else {
            break;
        }
    }
    if (command.file.empty() || i == args.size()) {
        return std::string("needs a FILE and a verb");
    }
    command.options.verb = args[i];
    if (command.options.verb != "autotest" && command.options.verb != "record" &&
        command.options.verb != "connect") {
        return "'" + protocol::Printable(command.options.verb) +
               "' cannot run on a fleet (autotest, record or connect)";
    }
    command.options.args.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
    return std::nullopt;
}

// --strict before the verb or among autotest's own arguments: the members and the fleet both.
std::optional<std::string> MakeStrict(FleetOptions& options) {
    std::vector<std::string>& args = options.args;
    const bool memberStrict = std::find(args.begin(), args.end(), "--strict") != args.end();
    if (options.strict && options.verb != "autotest") {
        return "fleet: --strict is an option of autotest, not of " + options.verb;
    }
    options.strict = options.strict || (memberStrict && options.verb == "autotest");
    if (options.strict && !memberStrict) {
        args.push_back("--strict");
    }
    return std::nullopt;
}

// The verb's own check, of the arguments as they were given: what the fleet adds for its
// members could hide an error (a last "--history" would take an added "--report" as its URL).
std::optional<std::string> CheckVerbArguments(const FleetOptions& options) {
    const Verb* verb = FindVerb(options.verb);
    if (verb == nullptr || verb->checkArguments == nullptr) {
        return std::nullopt;
    }
    return verb->checkArguments(options.args);
}

// Every member of a fleet's autotest writes its report: the summary links to them.
void AddReport(FleetOptions& options) {
    const bool hasReport =
        std::find(options.args.begin(), options.args.end(), "--report") != options.args.end();
    if (options.verb == "autotest" && !hasReport) {
        options.args.push_back("--report");
    }
}

// Opened once before any member starts, so that they find it begun and never race to create it
// (one of them would find another's half-made file). Returns why not when it cannot be written.
std::optional<std::string> BeginHistory(std::ostream& err, const std::string& path) {
    try {
        const history::History history(path);
        if (history.Notice()) {
            err << "trevane-cli: fleet: " << *history.Notice() << "\n";
        }
    } catch (const std::exception& error) {
        return std::string(error.what());
    }
    return std::nullopt;
}

void PrintJsonEnd(std::ostream& out, const std::vector<FleetMember>& members) {
    int passed = 0;
    int warned = 0;
    for (const FleetMember& member : members) {
        passed += member.Passed() ? 1 : 0;
        warned += member.state == fleet_state::kPassedWithWarnings ? 1 : 0;
        json::Object line;
        line.Text("controller", member.controller.name)
            .Text("state", member.state)
            .Text("text", member.text)
            .Number("exit", static_cast<long long>(member.exitCode.value_or(-1)))
            .Number("seconds", member.seconds)
            .Text("folder", member.folder);
        for (const auto& [key, file] : {std::pair{"verdict_line", member.result},
                                        {"report", member.report},
                                        {"log", member.log}}) {
            if (file.empty()) {
                line.Null(key);
            } else {
                line.Text(key, file);
            }
        }
        json::WriteLine(out, line);
    }
    json::WriteLine(out, json::Object()
                                   .Number("controllers", static_cast<long long>(members.size()))
                                   .Number("passed", static_cast<long long>(passed))
                                   .Number("passed_with_warnings", static_cast<long long>(warned))
                                   .Text("summary", kFleetSummaryFile));
}

}  // namespace

int RunFleetVerb(VerbContext& context, const Invocation& invocation) {
    if (!invocation.address.empty()) {
        return UsageError(context, "fleet: the addresses come from FILE, not --address (usage: " +
                          std::string(kUsage) + ")");
    }
    FleetCommand command;
    if (const std::optional<std::string> error = ParseFleetArguments(invocation.args, command)) {
        return UsageError(context, "fleet: " + *error + " (usage: " + kUsage + ")");
    }
    // Once here, before anything starts, not once by each member after its start.
    if (const std::optional<std::string> error = CheckVerbArguments(command.options)) {
        return UsageError(context, "fleet: " + *error);
    }
    if (const std::optional<std::string> error = MakeStrict(command.options)) {
        return UsageError(context, *error);
    }
    AddReport(command.options);
    std::vector<FleetMember> members;
    std::error_code noFolder;
    const fs::path here = fs::current_path(noFolder);
    try {
        for (FleetController& controller : ReadFleetFile(command.file, invocation.port)) {
            FleetMember member;
            member.folder = (here / controller.name).string();
            member.controller = std::move(controller);
            members.push_back(std::move(member));
        }
    } catch (const std::exception& error) {
        return UsageError(context, std::string("fleet: ") + error.what());
    }
    command.options.timeoutMs = invocation.timeoutMs;
    command.options.history = (here / history::kHistoryFileName).string();
    const std::optional<std::string> afterVerb = ServerAfterTheVerb(command.options.args);
    const HistoryServerChoice server =
        ChooseHistoryServer(afterVerb ? afterVerb : command.server, context.historyVariable);
    if (server.error) {
        return UsageError(context, "fleet: " + *server.error);
    }
    const bool toServer = server.server && command.options.verb == "autotest";
    if (toServer && !afterVerb) {
        // The members keep the fleet's file as their history, so the server goes by option.
        command.options.args.insert(command.options.args.end(), {"--history", *server.server});
    }
    if (command.options.verb == "autotest") {
        if (const std::optional<std::string> failure =
                BeginHistory(context.err, command.options.history)) {
            ReportError(context, "fleet: the history cannot be written: " + *failure +
                        "; no controller was started");
            return kExitFailed;
        }
    }

    RunControl& control = context.Control();
    control.StartWatching();
    const FleetDisplay::Mode mode = invocation.json          ? FleetDisplay::Mode::Json
                                    : context.outIsTerminal ? FleetDisplay::Mode::Terminal
                                                            : FleetDisplay::Mode::Lines;
    FleetDisplay display(mode, members, context.out, [&context] { context.OutputBroken(); });
    RunFleet(context, members, command.options,
             [&](std::size_t index) { display.Changed(index); });
    display.Flush();
    control.StopWatching();
    if (toServer) {
        SendWhatWaits(context.err, *server.server, here / history::kHistoryFileName);
    }

    const std::string title =
        "Fleet " + fs::path(command.file).filename().string() + ", " +
        FormatTimeC("%Y-%m-%d %H:%M:%S", ToLocalTime(SystemClock().WallNow()));
    const std::optional<std::string> unwritten =
        ReplaceFileAtomically(kFleetSummaryFile, FleetSummaryHtml(members, title));
    if (invocation.json) {
        PrintJsonEnd(context.out, members);
    } else {
        context.out << "\n" << FleetSummaryTable(members) << std::flush;
    }
    if (unwritten) {
        context.err << "trevane-cli: fleet: " << *unwritten << "\n";
    } else {
        context.err << "trevane-cli: fleet: summary '" << kFleetSummaryFile << "'\n";
    }
    if (control.Requested()) {
        return control.ExitCode();
    }
    const auto failed = std::count_if(members.begin(), members.end(),
                                      [](const FleetMember& member) { return !member.Succeeded(); });
    if (failed > 0) {
        ReportError(context, "fleet: " + std::to_string(failed) + " of " +
                                 std::to_string(members.size()) + " controllers did not pass");
    }
    if (failed > 0 || unwritten) {
        return kExitFailed;
    }
    const auto warned = std::count_if(members.begin(), members.end(), [](const FleetMember& m) {
        return m.state == fleet_state::kPassedWithWarnings;
    });
    if (warned > 0 && command.options.strict) {
        ReportError(context, "fleet: " + std::to_string(warned) + " of " +
                                 std::to_string(members.size()) +
                                 " controllers passed with warnings or drift (--strict)");
        return kExitWarnings;
    }
    return kExitOk;
}

}  // namespace trevane::cli
