#include "cli/Cli.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/HeadlessWindow.h"
#include "cli/Json.h"
#include "cli/StandardOutputs.h"
#include "cli/TerminalText.h"
#include "cli/VerbContext.h"
#include "cli/Verbs.h"
#include "common/Platform.h"
#include "common/StopWait.h"
#include "controller/Controller.h"
#include "net/TcpMotionClient.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace trevane::cli {
namespace {

// Made at first use and kept to the program's end: the interrupt watcher may still send its
// last stop through it.
Controller& ProgramController() {
    static Controller controller;
    return controller;
}

std::vector<Verb>& Registry() {
    static std::vector<Verb> verbs;
    return verbs;
}

std::mutex g_lastStopMutex;
std::function<bool(std::chrono::milliseconds)> g_lastStop;  // guarded by g_lastStopMutex
std::atomic<bool> g_threadsLeftBehind{false};

// Counted in the signal handler: a lock-free atomic is the one thing a handler may touch.
std::atomic<int> g_interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);

// The first signal names the exit code (128 + its number), as a shell reports a killed program.
std::atomic<int> g_firstSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<bool> g_outputBroken{false};

#ifdef _WIN32
// Windows has neither signal; the exit codes stay those of a Linux shell.
constexpr int kSignalHangUp = 1;
constexpr int kSignalBrokenPipe = 13;
#else
constexpr int kSignalHangUp = SIGHUP;
constexpr int kSignalBrokenPipe = SIGPIPE;
#endif

extern "C" void HandleInterruptSignal(int signal) {
    int none = 0;
    g_firstSignal.compare_exchange_strong(none, signal);
    g_interrupts.fetch_add(1);
#ifndef _WIN32
    // Where the platform resets the handler on delivery, arm it again for the next Ctrl-C.
    std::signal(signal, HandleInterruptSignal);
#endif
}

#ifdef _WIN32
// Runs on a thread of its own. Ctrl-C and Ctrl-Break count as SIGINT. Closing the console (or
// logging off) counts as a hang-up; Windows ends the process once this returns, so it waits
// here, bounded below the system's 5 s grace, while the watcher stops the axes and main returns.
BOOL WINAPI HandleConsoleEvent(DWORD event) {
    const bool closing = event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT;
    HandleInterruptSignal(closing ? kSignalHangUp : SIGINT);
    if (closing) {
        Sleep(4000);
    }
    return TRUE;
}
#endif

// Tools such as timeout(1) signal the process and then its group: the copies of one request
// land within microseconds of each other. Only a signal this long after the first that the
// watcher saw is the operator asking a second time.
constexpr auto kRepeatedInterrupt = std::chrono::milliseconds(300);
constexpr auto kInterruptPoll = std::chrono::milliseconds(20);
// The last stop before ending at once: a fresh session's connect (2 s) and one reply.
constexpr auto kLastStopBound = std::chrono::milliseconds(3000);
// What the last lines on standard error get before the program ends at once.
constexpr auto kLastWordsBound = std::chrono::milliseconds(200);

// A verb that does not end on the first interrupt (its stop still waiting on a slow controller)
// ends now, but not before one more try at stopping the axes: whatever holds up the verb's own
// stop must not leave them moving.
[[noreturn]] void EndAtOnce() {
    std::function<bool(std::chrono::milliseconds)> lastStop;
    {
        std::lock_guard lock(g_lastStopMutex);
        lastStop = g_lastStop;
    }
    const bool stopped = lastStop ? lastStop(kLastStopBound)
                                  : TheController().Link().SendStopOnFreshSession(kLastStopBound);
    std::cerr << (stopped ? "trevane-cli: interrupted again; ending at once after AB1 stopped "
                            "the axes"
                          : "trevane-cli: interrupted again; ending at once without stopping "
                            "(AB1 did not reach the controller)")
              << std::endl;
    DrainStandardOutputs(kLastWordsBound);
    std::_Exit(InterruptExitCode());
}

struct InterruptWatcher {
    std::mutex mutex;
    std::vector<std::function<void()>> callbacks;
    std::jthread thread;
};

InterruptWatcher& Watcher() {
    static InterruptWatcher watcher;
    return watcher;
}

void RunInterruptCallbacks() {
    std::vector<std::function<void()>> callbacks;
    {
        std::lock_guard lock(Watcher().mutex);
        callbacks = Watcher().callbacks;
    }
    for (auto& callback : callbacks) {
        callback();
    }
}

// A signal handler can wake no one, so the watcher looks at the count every 20 ms. The first
// interrupt runs the callbacks (a jog stops its axes, a test aborts); a second one asked for
// later ends the program at once, for a verb that does not stop.
void WatchForInterrupt(std::stop_token stop) {
    std::mutex mutex;
    std::condition_variable_any never;
    std::unique_lock lock(mutex);
    while (!WaitForOrStopped(never, lock, stop, kInterruptPoll,
                             [] { return g_interrupts.load() > 0; })) {
        if (stop.stop_requested()) {
            return;
        }
    }
    const auto firstSeen = std::chrono::steady_clock::now();
    int seen = g_interrupts.load();
    RunInterruptCallbacks();
    while (!WaitForOrStopped(never, lock, stop, kInterruptPoll, [] { return false; })) {
        if (stop.stop_requested()) {
            return;
        }
        const int count = g_interrupts.load();
        if (std::chrono::steady_clock::now() - firstSeen < kRepeatedInterrupt) {
            seen = count;
        } else if (count > seen) {
            EndAtOnce();
        }
    }
}

}  // namespace

void RegisterVerb(Verb verb) {
    Registry().push_back(std::move(verb));
}

const std::vector<Verb>& Verbs() {
    return Registry();
}

void ReportError(const std::string& message) {
    ReportError(ProgramContext(), message);
}

std::string LastReportedError() {
    return ProgramContext().LastError();
}

int UsageError(const std::string& message) {
    return UsageError(ProgramContext(), message);
}

bool ConnectLikeTheWindow(const Invocation& invocation) {
    return ConnectLikeTheWindow(ProgramContext(), invocation);
}

Controller& TheController() {
    return ProgramController();
}

void UseTcpSessions(VerbContext& context, std::uint16_t port, int timeoutMs) {
    TcpTimeouts timeouts;
    timeouts.reply = std::chrono::milliseconds(timeoutMs);
    timeouts.upload = std::chrono::milliseconds(10LL * timeoutMs);
    context.controller.Link().SetSessionFactory(MakeTcpSessionFactory(port, timeouts));
    WatchTheSessions(context);
}

int RunVerb(VerbContext& context, const Verb& verb, const Invocation& invocation) {
    try {
        return verb.run(context, invocation);
    } catch (const std::exception& error) {
        ReportError(context, verb.name + ": " + error.what());
    } catch (...) {
        ReportError(context, verb.name + ": failed");
    }
    return kExitFailed;
}

int RunOnController(VerbContext& context, const Verb& verb, const Invocation& invocation) {
    context.controller.SetOperator(context.window);
    UseTcpSessions(context, static_cast<std::uint16_t>(invocation.port), invocation.timeoutMs);
    const int status = RunVerb(context, verb, invocation);
    // Sessions close before the context's own objects go away.
    ControllerLink& link = context.controller.Link();
    link.Close();
    link.SetSessionFactory(nullptr);
    link.SetOperator(nullptr);
    context.controller.Traffic().WatchExchanges(nullptr);
    return status;
}

void WriteJsonError(VerbContext& context, int status) {
    std::string message = context.LastError();
    if (message.empty()) {
        message = status > 128 ? "interrupted" : "failed";
    }
    json::Object error;
    error.Text("message", json::OneLine(message)).Number("exit", static_cast<long long>(status));
    json::WriteLine(context.out, json::Object().Raw("error", error.Str()));
}

void LeaveThreadsBehind() {
    g_threadsLeftBehind = true;
}

bool ThreadsLeftBehind() {
    return g_threadsLeftBehind.load();
}

void SetLastStop(std::function<bool(std::chrono::milliseconds bound)> stop) {
    std::lock_guard lock(g_lastStopMutex);
    g_lastStop = std::move(stop);
}

bool InterruptRequested() {
    return g_interrupts.load() > 0;
}

int InterruptCount() {
    return g_interrupts.load();
}

void OnInterrupt(std::function<void()> onInterrupt) {
    std::lock_guard lock(Watcher().mutex);
    Watcher().callbacks.push_back(std::move(onInterrupt));
}

int InterruptExitCode() {
    const int signal = g_firstSignal.load();
    return signal > 0 ? 128 + signal : kExitInterrupted;
}

void ReportBrokenOutput() {
    // Counted once: later failed writes are the same break, not a second request to end.
    if (g_outputBroken.exchange(true)) {
        return;
    }
    int none = 0;
    g_firstSignal.compare_exchange_strong(none, kSignalBrokenPipe);
    g_interrupts.fetch_add(1);
}

void InstallInterruptHandlers() {
    {
        std::lock_guard lock(Watcher().mutex);
        if (!Watcher().thread.joinable()) {
            Watcher().thread = std::jthread(WatchForInterrupt);
        }
    }
#ifdef _WIN32
    SetConsoleCtrlHandler(HandleConsoleEvent, TRUE);
#else
    std::signal(SIGINT, HandleInterruptSignal);
    std::signal(SIGTERM, HandleInterruptSignal);
    std::signal(kSignalHangUp, HandleInterruptSignal);
#endif
    // A reader that went away is reported by the failed write, which ends the verb as an
    // interrupt does; the signal would kill the program with the axes still moving.
    IgnoreBrokenPipeSignal();
}

void StopInterruptWatcher() {
    std::jthread thread;
    {
        std::lock_guard lock(Watcher().mutex);
        thread = std::move(Watcher().thread);
        Watcher().callbacks.clear();
    }
    // Joined outside the lock: a callback run by the watcher takes it.
}

}  // namespace trevane::cli
