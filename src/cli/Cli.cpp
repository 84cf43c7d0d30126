#include "cli/Cli.h"

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <functional>
#include <iostream>
#include <mutex>
#include <thread>
#include <vector>

#include "cli/CliWindow.h"
#include "cli/Verbs.h"
#include "controller/Link.h"
#include "net/TcpMotionClient.h"

namespace trevane::cli {
namespace {

std::vector<Verb>& Registry() {
    static std::vector<Verb> verbs;
    return verbs;
}

// The text of the last session that could not be opened; Connect itself never shows it.
std::mutex g_sessionErrorMutex;
std::string g_sessionError;

void SetSessionError(std::string text) {
    std::lock_guard lock(g_sessionErrorMutex);
    g_sessionError = std::move(text);
}

std::string SessionError() {
    std::lock_guard lock(g_sessionErrorMutex);
    return g_sessionError;
}

// Set from the signal handler: a lock-free atomic is the one thing a handler may touch.
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void HandleInterruptSignal(int signal) {
    g_interrupted.store(true);
    std::signal(signal, SIG_DFL);  // a second Ctrl-C ends a verb that does not stop
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

// A signal handler can wake no one, so the watcher looks at the flag every 20 ms.
void WatchForInterrupt(std::stop_token stop) {
    std::mutex mutex;
    std::condition_variable_any never;
    std::unique_lock lock(mutex);
    while (!stop.stop_requested()) {
        if (never.wait_for(lock, stop, std::chrono::milliseconds(20),
                           [] { return g_interrupted.load(); })) {
            std::vector<std::function<void()>> callbacks;
            {
                std::lock_guard watcherLock(Watcher().mutex);
                callbacks = Watcher().callbacks;
            }
            for (auto& callback : callbacks) {
                callback();
            }
            return;
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

int UsageError(const std::string& message) {
    std::cerr << "trevane-cli: " << message << "\n";
    return kExitUsage;
}

void UseTcpSessions(std::uint16_t port) {
    SessionFactory tcp = MakeTcpSessionFactory(port);
    SetSessionFactory([tcp](const std::string& address) {
        try {
            return tcp(address);
        } catch (const std::exception& error) {
            SetSessionError(error.what());
            throw;
        }
    });
}

bool ConnectLikeTheWindow(const Invocation& invocation) {
    const std::shared_ptr<CliWindow> window = TheCliWindow();
    window->SetAddress(invocation.address);
    SetSessionError({});
    window->HoldMessages(true);
    OnConnect();
    window->HoldMessages(false);
    const std::vector<std::string> messages = window->TakeHeldMessages();
    if (g_connected) {
        for (const std::string& message : messages) {
            std::cerr << message << "\n";
        }
        return true;
    }
    std::string reason = SessionError();
    if (reason.empty()) {
        reason = "the controller at " + invocation.address + ":" + std::to_string(invocation.port) +
                 " did not describe the connection";
    }
    std::cerr << "trevane-cli: " << kConnectionFailedText << ": " << reason << "\n";
    return false;
}

bool InterruptRequested() {
    return g_interrupted.load();
}

void OnInterrupt(std::function<void()> onInterrupt) {
    InterruptWatcher& watcher = Watcher();
    std::lock_guard lock(watcher.mutex);
    watcher.callbacks.push_back(std::move(onInterrupt));
    if (!watcher.thread.joinable()) {
        watcher.thread = std::jthread(WatchForInterrupt);
    }
}

void InstallInterruptHandlers() {
    std::signal(SIGINT, HandleInterruptSignal);
    std::signal(SIGTERM, HandleInterruptSignal);
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
