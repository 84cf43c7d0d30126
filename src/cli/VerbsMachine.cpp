// Verbs that drive the machine: the five procedures and a timed jog.
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <iostream>
#include <memory>
#include <stop_token>
#include <string>

#include "cli/Cli.h"
#include "cli/HeadlessWindow.h"
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
    FailureCount() : window_(TheHeadlessWindow()), start_(window_->CommandErrorCount()) {}
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

int RunProcedure(const Invocation& invocation) {
    if (invocation.args.size() != 1) {
        return UsageError("run takes one procedure: enable, disable, prepare, exit or zero");
    }
    const std::string& name = invocation.args[0];
    const NamedProcedure* chosen = nullptr;
    for (const NamedProcedure& procedure : kProcedures) {
        if (name == procedure.name) {
            chosen = &procedure;
        }
    }
    if (chosen == nullptr) {
        return UsageError("unknown procedure '" + protocol::Printable(name) +
                          "' (enable, disable, prepare, exit or zero)");
    }
    if (!ConnectLikeTheWindow(invocation)) {
        return kExitUsage;
    }
    FailureCount count;
    PrintCommandsAsJson(invocation.json);
    chosen->run(TheController().Link());
    PrintCommandsAsJson(false);
    if (count.Failures() > 0) {
        ReportError("run " + name + ": " + std::to_string(count.Failures()) + " command(s) failed");
        return kExitFailed;
    }
    return kExitOk;
}

constexpr double kMaxJogSeconds = 3600.0;

// W is not jogged from here: the window's W box selects nothing to move either, and a jog that
// exits 0 with nothing moving would mislead a script.
bool ParseAxes(const std::string& text, AxisSelection& axes) {
    static const std::string letters = "XYZ";
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

int RunJog(const Invocation& invocation) {
    if (invocation.args.size() != 3) {
        return UsageError("jog takes AXES SPEED SECONDS, for example: jog XZ -500 1.5");
    }
    AxisSelection axes{};
    int speed = 0;
    double seconds = 0.0;
    if (!ParseAxes(invocation.args[0], axes)) {
        return UsageError("jog: AXES must be letters among X, Y and Z (W cannot be jogged); got '" +
                          protocol::Printable(invocation.args[0]) + "'");
    }
    if (!ParseWhole(invocation.args[1], speed)) {
        return UsageError("jog: SPEED must be a whole number of counts per second; got '" +
                          protocol::Printable(invocation.args[1]) + "'");
    }
    if (!ParseWhole(invocation.args[2], seconds) || !std::isfinite(seconds) || seconds < 0.0 ||
        seconds > kMaxJogSeconds) {
        return UsageError("jog: SECONDS must be a number from 0 to 3600; got '" +
                          protocol::Printable(invocation.args[2]) + "'");
    }
    if (!ConnectLikeTheWindow(invocation)) {
        return kExitUsage;
    }

    // The callback may run after this verb has returned; it owns its copy of the stop state.
    std::stop_source interrupted;
    OnInterrupt([interrupted]() mutable { interrupted.request_stop(); });
    if (InterruptRequested()) {
        interrupted.request_stop();
    }

    FailureCount count;
    PrintCommandsAsJson(invocation.json);
    if (!interrupted.stop_requested()) {
        Jog(TheController().Link(), axes, speed);
        const auto duration =
            std::chrono::duration_cast<Clock::Duration>(std::chrono::duration<double>(seconds));
        SystemClock().SleepFor(duration, interrupted.get_token());
    }
    const int failuresBeforeStop = count.Failures();
    // The stop goes out whatever happened before: an interrupted jog must not keep moving.
    Jog(TheController().Link(), axes, 0);
    PrintCommandsAsJson(false);
    if (count.Failures() > failuresBeforeStop) {
        ReportError("jog: the stop sequence failed; the axes may still be moving");
    }
    if (interrupted.stop_requested() || InterruptRequested()) {
        return InterruptExitCode();
    }
    if (count.Failures() > 0) {
        ReportError("jog: " + std::to_string(count.Failures()) + " command(s) failed");
        return kExitFailed;
    }
    return kExitOk;
}

const VerbRegistration kRunVerb("run", RunProcedure);
const VerbRegistration kJogVerb("jog", RunJog);

}  // namespace
}  // namespace trevane::cli
