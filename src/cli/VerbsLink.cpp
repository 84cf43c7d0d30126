// Verbs of the controller link: connect, and send commands as the command entry would.
#include <charconv>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/HeadlessWindow.h"
#include "cli/RunControl.h"
#include "cli/Json.h"
#include "cli/VerbContext.h"
#include "cli/Verbs.h"
#include "common/Clock.h"
#include "controller/Controller.h"
#include "protocol/Protocol.h"

namespace trevane::cli {

std::optional<std::string> CheckConnectArguments(const std::vector<std::string>& args) {
    if (!args.empty()) {
        return std::string("connect takes no arguments");
    }
    return std::nullopt;
}

int RunConnect(VerbContext& context, const Invocation& invocation) {
    if (const std::optional<std::string> error = CheckConnectArguments(invocation.args)) {
        return UsageError(context, *error);
    }
    if (!ConnectLikeTheWindow(context, invocation)) {
        return kExitUsage;
    }
    const std::string description = protocol::ToUnixLineEnds(context.window->TakeTranscript());
    if (invocation.json) {
        const ControllerLink& link = context.controller.Link();
        json::WriteLine(context.out,
                        json::Object()
                            .Text("connection", json::OneLine(description))
                            .Text("command_session", SessionStateWord(link.CommandStatus().state))
                            .Text("record_session", SessionStateWord(link.RecordStatus().state)));
    } else {
        context.out << context.ForOut(description) << std::flush;
    }
    return kExitOk;
}

namespace {

struct SendArguments {
    long long repeat = 1;
    std::vector<std::string> commands;
};

bool ParseSend(const std::vector<std::string>& args, SendArguments& parsed, std::string& error) {
    std::size_t first = 0;
    if (!args.empty() && args[0] == "--repeat") {
        const std::string count = args.size() > 1 ? args[1] : std::string();
        const auto [end, ec] =
            std::from_chars(count.data(), count.data() + count.size(), parsed.repeat);
        if (ec != std::errc{} || end != count.data() + count.size() || parsed.repeat < 1) {
            error = "send --repeat needs a count of at least 1, not '" +
                    protocol::Printable(count) + "'";
            return false;
        }
        first = 2;
    }
    parsed.commands.assign(args.begin() + static_cast<std::ptrdiff_t>(std::min(first, args.size())),
                           args.end());
    if (parsed.commands.empty()) {
        error = "send needs at least one command";
        return false;
    }
    return true;
}

void PrintOutcome(std::ostream& out, const CommandOutcome& outcome) {
    json::Object line;
    line.Text("time", json::UtcTime(SystemClock().WallNow()))
        .Text("command", json::OneLine(outcome.command))
        .Raw("reply", json::LinesArray(outcome.reply))
        .Flag("ok", outcome.ok);
    if (outcome.ok) {
        line.Null("reason");
    } else {
        line.Text("reason", json::OneLine(outcome.reason));
    }
    json::WriteLine(out, line);
}

}  // namespace

void PrintCommandsAsJson(VerbContext& context, bool print) {
    std::ostream& out = context.out;
    context.watch.SetWatcher(
        print ? std::function<void(const CommandOutcome&)>(
                    [&out](const CommandOutcome& outcome) { PrintOutcome(out, outcome); })
              : std::function<void(const CommandOutcome&)>());
}


int RunSend(VerbContext& context, const Invocation& invocation) {
    SendArguments send;
    std::string error;
    if (!ParseSend(invocation.args, send, error)) {
        return UsageError(context, error);
    }
    if (!ConnectLikeTheWindow(context, invocation)) {
        return kExitUsage;
    }
    HeadlessWindow& window = *context.window;
    window.TakeTranscript();  // the description belongs to `connect`
    const int errorsBefore = window.CommandErrorCount();
    for (long long round = 1; round <= send.repeat; ++round) {
        PrintCommandsAsJson(context, invocation.json && round == send.repeat);
        for (const std::string& command : send.commands) {
            if (context.Control().Requested()) {
                PrintCommandsAsJson(context, false);
                return kExitInterrupted;
            }
            const std::string reply = context.controller.Link().SendCommand(command);
            if (round == send.repeat && !invocation.json) {
                // A failed exchange prints an empty line, so line N still answers command N.
                context.out << context.ForOut(protocol::ToUnixLineEnds(reply)) << '\n'
                            << std::flush;
            }
        }
    }
    PrintCommandsAsJson(context, false);
    return window.CommandErrorCount() == errorsBefore ? kExitOk : kExitFailed;
}

}  // namespace trevane::cli
