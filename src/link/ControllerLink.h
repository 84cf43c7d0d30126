#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/Operator.h"
#include "link/SessionSlot.h"
#include "protocol/MotionClient.h"
#include "traffic/TrafficRecorder.h"

namespace trevane {

// What one stop on a fresh session came to.
struct StopAttempt {
    bool reached = false;     // the controller acknowledged "AB1"
    bool motorsRead = false;  // "MG _MOX", "_MOY" and "_MOZ" were read after it
    std::string motorsOn;     // the axes among X, Y, Z whose motor read switched on ("XZ")
};

// What the automatic test shares with the rest of the controller: the procedures, the jog and
// the program dump refuse to run while a test drives the machine.
struct TestFlags {
    std::atomic<bool> running{false};
    std::atomic<std::int32_t> progress{0};
};

// One controller's link: its two sessions (the command session for commands, the connection
// query and uploads; the record session for the status monitor's polls) with their states, the
// one routine every text command travels through, the traffic of both sessions, and the
// operator it reports to. Several live in one process without sharing anything.
class ControllerLink {
  public:
    ControllerLink();
    ~ControllerLink();
    ControllerLink(const ControllerLink&) = delete;
    ControllerLink& operator=(const ControllerLink&) = delete;

    // The operator it reports to and asks; null detaches (nothing is shown, inputs read empty).
    // The returned pointer keeps the operator alive for the caller's use.
    void SetOperator(std::shared_ptr<Operator> panel);
    std::shared_ptr<Operator> TheOperator() const;

    // How Connect opens sessions. The programs install the TCP client on the configured port
    // (the core cannot link the network code); tests and `trevane --simulate` point it
    // elsewhere. Until a factory is installed, Connect fails with "Connection Failed".
    void SetSessionFactory(SessionFactory factory);
    SessionFactory GetSessionFactory() const;

    // The Connect button: both sessions opened anew to the operator's address, "HX", the
    // identity in the transcript, polling started.
    void Connect();
    // Sessions opened elsewhere, as if Connect had opened them to `address` (no exchange).
    void Attach(std::shared_ptr<MotionClient> command, std::shared_ptr<MotionClient> record,
                const std::string& address = {});
    // Clears the connected flag and closes both sessions: at shutdown, so that sessions end
    // before what they talk to.
    void Close();
    // True only after a Connect finished every step (until the next Connect or Close).
    bool Connected() const { return connected_.load(); }
    // Why the most recent Connect failed, naming the step, the address and port and what
    // failed; "" after one that succeeded.
    std::string LastConnectFailure() const;

    // The sessions of the last Connect. A session out of step, or one the controller closed,
    // is opened anew first (the record session with a growing pause between tries while that
    // fails); null when there is none to use. Exchanges on them that fail go to
    // NoteSessionFailure.
    std::shared_ptr<MotionClient> CommandSession();
    std::shared_ptr<MotionClient> RecordSession();
    // A call on `session` threw `error`: an out-of-step or closed session is marked so that it
    // is replaced before its next use.
    void NoteSessionFailure(const std::shared_ptr<MotionClient>& session, const std::exception& error);
    // A call on `session` succeeded: it was in use until now.
    void NoteSessionUse(const std::shared_ptr<MotionClient>& session);
    // `call(*session)`, and once more on a fresh session of the same kind when the request never
    // went out because the controller had closed the session (with `outOfStepToo`, also when it
    // was found out of step). `session` is left as the one used last.
    template <typename Call>
    auto CallOnLiveSession(std::shared_ptr<MotionClient>& session, bool outOfStepToo, Call&& call)
        -> decltype(call(*session)) {
        try {
            return call(*session);
        } catch (const MotionError& error) {
            if (!error.NotSent() ||
                !(error.ClosedByController() || (outOfStepToo && error.OutOfStep()))) {
                throw;
            }
            const bool record = session == record_.Get();
            NoteSessionFailure(session, error);
            session = record ? RecordSession() : CommandSession();
            if (!session) {
                throw;
            }
            return call(*session);
        }
    }
    SessionStatus CommandStatus() const { return command_.Status(); }
    SessionStatus RecordStatus() const { return record_.Status(); }
    // Sessions found out of step since the link was made; a reader compares two values.
    std::uint64_t OutOfStepReplies() const { return outOfStepReplies_.load(); }
    // Command sessions opened again after the controller had closed them, since the link was
    // made.
    std::uint64_t Reopenings() const { return reopenings_.load(); }

    // The one routine every text command travels through. Never fails to its caller: on
    // failure the operator is told (CommandFailed) and "" is returned. On a test thread whose
    // stop has been requested it unwinds with TestAborted instead, before the exchange and after
    // it (the reply of an exchange already under way is dropped). A command the controller
    // never received because it had closed the session goes out once on a new session; one
    // that went out before its session broke is never sent again.
    std::string SendCommand(const std::string& command);
    // The same, but a failed exchange gives nothing instead of "".
    std::optional<std::string> TrySendCommand(const std::string& command);
    // The same for a command whose reply can only be a number ("TTX", "MG _LFX"): any other
    // reply cannot be its answer, so the session is out of step and the reading fails.
    std::optional<std::string> TrySendReading(const std::string& command);

    // Opens a fresh command session to the address of the last Connect and sends "AB1" on it,
    // nothing else; true once the controller acknowledged it. Gives up after `bound`: an
    // attempt still under way then goes on by itself (each step has its own timeout) and is
    // joined by JoinStopAttempts or the destructor. The link's sessions are left as they are.
    bool SendStopOnFreshSession(std::chrono::milliseconds bound);
    // The same, then (with `readMotors`, on the same session) the motor state of X, Y and Z, so
    // that what is said of the machine afterwards comes from a reading taken after the stop.
    StopAttempt StopOnFreshSession(std::chrono::milliseconds bound, bool readMotors);
    void JoinStopAttempts();

    TrafficRecorder& Traffic() { return traffic_; }
    TestFlags& Test() { return test_; }
    const TestFlags& Test() const { return test_; }

  private:
    std::optional<std::string> Exchange(const std::string& command, bool numberOnly);
    std::shared_ptr<MotionClient> LiveSession(SessionSlot& slot, const char* name);
    std::shared_ptr<MotionClient> OpenSession(const SessionFactory& factory,
                                              const std::string& address, const char* name);
    void ReportCommandError(const std::string& command, const std::string& reason, bool lost);
    void TellSessions();
    std::string ConnectedAddress() const;
    void SetConnectFailure(std::string text);

    TrafficRecorder traffic_;
    TestFlags test_;
    SessionSlot command_;
    SessionSlot record_;
    std::atomic<bool> connected_{false};
    std::atomic<std::uint64_t> outOfStepReplies_{0};
    std::atomic<std::uint64_t> reopenings_{0};

    mutable std::mutex operatorMutex_;
    std::shared_ptr<Operator> operator_;
    const std::shared_ptr<Operator> noOperator_ = std::make_shared<NoOperator>();

    mutable std::mutex factoryMutex_;
    SessionFactory factory_;

    mutable std::mutex connectMutex_;
    std::string connectFailure_;
    std::string connectedAddress_;

    std::mutex reopenMutex_;  // one reopening at a time, so a session is replaced once
    // The record session's next try after a failed reopening, and the pause after that one.
    SessionSlot::TimePoint recordRetryAt_{};     // under reopenMutex_
    std::chrono::milliseconds recordBackOff_{};  // under reopenMutex_

    std::mutex stopAttemptsMutex_;
    std::vector<std::thread> stopAttempts_;
};

// Thrown by SendCommand on a thread inside a LinkLossEndsRun scope when the command session
// itself is gone (closed by the peer during an exchange, spent after a timeout, not to be
// opened again), not merely one command rejected. The failure has been reported first.
struct LinkLost {};

// While one lives on the calling thread, a lost command session ends that thread's work instead
// of turning every later command into an error line.
class LinkLossEndsRun {
  public:
    LinkLossEndsRun();
    ~LinkLossEndsRun();
    LinkLossEndsRun(const LinkLossEndsRun&) = delete;
    LinkLossEndsRun& operator=(const LinkLossEndsRun&) = delete;

  private:
    const bool previous_;
};

}  // namespace trevane
