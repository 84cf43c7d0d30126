#include "link/ControllerLink.h"

#include <condition_variable>
#include <utility>

#include "common/CLocale.h"
#include "common/Clock.h"
#include "common/StopControl.h"
#include "traffic/TrafficTap.h"

namespace trevane {

namespace {

using namespace std::chrono_literals;

thread_local bool t_linkLossEndsRun = false;

// The record session's pause between failed reopenings: polls come every 10 ms, and a
// controller that is restarting should not be hammered meanwhile.
constexpr std::chrono::milliseconds kFirstRecordBackOff = 250ms;
constexpr std::chrono::milliseconds kLongestRecordBackOff = 4s;

SessionStatus StatusNow(SessionState state, std::string reason = {}) {
    return {state, std::move(reason), SystemClock().WallNow()};
}

// "68 s": whole seconds, as the operator reads them.
std::string SecondsText(std::chrono::steady_clock::duration idle) {
    return FormatInt(static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(idle).count())) +
           " s";
}

}  // namespace

ControllerLink::ControllerLink() = default;

ControllerLink::~ControllerLink() {
    JoinStopAttempts();
    Close();
}

void ControllerLink::SetOperator(std::shared_ptr<Operator> panel) {
    std::lock_guard lock(operatorMutex_);
    operator_ = std::move(panel);
}

std::shared_ptr<Operator> ControllerLink::TheOperator() const {
    std::lock_guard lock(operatorMutex_);
    return operator_ ? operator_ : noOperator_;
}

void ControllerLink::SetSessionFactory(SessionFactory factory) {
    std::lock_guard lock(factoryMutex_);
    factory_ = std::move(factory);
}

SessionFactory ControllerLink::GetSessionFactory() const {
    std::lock_guard lock(factoryMutex_);
    return factory_;
}

std::string ControllerLink::LastConnectFailure() const {
    std::lock_guard lock(connectMutex_);
    return connectFailure_;
}

std::string ControllerLink::ConnectedAddress() const {
    std::lock_guard lock(connectMutex_);
    return connectedAddress_;
}

void ControllerLink::SetConnectFailure(std::string text) {
    std::lock_guard lock(connectMutex_);
    connectFailure_ = std::move(text);
}

void ControllerLink::TellSessions() {
    TheOperator()->SessionChanged(command_.Status(), record_.Status());
}

std::shared_ptr<MotionClient> ControllerLink::OpenSession(const SessionFactory& factory,
                                                          const std::string& address,
                                                          const char* name) {
    std::shared_ptr<MotionClient> session = factory(address);
    if (!session) {
        throw MotionError("no session could be opened to '" + address + "'");
    }
    return TapSession(std::move(session), name, traffic_);
}

// The slot's session, replaced by a fresh one first when its replies went out of step or the
// controller closed it. A session that cannot be opened again leaves the slot empty.
std::shared_ptr<MotionClient> ControllerLink::LiveSession(SessionSlot& slot, const char* name) {
    const bool isRecord = &slot == &record_;
    // A session dropped after a failed reopening is tried again by its next use.
    const auto needsReopen = [this, &slot] {
        return slot.NeedsReopen() || (connected_ && !slot.Get());
    };
    if (!needsReopen()) {
        return slot.Get();
    }
    std::unique_lock lock(reopenMutex_);
    if (!needsReopen()) {
        return slot.Get();
    }
    const SessionSlot::TimePoint now = SystemClock().Now();
    if (isRecord && now < recordRetryAt_) {
        return nullptr;
    }
    const std::optional<std::chrono::steady_clock::duration> idle = slot.ClosedAfterIdle();
    // Shown to whoever asks; the operator hears only of the outcome, after the lock, since a
    // window's operator waits for the window's thread, which may be polling into this lock.
    slot.SetStatus(StatusNow(SessionState::Reopening, slot.Status().reason));
    const SessionFactory factory = GetSessionFactory();
    try {
        if (!factory) {
            throw MotionError("no controller link is set up");
        }
        slot.Set(OpenSession(factory, ConnectedAddress(), name), StatusNow(SessionState::Live),
                 SystemClock().Now());
    } catch (const std::exception& error) {
        slot.Set(nullptr, StatusNow(SessionState::Failed, std::string("reopening it: ") + error.what()),
                 now);
    } catch (...) {
        slot.Set(nullptr, StatusNow(SessionState::Failed, "reopening it failed"), now);
    }
    const bool reopened = slot.Get() != nullptr;
    if (isRecord) {
        recordBackOff_ = reopened ? 0ms
                                  : std::min(kLongestRecordBackOff,
                                             std::max(kFirstRecordBackOff, 2 * recordBackOff_));
        recordRetryAt_ = now + recordBackOff_;
    }
    lock.unlock();
    TellSessions();
    if (reopened && idle && !isRecord) {
        ++reopenings_;
        // A session closed within a second of its last reply was not closed for being idle.
        const bool idleLimit = *idle >= std::chrono::seconds(1);
        TheOperator()->SessionReopened(
            std::string(name) + " session reopened: the controller had closed it" +
            (idleLimit ? " after " + SecondsText(*idle) + " idle" : std::string()));
    }
    return slot.Get();
}

std::shared_ptr<MotionClient> ControllerLink::CommandSession() {
    return LiveSession(command_, "command");
}

std::shared_ptr<MotionClient> ControllerLink::RecordSession() {
    return LiveSession(record_, "record");
}

void ControllerLink::NoteSessionUse(const std::shared_ptr<MotionClient>& session) {
    const SessionSlot::TimePoint now = SystemClock().Now();
    command_.Touch(session, now);
    record_.Touch(session, now);
}

void ControllerLink::NoteSessionFailure(const std::shared_ptr<MotionClient>& session,
                                        const std::exception& error) {
    const auto* motion = dynamic_cast<const MotionError*>(&error);
    if (motion == nullptr) {
        return;
    }
    if (motion->OutOfStep()) {
        // Counted once per slip: the calls refused on the same session afterwards are not new.
        const bool command = command_.MarkOutOfStep(session);
        const bool record = record_.MarkOutOfStep(session);
        if (command || record) {
            ++outOfStepReplies_;
        }
        return;
    }
    if (motion->ClosedByController()) {
        const SessionSlot::TimePoint now = SystemClock().Now();
        std::chrono::steady_clock::duration idle{};
        const SessionStatus closed = StatusNow(SessionState::ClosedByController, motion->what());
        const bool command = command_.MarkClosed(session, closed, now, idle);
        const bool record = record_.MarkClosed(session, closed, now, idle);
        if (command || record) {
            TellSessions();
        }
        return;
    }
    if (motion->TimedOut()) {
        // Spent: every later call on it fails at once, until Connect opens new sessions.
        for (SessionSlot* slot : {&command_, &record_}) {
            if (slot->Get() == session && slot->Status().state == SessionState::Live) {
                slot->SetStatus(StatusNow(SessionState::Failed, motion->what()));
                TellSessions();
            }
        }
    }
}

void ControllerLink::ReportCommandError(const std::string& command, const std::string& reason,
                                        bool lost) {
    TheOperator()->CommandFailed({command, reason, lost});
}

std::optional<std::string> ControllerLink::Exchange(const std::string& command, bool numberOnly) {
    ThrowIfStopRequested();
    std::shared_ptr<MotionClient> session = CommandSession();
    bool sessionLost = session == nullptr;
    std::string reason = sessionLost ? command_.Status().reason : std::string();
    if (sessionLost && reason.empty()) {
        reason = "not connected";
    }
    if (session) {
        try {
            // Out of step too, so that a stop is never lost to a stray reply.
            std::string reply = CallOnLiveSession(session, true, [&command](MotionClient& live) {
                return live.command(command, "\r", ":", true);
            });
            NoteSessionUse(session);
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
            reason = error.what();
            // A rejection leaves the session usable and one out of step is opened anew before
            // the next command; anything else has spent it for this command.
            sessionLost = !error.Rejected() && !error.OutOfStep();
        } catch (const std::exception& error) {
            reason = error.what();
            sessionLost = true;
        } catch (...) {
            reason = "the exchange failed";
            sessionLost = true;
        }
    }
    ThrowIfStopRequested();
    ReportCommandError(command, reason, sessionLost);
    if (sessionLost && t_linkLossEndsRun) {
        throw LinkLost{};
    }
    return std::nullopt;
}

std::optional<std::string> ControllerLink::TrySendCommand(const std::string& command) {
    return Exchange(command, false);
}

std::optional<std::string> ControllerLink::TrySendReading(const std::string& command) {
    return Exchange(command, true);
}

std::string ControllerLink::SendCommand(const std::string& command) {
    return TrySendCommand(command).value_or(std::string());
}

LinkLossEndsRun::LinkLossEndsRun() : previous_(t_linkLossEndsRun) {
    t_linkLossEndsRun = true;
}

LinkLossEndsRun::~LinkLossEndsRun() {
    t_linkLossEndsRun = previous_;
}

namespace {

struct SharedAttempt {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    StopAttempt result;
};

// "1.0000" reads as a motor switched off; only a number is a reading at all.
std::optional<bool> MotorOff(const std::string& reply) {
    if (!IsOneNumber(reply)) {
        return std::nullopt;
    }
    return ReadNumber(reply) >= 0.5f;
}

}  // namespace

bool ControllerLink::SendStopOnFreshSession(std::chrono::milliseconds bound) {
    return StopOnFreshSession(bound, false).reached;
}

StopAttempt ControllerLink::StopOnFreshSession(std::chrono::milliseconds bound, bool readMotors) {
    SessionFactory factory = GetSessionFactory();
    if (!factory) {
        return {};
    }
    auto attempt = std::make_shared<SharedAttempt>();
    std::thread worker([this, attempt, readMotors, factory = std::move(factory),
                        address = ConnectedAddress()] {
        StopAttempt result;
        try {
            std::shared_ptr<MotionClient> session = OpenSession(factory, address, "command");
            session->command("AB1", "\r", ":", true);
            result.reached = true;
            std::string on;
            bool read = readMotors;
            for (const char* axis : {"X", "Y", "Z"}) {
                if (!read) {
                    break;
                }
                const std::optional<bool> off =
                    MotorOff(session->command(std::string("MG _MO") + axis, "\r", ":", true));
                read = off.has_value();
                on += off.value_or(true) ? "" : axis;
            }
            result.motorsRead = read;
            result.motorsOn = read ? on : std::string();
        } catch (...) {
            // What did not come is not claimed; the caller says so.
        }
        std::lock_guard lock(attempt->mutex);
        attempt->done = true;
        attempt->result = result;
        attempt->changed.notify_all();
    });
    bool done = false;
    StopAttempt result;
    {
        std::unique_lock lock(attempt->mutex);
        done = attempt->changed.wait_for(lock, bound, [&attempt] { return attempt->done; });
        result = attempt->result;
    }
    if (done) {
        worker.join();
    } else {
        std::lock_guard lock(stopAttemptsMutex_);
        stopAttempts_.push_back(std::move(worker));
    }
    return result;
}

void ControllerLink::JoinStopAttempts() {
    std::vector<std::thread> attempts;
    {
        std::lock_guard lock(stopAttemptsMutex_);
        attempts.swap(stopAttempts_);
    }
    for (std::thread& attempt : attempts) {
        attempt.join();
    }
}

void ControllerLink::Close() {
    connected_ = false;
    const SessionSlot::TimePoint now = SystemClock().Now();
    command_.Set(nullptr, StatusNow(SessionState::NotConnected), now);
    record_.Set(nullptr, StatusNow(SessionState::NotConnected), now);
}

void ControllerLink::Attach(std::shared_ptr<MotionClient> command,
                            std::shared_ptr<MotionClient> record, const std::string& address) {
    {
        std::lock_guard lock(connectMutex_);
        connectedAddress_ = address;
        connectFailure_.clear();
    }
    const SessionSlot::TimePoint now = SystemClock().Now();
    const auto stateOf = [](const std::shared_ptr<MotionClient>& session) {
        return StatusNow(session ? SessionState::Live : SessionState::NotConnected);
    };
    command_.Set(command ? TapSession(std::move(command), "command", traffic_) : nullptr,
                 stateOf(command), now);
    record_.Set(record ? TapSession(std::move(record), "record", traffic_) : nullptr,
                stateOf(record), now);
    connected_ = command_.Get() != nullptr;
}

void ControllerLink::Connect() {
    std::shared_ptr<Operator> panel = TheOperator();
    connected_ = false;
    panel->PollingChanged(false);
    const SessionSlot::TimePoint now = SystemClock().Now();
    command_.Set(nullptr, StatusNow(SessionState::Connecting), now);
    record_.Set(nullptr, StatusNow(SessionState::Connecting), now);
    const std::string address = panel->Address();
    {
        std::lock_guard lock(connectMutex_);
        connectedAddress_ = address;
    }
    const char* step = "opening the command session";
    std::string failure;
    try {
        SessionFactory factory = GetSessionFactory();
        if (!factory) {
            throw MotionError("no controller link is set up for '" + address + "'");
        }
        command_.Set(OpenSession(factory, address, "command"), StatusNow(SessionState::Live),
                     SystemClock().Now());
        step = "opening the record session";
        record_.Set(OpenSession(factory, address, "record"), StatusNow(SessionState::Live),
                    SystemClock().Now());
        SendCommand("HX");
        step = "asking the controller for its identity";
        std::shared_ptr<MotionClient> session = command_.Get();
        if (!session) {
            throw MotionError("the command session is gone");
        }
        const std::string description = session->connection();
        NoteSessionUse(session);
        panel->AppendTranscript(description + "\r\n");
        panel->PollingChanged(true);
        SetConnectFailure({});
        connected_ = true;
    } catch (const std::exception& error) {
        failure = std::string(step) + ": " + error.what();
    } catch (...) {
        failure = std::string(step) + " failed";
    }
    if (!failure.empty()) {
        SetConnectFailure(failure);
        for (SessionSlot* slot : {&command_, &record_}) {
            if (!slot->Get() || slot->Status().state != SessionState::Live) {
                slot->SetStatus(StatusNow(SessionState::Failed, failure));
            }
        }
        TellSessions();
        panel->ShowMessage(kConnectionFailedText, kMessageCaption, true);
        return;
    }
    TellSessions();
}

}  // namespace trevane
