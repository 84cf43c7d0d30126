#include "cli/Cli.h"

#include <exception>
#include <string>
#include <vector>

#include "cli/HeadlessWindow.h"
#include "cli/Json.h"
#include "cli/VerbContext.h"
#include "controller/Controller.h"

namespace trevane::cli {

int RunVerb(VerbContext& context, const Verb& verb, const Invocation& invocation) {
    try {
        return verb.run(context, invocation);
    } catch (const std::exception& error) {
        ReportError(context, std::string(verb.name) + ": " + error.what());
    } catch (...) {
        ReportError(context, std::string(verb.name) + ": failed");
    }
    return kExitFailed;
}

int RunOnController(VerbContext& context, const Verb& verb, const Invocation& invocation,
                    SessionFactory sessions) {
    context.controller.SetOperator(context.window);
    context.controller.Link().SetSessionFactory(std::move(sessions));
    WatchTheSessions(context);
    const int status = RunVerb(context, verb, invocation);
    // Sessions close before the context's own objects go away.
    ControllerLink& link = context.controller.Link();
    link.Close();
    link.SetSessionFactory(nullptr);
    link.SetOperator(nullptr);
    context.controller.Traffic().WatchExchanges(nullptr);
    ReportRepeatedFailures(context);
    return status;
}

namespace {

// Each kind of failed command once, with how often it came.
std::string FailuresJson(const std::vector<CommandFailureKind>& failures) {
    std::vector<std::string> kinds;
    for (const CommandFailureKind& kind : failures) {
        kinds.push_back(json::Object()
                            .Text("message", json::OneLine(kind.text))
                            .Number("times", kind.times)
                            .Str());
    }
    return json::Array(kinds);
}

}  // namespace

void WriteJsonError(VerbContext& context, int status) {
    std::string message = context.LastError();
    if (message.empty()) {
        message = status > 128 ? "interrupted" : "failed";
    }
    json::Object error;
    error.Text("message", json::OneLine(message)).Number("exit", static_cast<long long>(status));
    if (const std::vector<CommandFailureKind> failures = context.watch.Failures();
        !failures.empty()) {
        error.Raw("failures", FailuresJson(failures));
    }
    json::WriteLine(context.out, json::Object().Raw("error", error.Str()));
}

}  // namespace trevane::cli
