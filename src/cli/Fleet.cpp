#include "cli/Fleet.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "cli/ChildProcess.h"
#include "cli/Cli.h"
#include "cli/JsonFields.h"
#include "cli/Verbs.h"

namespace trevane::cli {
namespace {

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kPoll{50};

// One running child and what has been read of its standard output.
struct Running {
    std::unique_ptr<Child> child;
    std::ifstream output;
    std::string partial;
    Steady::time_point started;
};

std::string LastLine(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
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
        while (true) {
            if (!killAt && InterruptRequested()) {
                PassOnInterrupt(next);
                killAt = Steady::now() + kFleetStopBound;
            }
            while (!killAt && next < members_.size() && active_ < options_.jobs) {
                Start(next++);
            }
            for (std::size_t i = 0; i < running_.size(); ++i) {
                if (running_[i]) {
                    Look(i, killAt && Steady::now() > *killAt);
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
        std::error_code error;
        fs::create_directories(member.folder, error);
        if (error) {
            member.exitCode = kExitFailed;
            Set(i, "failed", "cannot make the folder '" + member.folder + "': " + error.message());
            return;
        }
        ChildSpec spec;
        spec.program = options_.program;
        spec.arguments = {"--address", member.controller.address, "--port",
                          std::to_string(member.controller.port)};
        const std::vector<std::string> rest = Arguments();
        spec.arguments.insert(spec.arguments.end(), rest.begin(), rest.end());
        spec.folder = member.folder;
        spec.outputFile = (fs::path(member.folder) / kFleetOutputFile).string();
        spec.errorFile = (fs::path(member.folder) / kFleetErrorFile).string();
        spec.environment = {"TREVANE_HISTORY=" + options_.history};
        // Emptied before the child starts, so that nothing of an earlier run is read as its.
        std::ofstream(spec.outputFile, std::ios::binary | std::ios::trunc);
        auto running = std::make_unique<Running>();
        running->started = Steady::now();
        try {
            running->child = std::make_unique<Child>(spec);
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
        if (!running.output.is_open()) {
            running.output.open(fs::path(members_[i].folder) / kFleetOutputFile, std::ios::binary);
        }
        running.output.clear();
        char buffer[16 * 1024];
        std::string text = members_[i].text;
        while (running.output.read(buffer, sizeof buffer) || running.output.gcount() > 0) {
            running.partial.append(buffer, static_cast<std::size_t>(running.output.gcount()));
            for (std::size_t end = running.partial.find('\n'); end != std::string::npos;
                 end = running.partial.find('\n')) {
                See(i, running.partial.substr(0, end), text);
                running.partial.erase(0, end + 1);
            }
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

    void Look(std::size_t i, bool overdue) {
        Running& running = *running_[i];
        ReadOutput(i);
        if (overdue) {
            running.child->Kill();
        }
        const std::optional<int> status = running.child->Poll();
        if (!status) {
            return;
        }
        ReadOutput(i);
        FleetMember& member = members_[i];
        member.exitCode = *status;
        member.seconds = std::chrono::duration<double>(Steady::now() - running.started).count();
        const std::string state = overdue ? "aborted" : StateOf(*status, options_.verb);
        std::string text = member.text;
        if (overdue) {
            text = "killed: it had not ended " + std::to_string(kFleetStopBound.count()) +
                   " s after the interrupt";
        } else if (!member.result.empty()) {
            text = member.result;
        } else if (text.starts_with("connecting to ")) {
            text.clear();  // it ended without a word of its own
        } else if (state != "passed" && state != "done") {
            std::string why = LastLine((fs::path(member.folder) / kFleetErrorFile).string());
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
