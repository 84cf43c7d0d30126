// Verbs that drive the machine: the five procedures and a timed jog.
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>

#include "cli/HeadlessWindow.h"
#include "cli/RunControl.h"
#include "cli/VerbContext.h"
#include "cli/Verbs.h"
#include "common/Clock.h"
#include "controller/Controller.h"
#include "machine/Jog.h"
#include "machine/Procedures.h"
#include "protocol/Protocol.h"

namespace trevane::cli {
namespace {

// The command routine tells of a failure only to the operator; the command-line one counts them.
class FailureCount {
  public:
    explicit FailureCount(std::shared_ptr<HeadlessWindow> window)
        : window_(std::move(window)), start_(window_->CommandErrorCount()) {}
    int Failures() const { return window_->CommandErrorCount() - start_; }

  private:
    std::shared_ptr<HeadlessWindow> window_;
    int start_;
};

struct NamedProcedure {
    const char* name;
    void (*run)(ControllerLink&);
};

constexpr NamedProcedure kProcedures[] = {
    {"enable", EnableMachine}, {"disable", DisableMachine}, {"prepare", PrepareMotion},
    {"exit", ExitMotion},      {"zero", SetZero},
};

}  // namespace

int RunProcedure(VerbContext& context, const Invocation& invocation) {
    if (invocation.args.size() != 1) {
        return UsageError(context, "run takes one procedure: enable, disable, prepare, exit or zero");
    }
    const std::string& name = invocation.args[0];
    const NamedProcedure* chosen = nullptr;
    for (const NamedProcedure& procedure : kProcedures) {
        if (name == procedure.name) {
            chosen = &procedure;
        }
    }
    if (chosen == nullptr) {
        return UsageError(context, "unknown procedure '" + protocol::Printable(name) +
                          "' (enable, disable, prepare, exit or zero)");
    }
    if (!ConnectLikeTheWindow(context, invocation)) {
        return kExitUsage;
    }
    FailureCount count(context.window);
    PrintCommandsAsJson(context, invocation.json);
    chosen->run(context.controller.Link());
    PrintCommandsAsJson(context, false);
    if (count.Failures() > 0) {
        ReportError(context, "run " + name + ": " + std::to_string(count.Failures()) + " command(s) failed");
        return kExitFailed;
    }
    return kExitOk;
}

namespace {

constexpr double kMaxJogSeconds = 3600.0;

// W is not jogged from here: the window's W box selects nothing to move either, and a jog that
// exits 0 with nothing moving would mislead a script.
bool ParseAxes(const std::string& text, AxisSelection& axes) {
    constexpr std::string_view letters = "XYZ";
    axes = {};
    for (char c : text) {
        const auto at =
            letters.find(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
        if (at == std::string::npos) {
            return false;
        }
        axes[at] = 1;
    }
    return !text.empty();
}

template <typename Number>
bool ParseWhole(const std::string& text, Number& value) {
    const char* end = text.data() + text.size();
    auto [ptr, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && error == std::errc{} && ptr == end;
}

}  // namespace

int RunJog(VerbContext& context, const Invocation& invocation) {
    if (invocation.args.size() != 3) {
        return UsageError(context, "jog takes AXES SPEED SECONDS, for example: jog XZ -500 1.5");
    }
    AxisSelection axes{};
    int speed = 0;
    double seconds = 0.0;
    if (!ParseAxes(invocation.args[0], axes)) {
        return UsageError(context, std::string("jog: AXES must be letters among X, Y and Z (") +
                                       kWCannotBeJoggedText + "); got '" +
                                       protocol::Printable(invocation.args[0]) + "'");
    }
    if (!ParseWhole(invocation.args[1], speed)) {
        return UsageError(context, "jog: SPEED must be a whole number of counts per second; got '" +
                          protocol::Printable(invocation.args[1]) + "'");
    }
    if (!ParseWhole(invocation.args[2], seconds) || !std::isfinite(seconds) || seconds < 0.0 ||
        seconds > kMaxJogSeconds) {
        return UsageError(context, "jog: SECONDS must be a number from 0 to 3600; got '" +
                          protocol::Printable(invocation.args[2]) + "'");
    }
    if (!ConnectLikeTheWindow(context, invocation)) {
        return kExitUsage;
    }

    // The callback may run after this verb has returned; it owns its copy of the stop state.
    std::stop_source interrupted;
    context.Control().OnInterrupt([interrupted]() mutable { interrupted.request_stop(); });
    if (context.Control().Requested()) {
        interrupted.request_stop();
    }

    FailureCount count(context.window);
    PrintCommandsAsJson(context, invocation.json);
    if (!interrupted.stop_requested()) {
        Jog(context.controller.Link(), axes, speed);
        const auto duration =
            std::chrono::duration_cast<Clock::Duration>(std::chrono::duration<double>(seconds));
        SystemClock().SleepFor(duration, interrupted.get_token());
    }
    const int failuresBeforeStop = count.Failures();
    // The stop goes out whatever happened before: an interrupted jog must not keep moving.
    Jog(context.controller.Link(), axes, 0);
    PrintCommandsAsJson(context, false);
    if (count.Failures() > failuresBeforeStop) {
        ReportError(context, "jog: the stop sequence failed; the axes may still be moving");
    }
    if (interrupted.stop_requested() || context.Control().Requested()) {
        return context.InterruptExitCode();
    }
    if (count.Failures() > 0) {
        ReportError(context, "jog: " + std::to_string(count.Failures()) + " command(s) failed");
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace trevane::cli
