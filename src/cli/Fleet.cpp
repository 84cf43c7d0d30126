#include "cli/Fleet.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <ostream>
#include <sstream>
#include <system_error>
#include <thread>
#include <utility>

#include "cli/Cli.h"
#include "cli/FleetFiles.h"
#include "cli/HeadlessWindow.h"
#include "cli/JsonFields.h"
#include "cli/QueuedStream.h"
#include "cli/RunControl.h"
#include "cli/VerbContext.h"
#include "cli/Verbs.h"
#include "controller/Controller.h"
#include "traffic/TraceWriter.h"

namespace trevane::cli {
namespace {

using Steady = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kPoll{50};
// What a member's files get to take the last of its lines; a file system that hangs costs
// those lines, never the fleet's end.
constexpr std::chrono::seconds kMemberFileBound{5};
// Room in a member's queues, as in the program's own standard output's: beyond it a stalled
// file costs lines, never the command path.
constexpr QueueBound kMemberQueueBound{1u << 20, 16u << 20};
// A member's standard error is read for its last line only.
constexpr std::size_t kErrorTail = 64 * 1024;

// One of the member's two files: a bounded queue, written by a thread of its own, and the
// stream the verb prints on. What is queued is also kept for the fleet to read.
class MemberStream {
  public:
    using Write = std::optional<std::string> (MemberFiles::*)(std::string_view) const;

    MemberStream(const MemberFiles& files, Write write)
        : queue_(std::make_shared<QueuedOutput>(
              [&files, write](std::string_view bytes) { return (files.*write)(bytes); },
              kMemberQueueBound)),
          buffer_(queue_, [this](std::string_view bytes) { Keep(bytes); }),
          stream_(&buffer_) {}

    std::ostream& Stream() { return stream_; }
    // What was printed since the last call.
    std::string TakeNew() {
        std::lock_guard lock(mutex_);
        return std::exchange(new_, {});
    }
    // The last kErrorTail bytes printed.
    std::string Tail() const {
        std::lock_guard lock(mutex_);
        return tail_;
    }
    // Flushes, and gives the file a bounded time for the rest; false when bytes were lost.
    bool Close() {
        stream_.flush();
        return queue_->Close(kMemberFileBound).Whole();
    }

  private:
    void Keep(std::string_view bytes) {
        std::lock_guard lock(mutex_);
        new_ += bytes;
        tail_ += bytes;
        if (tail_.size() > kErrorTail) {
            tail_.erase(0, tail_.size() - kErrorTail);
        }
    }

    std::shared_ptr<QueuedOutput> queue_;
    QueuedStreamBuf buffer_;
    std::ostream stream_;
    mutable std::mutex mutex_;
    std::string new_;
    std::string tail_;
};

// A member under way: its files, its controller, and the thread that runs the verb on it.
// Declared in the order they are made; what refers to another goes before it.
struct MemberRun {
    MemberRun(const std::filesystem::path& folder, const VerbContext& fleet,
              SessionFactory sessions_)
        : files(folder, kFleetOutputFile, kFleetErrorFile, {kFleetTraceFile}),
          out(files, &MemberFiles::WriteOutput),
          err(files, &MemberFiles::WriteError),
          window(std::make_shared<HeadlessWindow>(out.Stream(), err.Stream(), false, false)),
          context(controller, window, out.Stream(), err.Stream(), fleet.SharedControl(), false),
          trace(controller.Traffic()),
          sessions(std::move(sessions_)) {
        context.folder = folder.string();
        context.historyVariable = fleet.historyVariable;
    }

    MemberFiles files;
    MemberStream out;
    MemberStream err;
    Controller controller;
    std::shared_ptr<HeadlessWindow> window;
    VerbContext context;
    TraceWriter trace;
    SessionFactory sessions;
    std::atomic<bool> finished{false};
    int status = kExitFailed;  // set before `finished`
};

// What the member's trevane-cli would have done around its verb: the trace, the sessions, the
// interrupt's exit code, and the --json line that ends a failure.
int RunMember(MemberRun& run, const Verb& verb, const Invocation& invocation) {
    VerbContext& context = run.context;
    int status = kExitOk;
    const std::string trace = (std::filesystem::path(context.folder) / kFleetTraceFile).string();
    if (const std::optional<std::string> failure = run.trace.Start(trace)) {
        ReportError(context, "--trace " + *failure);
        status = kExitFailed;
    } else {
        status = RunOnController(context, verb, invocation, run.sessions);
        if (const std::optional<std::string> failure = run.trace.Stop()) {
            ReportError(context, "--trace " + *failure);
            status = status == kExitOk ? kExitFailed : status;
        }
    }
    if (context.Interrupted() && status != kExitUsage) {
        status = context.InterruptExitCode();
    }
    if (invocation.json && status != kExitOk) {
        WriteJsonError(context, status);
    }
    return status;
}

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

// The word of a member that ended with `status`: its test's verdict where that says it.
std::string StateOf(int status, const FleetMember& member, const std::string& verb) {
    using namespace fleet_state;
    if (status >= 128) {
        return outcome::kStopped;
    }
    if (status == kExitUsage) {
        return outcome::kNoConnection;
    }
    if (verb != "autotest") {
        return status == kExitOk ? kDone : kFailed;
    }
    if (status == kExitWarnings || (status == kExitOk && member.warned)) {
        return kPassedWithWarnings;
    }
    if (status == kExitOk) {
        return outcome::kPassed;
    }
    // Exit 1 after a pass: something besides the test failed (a file, a command).
    const bool known = !member.verdict.empty() && member.verdict != outcome::kPassed &&
                       member.verdict != outcome::kNoConnection;
    return known ? member.verdict : kFailed;
}

// One member as the fleet follows it.
struct Running {
    std::shared_ptr<MemberRun> run;
    std::thread thread;
    std::string partial;
    Steady::time_point started;
};

class FleetRunner {
  public:
    FleetRunner(VerbContext& fleet, std::vector<FleetMember>& members, const FleetOptions& options,
                const std::function<void(std::size_t)>& changed)
        : fleet_(fleet),
          control_(fleet.Control()),
          members_(members),
          options_(options),
          changed_(changed),
          verb_(FindVerb(options.verb)),
          running_(members.size()) {}

    ~FleetRunner() { control_.SetLastStop(std::move(runsLastStop_)); }

    void Run() {
        // A second interrupt ends the program at once: every member's axes stop first.
        runsLastStop_ = control_.SetLastStop(
            [this](std::chrono::milliseconds bound) { return StopAll(bound); });
        std::size_t next = 0;
        std::optional<Steady::time_point> giveUpAt;
        while (true) {
            if (!giveUpAt && control_.Requested()) {
                for (std::size_t i = next; i < members_.size(); ++i) {
                    Set(i, outcome::kStopped, "interrupted before it started");
                }
                giveUpAt = Steady::now() + kFleetStopBound;
            }
            // Asked again before each start: none begins once the interrupt has been seen.
            while (!giveUpAt && !control_.Requested() && next < members_.size() &&
                   active_ < options_.jobs) {
                Start(next++);
            }
            if (giveUpAt && Steady::now() > *giveUpAt) {
                GiveUpOnOverdue();
            }
            for (std::size_t i = 0; i < running_.size(); ++i) {
                if (running_[i]) {
                    Look(i);
                }
            }
            if (active_ == 0 && (giveUpAt || next == members_.size())) {
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

    Invocation MemberInvocation(const FleetMember& member) const {
        Invocation invocation;
        invocation.address = member.controller.address;
        invocation.port = member.controller.port;
        invocation.json = true;
        invocation.timeoutMs = options_.timeoutMs;
        invocation.args = options_.args;
        return invocation;
    }

    void Start(std::size_t i) {
        FleetMember& member = members_[i];
        Running running;
        running.started = Steady::now();
        try {
            // Made new before the member starts, so that nothing of an earlier run is read as its.
            const SessionFactory sessions = fleet_.openSessions(
                static_cast<std::uint16_t>(member.controller.port), options_.timeoutMs);
            running.run = std::make_shared<MemberRun>(member.folder, fleet_, sessions);
            MemberRun& run = *running.run;
            run.controller.Log().SetFolder(member.folder);
            run.controller.History().SetPath(options_.history);
            running.thread = std::thread(
                [keep = running.run, verb = verb_, invocation = MemberInvocation(member)] {
                    keep->status = RunMember(*keep, *verb, invocation);
                    keep->out.Close();
                    keep->err.Close();
                    keep->finished = true;
                });
        } catch (const std::exception& failure) {
            member.exitCode = kExitFailed;
            Set(i, fleet_state::kFailed, failure.what());
            return;
        }
        std::lock_guard lock(mutex_);
        running_[i] = std::make_unique<Running>(std::move(running));
        ++active_;
        Set(i, fleet_state::kRunning,
            "connecting to " + member.controller.address + ":" +
                std::to_string(member.controller.port));
    }

    // Each running member's controller gets "AB1" on a fresh session, all at once; true once
    // every one acknowledged it.
    bool StopAll(std::chrono::milliseconds bound) {
        std::vector<std::shared_ptr<MemberRun>> runs;
        {
            std::lock_guard lock(mutex_);
            for (const auto& running : running_) {
                if (running && !running->run->finished) {
                    runs.push_back(running->run);
                }
            }
        }
        const std::vector<bool> stopped = StopAcknowledged(runs, bound);
        return std::find(stopped.begin(), stopped.end(), false) == stopped.end();
    }

    // The members of `runs` whose controllers acknowledged the stop.
    static std::vector<bool> StopAcknowledged(const std::vector<std::shared_ptr<MemberRun>>& runs,
                                              std::chrono::milliseconds bound) {
        std::vector<char> stopped(runs.size(), 0);
        {
            std::vector<std::jthread> attempts;
            for (std::size_t k = 0; k < runs.size(); ++k) {
                const auto attempt = [&, k] {
                    stopped[k] = runs[k]->controller.Link().SendStopOnFreshSession(bound) ? 1 : 0;
                };
                try {
                    attempts.emplace_back(attempt);
                } catch (const std::system_error&) {
                    attempt();  // no thread to spare: in turn
                }
            }
        }
        return std::vector<bool>(stopped.begin(), stopped.end());
    }

    // The members that have not ended within the bound: their controllers are sent the stop,
    // so that none is left in the middle of a move that nothing stops, and their threads are
    // left to end by themselves.
    void GiveUpOnOverdue() {
        std::vector<std::size_t> overdue;
        std::vector<std::shared_ptr<MemberRun>> runs;
        for (std::size_t i = 0; i < running_.size(); ++i) {
            if (running_[i] && !running_[i]->run->finished) {
                overdue.push_back(i);
                runs.push_back(running_[i]->run);
            }
        }
        if (overdue.empty()) {
            return;
        }
        const std::vector<bool> stopped = StopAcknowledged(runs, kFleetLastStopBound);
        control_.LeaveThreadsBehind();
        for (std::size_t k = 0; k < overdue.size(); ++k) {
            const std::size_t i = overdue[k];
            ReadOutput(i);
            runs[k]->files.RemoveLeftovers();
            const std::string why =
                "given up: it had not ended " + std::to_string(kFleetStopBound.count()) +
                " s after the interrupt; " +
                (stopped[k] ? std::string("its controller was sent the stop first")
                            : "the stop could not be sent first: AB1 was not acknowledged within " +
                                  std::to_string(kFleetLastStopBound.count()) + " s");
            End(i, control_.ExitCode(), outcome::kStopped, why);
        }
    }

    void ReadOutput(std::size_t i) {
        Running& running = *running_[i];
        std::string text = members_[i].text;
        running.partial += running.run->out.TakeNew();
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
        if (const auto verdict = fields.find("verdict"); verdict != fields.end()) {
            member.verdict = verdict->second;
            member.warned = json::HasItems(line, "warnings") || json::HasItems(line, "drift");
        }
        for (auto [key, file] : {std::pair{"report", &member.report}, {"log", &member.log}}) {
            if (const auto field = fields.find(key); field != fields.end()) {
                *file = field->second;
            }
        }
    }

    // The text a member that ended with `status` is shown with.
    std::string EndText(std::size_t i, int status, const std::string& state) {
        const FleetMember& member = members_[i];
        if (!member.result.empty()) {
            return member.result;
        }
        if (member.text.starts_with("connecting to ")) {
            return {};  // it ended without a word of its own
        }
        if (state == outcome::kPassed || state == fleet_state::kDone) {
            return member.text;
        }
        std::string why = LastLine(running_[i]->run->err.Tail());
        if (why.starts_with("trevane-cli: ")) {
            why.erase(0, std::string_view("trevane-cli: ").size());
        }
        return why.empty() ? "exit status " + std::to_string(status) : why;
    }

    void Look(std::size_t i) {
        MemberRun& run = *running_[i]->run;
        const bool finished = run.finished;
        ReadOutput(i);
        if (!finished) {
            return;
        }
        running_[i]->thread.join();
        run.files.RemoveLeftovers();
        const std::string state = StateOf(run.status, members_[i], options_.verb);
        End(i, run.status, state, EndText(i, run.status, state));
    }

    void End(std::size_t i, int status, const std::string& state, const std::string& text) {
        FleetMember& member = members_[i];
        member.exitCode = status;
        member.seconds =
            std::chrono::duration<double>(Steady::now() - running_[i]->started).count();
        {
            std::lock_guard lock(mutex_);
            if (running_[i]->thread.joinable()) {
                running_[i]->thread.detach();  // it keeps what it uses alive
            }
            running_[i].reset();
        }
        --active_;
        Set(i, state, text);
    }

    VerbContext& fleet_;
    RunControl& control_;
    RunControl::LastStop runsLastStop_;  // put back once the members are done
    std::vector<FleetMember>& members_;
    const FleetOptions& options_;
    const std::function<void(std::size_t)>& changed_;
    const Verb* verb_;
    std::mutex mutex_;  // guards running_ against the last stop, which runs on another thread
    std::vector<std::unique_ptr<Running>> running_;
    int active_ = 0;
};

}  // namespace

bool FleetMember::Passed() const {
    return state == outcome::kPassed || state == fleet_state::kDone;
}

bool FleetMember::Succeeded() const {
    return Passed() || state == fleet_state::kPassedWithWarnings;
}

void RunFleet(VerbContext& fleet, std::vector<FleetMember>& members, const FleetOptions& options,
              const std::function<void(std::size_t)>& changed) {
    FleetRunner(fleet, members, options, changed).Run();
}

}  // namespace trevane::cli
