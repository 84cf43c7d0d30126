#include "cli/Fleet.h"

#include <csignal>
#include <memory>
#include <sstream>
#include <thread>

#include "cli/ChildProcess.h"
#include "cli/Cli.h"
#include "cli/FleetFiles.h"
#include "cli/FleetStop.h"
#include "cli/JsonFields.h"
#include "cli/Verbs.h"

namespace trevane::cli {
namespace {

using Steady = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kPoll{50};

// One running child, its files and what has been read of its standard output.
struct Running {
    std::unique_ptr<MemberFiles> files;
    std::unique_ptr<Child> child;
    std::string partial;
    Steady::time_point started;
    std::string killed;  // why it was killed, "" while it was not
};

std::string LastLine(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    std::string last;
    while (std::getline(in, line)) {
        if (!line.empty()) {
            last = line;
        }
    }
    return last;
}

// The word of a child's exit status: the CLI's own exit codes.
std::string StateOf(int status, const std::string& verb) {
    if (status == kExitOk) {
        return verb == "autotest" ? "passed" : "done";
    }
    if (status == kExitUsage) {
        return "not run";
    }
    return status >= 128 && status != 128 + 9 ? "aborted" : "failed";
}

class FleetRunner {
  public:
    FleetRunner(std::vector<FleetMember>& members, const FleetOptions& options,
                const std::function<void(std::size_t)>& changed)
        : members_(members), options_(options), changed_(changed), running_(members.size()) {}

    void Run() {
        std::size_t next = 0;
        std::optional<Steady::time_point> killAt;
        bool killed = false;
        while (true) {
            if (!killAt && InterruptRequested()) {
                PassOnInterrupt(next);
                killAt = Steady::now() + kFleetStopBound;
            }
            // Asked again before each start: none begins once the interrupt has been seen.
            while (!killAt && !InterruptRequested() && next < members_.size() &&
                   active_ < options_.jobs) {
                Start(next++);
            }
            if (killAt && !killed && Steady::now() > *killAt) {
                KillOverdue();
                killed = true;
            }
            for (std::size_t i = 0; i < running_.size(); ++i) {
                if (running_[i]) {
                    Look(i);
                }
            }
            if (active_ == 0 && (killAt || next == members_.size())) {
                return;
            }
            std::this_thread::sleep_for(kPoll);
        }
    }

  private:
    void Set(std::size_t i, const std::string& state, const std::string& text) {
        FleetMember& member = members_[i];
        if (member.state != state || member.text != text) {
            member.state = state;
            member.text = text;
            changed_(i);
        }
    }

    std::vector<std::string> Arguments() const {
        std::vector<std::string> args{"--json", "--trace", kFleetTraceFile, options_.verb};
        args.insert(args.end(), options_.args.begin(), options_.args.end());
        return args;
    }

    void Start(std::size_t i) {
        FleetMember& member = members_[i];
        auto running = std::make_unique<Running>();
        running->started = Steady::now();
        try {
            // Made new before the child starts, so that nothing of an earlier run is read as its.
            running->files =
                std::make_unique<MemberFiles>(member.folder, kFleetOutputFile, kFleetErrorFile,
                                              std::vector<std::string>{kFleetTraceFile});
            ChildSpec spec;
            spec.program = options_.program;
            spec.arguments = {"--address", member.controller.address, "--port",
                              std::to_string(member.controller.port)};
            const std::vector<std::string> rest = Arguments();
            spec.arguments.insert(spec.arguments.end(), rest.begin(), rest.end());
            spec.folder = member.folder;
            spec.outputFd = running->files->OutputForChild();
            spec.errorFd = running->files->ErrorForChild();
            spec.environment = {"TREVANE_HISTORY=" + options_.history};
            running->child = std::make_unique<Child>(spec);
            running->files->CloseChildEnds();
        } catch (const std::exception& failure) {
            member.exitCode = kExitFailed;
            Set(i, "failed", failure.what());
            return;
        }
        running_[i] = std::move(running);
        ++active_;
        Set(i, "running",
            "connecting to " + member.controller.address + ":" +
                std::to_string(member.controller.port));
    }

    // The children that have not ended within the bound are held where they are, their
    // controllers are sent the stop, and only then are they killed: none is ended in the middle
    // of a move that nothing stops.
    void KillOverdue() {
        std::vector<std::size_t> overdue;
        std::vector<FleetController> controllers;
        for (std::size_t i = 0; i < running_.size(); ++i) {
            if (running_[i] && !running_[i]->child->Poll()) {
                running_[i]->child->Freeze();
                overdue.push_back(i);
                controllers.push_back(members_[i].controller);
            }
        }
        const std::vector<std::optional<std::string>> stops = StopMotionOn(controllers);
        for (std::size_t k = 0; k < overdue.size(); ++k) {
            Running& running = *running_[overdue[k]];
            running.child->Kill();
            running.killed = "killed: it had not ended " + std::to_string(kFleetStopBound.count()) +
                             " s after the interrupt; " +
                             (stops[k] ? "the stop could not be sent first: " + *stops[k]
                                       : std::string("its controller was sent the stop first"));
        }
    }

    void PassOnInterrupt(std::size_t next) {
        // A broken standard output of ours is no reason to stop a child any other way.
        int signal = InterruptExitCode() - 128;
#ifndef _WIN32
        if (signal != SIGINT && signal != SIGHUP) {
            signal = SIGTERM;
        }
#endif
        for (auto& running : running_) {
            if (running) {
                running->child->Signal(signal);
            }
        }
        for (std::size_t i = next; i < members_.size(); ++i) {
            Set(i, "not run", "interrupted before it started");
        }
    }

    void ReadOutput(std::size_t i) {
        Running& running = *running_[i];
        std::string text = members_[i].text;
        running.partial += running.files->NewOutput();
        for (std::size_t end = running.partial.find('\n'); end != std::string::npos;
             end = running.partial.find('\n')) {
            See(i, running.partial.substr(0, end), text);
            running.partial.erase(0, end + 1);
        }
        Set(i, members_[i].state, text);
    }

    void See(std::size_t i, const std::string& line, std::string& text) {
        FleetMember& member = members_[i];
        const std::map<std::string, std::string> fields = json::TextMembers(line);
        for (const char* key : {"text", "error.message", "connection"}) {
            if (const auto field = fields.find(key); field != fields.end()) {
                text = field->second;
            }
        }
        if (const auto result = fields.find("verdict_line"); result != fields.end()) {
            member.result = result->second;
        }
        for (auto [key, file] : {std::pair{"report", &member.report}, {"log", &member.log}}) {
            if (const auto field = fields.find(key); field != fields.end()) {
                *file = field->second;
            }
        }
    }

    void Look(std::size_t i) {
        Running& running = *running_[i];
        ReadOutput(i);
        const std::optional<int> status = running.child->Poll();
        if (!status) {
            return;
        }
        ReadOutput(i);
        running.files->RemoveLeftovers();
        const bool overdue = !running.killed.empty();
        FleetMember& member = members_[i];
        member.exitCode = *status;
        member.seconds = std::chrono::duration<double>(Steady::now() - running.started).count();
        const std::string state = overdue ? "aborted" : StateOf(*status, options_.verb);
        std::string text = member.text;
        if (overdue) {
            text = running.killed;
        } else if (!member.result.empty()) {
            text = member.result;
        } else if (text.starts_with("connecting to ")) {
            text.clear();  // it ended without a word of its own
        } else if (state != "passed" && state != "done") {
            std::string why = LastLine(running.files->Errors());
            if (why.starts_with("trevane-cli: ")) {
                why.erase(0, std::string_view("trevane-cli: ").size());
            }
            text = why.empty() ? "exit status " + std::to_string(*status) : why;
        }
        running_[i].reset();
        --active_;
        Set(i, state, text);
    }

    std::vector<FleetMember>& members_;
    const FleetOptions& options_;
    const std::function<void(std::size_t)>& changed_;
    std::vector<std::unique_ptr<Running>> running_;
    int active_ = 0;
};

}  // namespace

void RunFleet(std::vector<FleetMember>& members, const FleetOptions& options,
              const std::function<void(std::size_t)>& changed) {
    FleetRunner(members, options, changed).Run();
}

}  // namespace trevane::cli
