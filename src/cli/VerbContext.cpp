#include "cli/VerbContext.h"

#include <filesystem>
#include <system_error>

#include "cli/Cli.h"
#include "cli/HeadlessWindow.h"
#include "cli/RunControl.h"
#include "cli/TerminalText.h"
#include "controller/Controller.h"

namespace trevane::cli {

namespace fs = std::filesystem;

VerbContext::VerbContext(Controller& controller_, std::shared_ptr<HeadlessWindow> window_,
                         std::ostream& out_, std::ostream& err_,
                         std::shared_ptr<RunControl> control, bool standardStreams)
    : controller(controller_),
      window(std::move(window_)),
      out(out_),
      err(err_),
      control_(std::move(control)),
      standardStreams_(standardStreams) {
    // An interrupt of the run stops every verb it runs. The callback owns its copy of the stop
    // state: it may run after this context has gone.
    control_->OnInterrupt([stop = stop_]() mutable { stop.request_stop(); });
}

std::stop_token VerbContext::StopToken() const {
    if (control_->Requested()) {
        // Came before the watcher ran the callbacks.
        std::stop_source(stop_).request_stop();
    }
    return stop_.get_token();
}

bool VerbContext::Interrupted() const {
    return stop_.stop_requested() || control_->Requested();
}

int VerbContext::InterruptExitCode() const {
    // A member's own output that broke stops it as a broken pipe stops the program.
    constexpr int kBrokenOutput = 128 + 13;
    if (!standardStreams_ && outputBroken_ && !control_->Requested()) {
        return kBrokenOutput;
    }
    return control_->ExitCode();
}

void VerbContext::OutputBroken() {
    if (standardStreams_) {
        control_->OutputBroken();
        return;
    }
    outputBroken_ = true;
    stop_.request_stop();
}

std::string VerbContext::ForOut(std::string_view text) const {
    return standardStreams_ && outIsTerminal ? EscapeForTerminal(text) : std::string(text);
}

std::string VerbContext::ForErr(std::string_view text) const {
    return standardStreams_ && errIsTerminal ? EscapeForTerminal(text) : std::string(text);
}

std::string VerbContext::Shown(const std::string& path) const {
    if (folder.empty() || path.empty()) {
        return path;
    }
    const fs::path relative = fs::path(path).lexically_relative(folder);
    if (relative.empty() || relative.begin()->string() == "..") {
        return path;
    }
    return relative.string();
}

void VerbContext::SetLastError(const std::string& message) {
    std::lock_guard lock(errorMutex_);
    lastError_ = message;
}

std::string VerbContext::LastError() const {
    std::lock_guard lock(errorMutex_);
    return lastError_;
}

void ReportError(VerbContext& context, const std::string& message) {
    context.SetLastError(message);
    context.err << "trevane-cli: " + context.ForErr(message) + "\n" << std::flush;
}

int UsageError(VerbContext& context, const std::string& message) {
    ReportError(context, message);
    return kExitUsage;
}

namespace {

// Why the connection failed, in the words an operator can act on.
std::string ConnectFailure(VerbContext& context, const Invocation& invocation) {
    std::string reason = context.controller.Link().LastConnectFailure();
    const std::string endpoint = invocation.address + ":" + std::to_string(invocation.port);
    if (context.watch.SawTimeout()) {
        // A silent peer is most often the wrong port or another kind of device.
        reason = "no reply from " + endpoint + " within " + std::to_string(invocation.timeoutMs) +
                 " ms: is the port right, and is it a controller of this kind? --timeout MS "
                 "allows a slower one";
    } else if (reason.empty()) {
        reason = "the controller at " + endpoint + " did not describe the connection";
    }
    return std::string(kConnectionFailedText) + ": " + reason;
}

}  // namespace

bool ConnectLikeTheWindow(VerbContext& context, const Invocation& invocation) {
    HeadlessWindow& window = *context.window;
    window.SetAddress(invocation.address);
    context.watch.ForgetTimeouts();
    window.HoldMessages(true);
    context.watch.Hold();
    ControllerLink& link = context.controller.Link();
    link.Connect();
    window.HoldMessages(false);
    const std::vector<std::string> messages = window.TakeHeldMessages();
    if (link.Connected()) {
        context.watch.Release(context, true);
        for (const std::string& message : messages) {
            context.err << message << "\n";
        }
        return true;
    }
    context.watch.Release(context, false);  // the one line below says why
    ReportError(context, ConnectFailure(context, invocation));
    return false;
}

}  // namespace trevane::cli
