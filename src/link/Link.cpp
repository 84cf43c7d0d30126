#include "link/Link.h"

#include <condition_variable>
#include <thread>
#include <vector>

#include "common/CLocale.h"
#include "common/StopControl.h"
#include "link/TestState.h"
#include "link/WindowOps.h"
#include "traffic/TrafficRecorder.h"
#include "traffic/TrafficTap.h"

namespace trevane {

SessionSlot g_controller;
SessionSlot g_recordController;
std::atomic<bool> g_connected{false};

namespace {

std::mutex g_factoryMutex;
SessionFactory g_factory;

std::mutex g_connectFailureMutex;
std::string g_connectFailure;
std::string g_connectedAddress;  // under g_connectFailureMutex

thread_local bool t_linkLossEndsRun = false;

std::mutex g_stopAttemptsMutex;
std::vector<std::thread> g_stopAttempts;

std::atomic<std::uint64_t> g_outOfStepReplies{0};
std::mutex g_reopenMutex;  // one reopening at a time, so a session is replaced once

std::string ConnectedAddress() {
    std::lock_guard lock(g_connectFailureMutex);
    return g_connectedAddress;
}

void SetConnectFailure(std::string text) {
    std::lock_guard lock(g_connectFailureMutex);
    g_connectFailure = std::move(text);
}

void ReportCommandError() {
    auto window = Window();
    window->AppendTranscript(std::string(kCommandErrorText) + "\r\n");
    window->ScrollTranscriptToEnd();
}

std::shared_ptr<MotionClient> OpenSession(const SessionFactory& factory, const std::string& address,
                                          const char* name) {
    std::shared_ptr<MotionClient> session = factory(address);
    if (!session) {
        throw MotionError("no session could be opened to '" + address + "'");
    }
    return TapSession(std::move(session), name, Traffic());
}

// The slot's session, replaced by a fresh one first when its replies went out of step. A
// session that cannot be opened again leaves the slot empty: the link is lost.
std::shared_ptr<MotionClient> LiveSession(SessionSlot& slot, const char* name) {
    if (!slot.OutOfStep()) {
        return slot.Get();
    }
    std::lock_guard lock(g_reopenMutex);
    if (!slot.OutOfStep()) {
        return slot.Get();
    }
    const SessionFactory factory = GetSessionFactory();
    try {
        if (!factory) {
            throw MotionError("no controller link is set up");
        }
        slot.Set(OpenSession(factory, ConnectedAddress(), name));
    } catch (...) {
        slot.Reset();
    }
    return slot.Get();
}

}  // namespace

std::shared_ptr<MotionClient> CommandSession() {
    return LiveSession(g_controller, "command");
}

std::shared_ptr<MotionClient> RecordSession() {
    return LiveSession(g_recordController, "record");
}

void NoteSessionFailure(const std::shared_ptr<MotionClient>& session,
                        const std::exception& error) {
    const auto* motion = dynamic_cast<const MotionError*>(&error);
    if (motion == nullptr || !motion->OutOfStep()) {
        return;
    }
    // Counted once per slip: the calls refused on the same session afterwards are not new ones.
    const bool command = g_controller.MarkOutOfStep(session);
    const bool record = g_recordController.MarkOutOfStep(session);
    if (command || record) {
        ++g_outOfStepReplies;
    }
}

std::uint64_t OutOfStepReplies() {
    return g_outOfStepReplies.load();
}

void SetSessionFactory(SessionFactory factory) {
    std::lock_guard lock(g_factoryMutex);
    g_factory = std::move(factory);
}

SessionFactory GetSessionFactory() {
    std::lock_guard lock(g_factoryMutex);
    return g_factory;
}

std::string LastConnectFailure() {
    std::lock_guard lock(g_connectFailureMutex);
    return g_connectFailure;
}

namespace {

// The command's reply on `session`; a command that found the session out of step before it went
// out goes out once more on a fresh session, so that a stop is never lost to a stray reply.
std::string CommandOnLiveSession(std::shared_ptr<MotionClient>& session, const std::string& command) {
    try {
        return session->command(command, "\r", ":", true);
    } catch (const MotionError& error) {
        if (!error.OutOfStep() || !error.NotSent()) {
            throw;
        }
        NoteSessionFailure(session, error);
        session = CommandSession();
        if (!session) {
            throw;
        }
        return session->command(command, "\r", ":", true);
    }
}

std::optional<std::string> Exchange(const std::string& command, bool numberOnly) {
    ThrowIfStopRequested();
    std::shared_ptr<MotionClient> session = CommandSession();
    bool sessionLost = session == nullptr;
    if (session) {
        try {
            std::string reply = CommandOnLiveSession(session, command);
            if (numberOnly && !IsOneNumber(reply)) {
                throw MotionError::OutOfStep("out of step: '" + EscapeBytes(reply) +
                                             "' cannot be the reply to '" + EscapeBytes(command) +
                                             "'");
            }
            ThrowIfStopRequested();
            return reply;
        } catch (const TestAborted&) {
            throw;
        } catch (const MotionError& error) {
            NoteSessionFailure(session, error);
            // A rejection leaves the session usable and one out of step is opened anew before
            // the next command; anything else has spent it.
            sessionLost = !error.Rejected() && !error.OutOfStep();
        } catch (...) {
            // Any failure of the link: the operator sees the fixed line, never the details.
            sessionLost = true;
        }
    }
    ThrowIfStopRequested();
    ReportCommandError();
    if (sessionLost && t_linkLossEndsRun) {
        throw LinkLost{};
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> TrySendCommand(const std::string& command) {
    return Exchange(command, false);
}

std::optional<std::string> TrySendReading(const std::string& command) {
    return Exchange(command, true);
}

std::string SendCommand(const std::string& command) {
    return TrySendCommand(command).value_or(std::string());
}

LinkLossEndsRun::LinkLossEndsRun() : previous_(t_linkLossEndsRun) {
    t_linkLossEndsRun = true;
}

LinkLossEndsRun::~LinkLossEndsRun() {
    t_linkLossEndsRun = previous_;
}

namespace {

struct StopAttempt {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    bool reached = false;
};

void AttemptStop(const SessionFactory& factory, const std::string& address, StopAttempt& attempt) {
    bool reached = false;
    try {
        std::shared_ptr<MotionClient> session = OpenSession(factory, address, "command");
        session->command("AB1", "\r", ":", true);
        reached = true;
    } catch (...) {
        // Not reached; the caller says so.
    }
    std::lock_guard lock(attempt.mutex);
    attempt.done = true;
    attempt.reached = reached;
    attempt.changed.notify_all();
}

}  // namespace

bool SendStopOnFreshSession(std::chrono::milliseconds bound) {
    SessionFactory factory = GetSessionFactory();
    if (!factory) {
        return false;
    }
    auto attempt = std::make_shared<StopAttempt>();
    std::thread worker([attempt, factory = std::move(factory), address = ConnectedAddress()] {
        AttemptStop(factory, address, *attempt);
    });
    bool done = false;
    bool reached = false;
    {
        std::unique_lock lock(attempt->mutex);
        done = attempt->changed.wait_for(lock, bound, [&attempt] { return attempt->done; });
        reached = attempt->reached;
    }
    if (done) {
        worker.join();
    } else {
        std::lock_guard lock(g_stopAttemptsMutex);
        g_stopAttempts.push_back(std::move(worker));
    }
    return reached;
}

void JoinStopAttempts() {
    std::vector<std::thread> attempts;
    {
        std::lock_guard lock(g_stopAttemptsMutex);
        attempts.swap(g_stopAttempts);
    }
    for (std::thread& attempt : attempts) {
        attempt.join();
    }
}

void ResetLinkState() {
    JoinStopAttempts();
    CloseLink();
    SetSessionFactory(nullptr);
    SetWindow(nullptr);
    g_testRunning = false;
    g_testProgress = 0;
    {
        std::lock_guard lock(g_connectFailureMutex);
        g_connectFailure.clear();
        g_connectedAddress.clear();
    }
    Traffic().SetSink(nullptr);
    WatchExchanges(nullptr);
    Traffic().Clear();
}

void CloseLink() {
    g_connected = false;
    g_controller.Reset();
    g_recordController.Reset();
}

void OnConnect() {
    auto window = Window();
    g_connected = false;
    window->StopTimer(IDT_STATUS);
    g_controller.Reset();
    g_recordController.Reset();
    const std::string address = window->ReadAddress();
    {
        std::lock_guard lock(g_connectFailureMutex);
        g_connectedAddress = address;
    }
    const char* step = "opening the command session";
    try {
        SessionFactory factory = GetSessionFactory();
        if (!factory) {
            throw MotionError("no controller link is set up for '" + address + "'");
        }
        g_controller.Set(OpenSession(factory, address, "command"));
        step = "opening the record session";
        g_recordController.Set(OpenSession(factory, address, "record"));
        SendCommand("HX");
        step = "asking the controller for its identity";
        std::shared_ptr<MotionClient> session = g_controller.Get();
        const std::string description = session->connection();
        window->AppendTranscript(description + "\r\n");
        window->StartTimer(IDT_STATUS, kTimerPeriodMs);
        SetConnectFailure({});
        g_connected = true;
    } catch (const std::exception& error) {
        SetConnectFailure(std::string(step) + ": " + error.what());
        window->ShowMessage(kConnectionFailedText, kMessageCaption, true);
    } catch (...) {
        SetConnectFailure(std::string(step) + " failed");
        window->ShowMessage(kConnectionFailedText, kMessageCaption, true);
    }
}

}  // namespace trevane
