// trevane-cli: the diagnostics of the window, for scripts and remote sessions. What only a
// process has is here: its signals, its standard streams and its TCP sessions.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/RunControl.h"
#include "cli/StandardOutputs.h"
#include "common/Platform.h"
#include "net/TcpMotionClient.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace trevane::cli {
namespace {

// The run the signal handlers tell of interrupts: a handler can reach nothing else.
std::atomic<RunControl*> g_signalledRun{nullptr};
static_assert(std::atomic<RunControl*>::is_always_lock_free);

#ifdef _WIN32
// Windows has no hang-up signal; the exit codes stay those of a Linux shell.
constexpr int kSignalHangUp = 1;
#else
constexpr int kSignalHangUp = SIGHUP;
#endif

// The last stop before ending at once: a fresh session's connect (2 s) and one reply.
constexpr auto kLastStopBound = std::chrono::milliseconds(3000);
// What the last lines on standard error get before the program ends at once.
constexpr auto kLastWordsBound = std::chrono::milliseconds(200);

extern "C" void HandleInterruptSignal(int signal) {
    if (RunControl* run = g_signalledRun.load()) {
        run->Arrive(signal);
    }
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

void CatchInterruptSignals() {
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

// A verb that does not end on the first interrupt (its stop still waiting on a slow controller)
// ends now, but not before one more try at stopping the axes: whatever holds up the verb's own
// stop must not leave them moving.
[[noreturn]] void EndAtOnce(RunControl& control) {
    const bool stopped = control.SendLastStop(kLastStopBound);
    std::cerr << (stopped ? "trevane-cli: interrupted again; ending at once after AB1 stopped "
                            "the axes"
                          : "trevane-cli: interrupted again; ending at once without stopping "
                            "(AB1 did not reach the controller)")
              << std::endl;
    DrainStandardOutputs(kLastWordsBound);
    std::_Exit(control.ExitCode());
}

SessionFactory TcpSessions(std::uint16_t port, int timeoutMs) {
    TcpTimeouts timeouts;
    timeouts.reply = std::chrono::milliseconds(timeoutMs);
    timeouts.upload = std::chrono::milliseconds(10LL * timeoutMs);
    return MakeTcpSessionFactory(port, timeouts);
}

int Main(int argc, char** argv) {
    IgnoreBrokenPipeSignal();
    // Made at start and kept to the program's end: the signal handlers may still reach it.
    static const auto control = std::make_shared<RunControl>();
    g_signalledRun = control.get();
    control->SetWatchHooks(CatchInterruptSignals, [] { EndAtOnce(*control); });
    // Before anything is printed or traced: no output may hold up a stop.
    QueueStandardOutputs(control);

    CliEnvironment environment(std::cout, std::cerr);
    environment.outIsTerminal = StandardOutputIsTerminal();
    environment.errIsTerminal = StandardErrorIsTerminal();
    environment.openSessions = TcpSessions;
    if (const char* history = std::getenv("TREVANE_HISTORY")) {
        environment.historyVariable = history;
    }
    environment.outputQueue = StandardOutputQueue();
    environment.control = control;
    int status = RunCommandLine(std::vector<std::string>(argv + 1, argv + argc), environment);
    if (FinishStandardOutputs() && status == kExitOk) {
        status = kExitFailed;
    }
    if (control->ThreadsLeftBehind()) {
        // A fleet member's thread still waits on its controller: what it uses must stay.
        std::_Exit(status);
    }
    return status;
}

}  // namespace
}  // namespace trevane::cli

int main(int argc, char** argv) {
    return trevane::cli::Main(argc, argv);
}
