#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "protocol/MotionClient.h"

namespace trevane {

// One controller session pointer shared between the window's thread and the test thread.
// Readers get their own reference, so Connect never frees a session under an exchange that is
// still running on another thread.
class SessionSlot {
  public:
    std::shared_ptr<MotionClient> Get() const {
        std::lock_guard lock(mutex_);
        return session_;
    }
    void Set(std::shared_ptr<MotionClient> session) {
        std::shared_ptr<MotionClient> old;
        {
            std::lock_guard lock(mutex_);
            old = std::exchange(session_, std::move(session));
            outOfStep_ = false;
        }
        // `old` is released outside the lock: closing a session may take a moment.
    }
    void Reset() { Set(nullptr); }
    explicit operator bool() const { return Get() != nullptr; }

    // Only while `session` is still the slot's: a session opened since is in step. True when
    // this call marked it.
    bool MarkOutOfStep(const std::shared_ptr<MotionClient>& session) {
        std::lock_guard lock(mutex_);
        if (outOfStep_ || session == nullptr || session != session_) {
            return false;
        }
        outOfStep_ = true;
        return true;
    }
    bool OutOfStep() const {
        std::lock_guard lock(mutex_);
        return outOfStep_;
    }

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<MotionClient> session_;
    bool outOfStep_ = false;
};

extern SessionSlot g_controller;        // command session: command, connection, programUpload
extern SessionSlot g_recordController;  // data-record session of the status monitor
extern std::atomic<bool> g_connected;   // true only after a Connect finished every step

// How Connect opens sessions. The programs install the TCP client on the configured port (the
// core cannot link the network code); tests and `trevane --simulate` point it elsewhere. Until a
// factory is installed, Connect fails with "Connection Failed".
void SetSessionFactory(SessionFactory factory);
SessionFactory GetSessionFactory();

// The sessions of the last Connect, each opened anew first when its replies went out of step (a
// session that cannot be opened again is dropped and null is returned). Exchanges on them that
// fail go to NoteSessionFailure.
std::shared_ptr<MotionClient> CommandSession();
std::shared_ptr<MotionClient> RecordSession();
// A call on `session` threw `error`: an out-of-step session is counted and replaced before its
// next use. Anything else is left to the caller.
void NoteSessionFailure(const std::shared_ptr<MotionClient>& session, const std::exception& error);
// Sessions found out of step since the program started; a reader compares two values to learn
// whether any reply in between could not be trusted.
std::uint64_t OutOfStepReplies();

// The one routine every text command travels through. Never fails to its caller: on failure it
// appends "a command error occurred\r\n" to the transcript, scrolls it and returns "".
// On a test thread whose stop has been requested it unwinds with TestAborted instead, before
// the exchange and after it (the reply of an exchange already under way is dropped).
std::string SendCommand(const std::string& command);
// The same, but a failed exchange gives nothing instead of "", so a caller can tell a failed
// reading from an empty reply.
std::optional<std::string> TrySendCommand(const std::string& command);
// The same for a command whose reply can only be a number ("TTX", "MG _LFX"): any other reply
// cannot be its answer, so the session is out of step and the reading fails.
std::optional<std::string> TrySendReading(const std::string& command);

// Thrown by SendCommand on a thread inside a LinkLossEndsRun scope when the command session itself
// is gone (closed by the peer, spent after a timeout, reset), not merely one command rejected. The
// failure has been reported as any other first.
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

// Opens a fresh command session to the address of the last Connect and sends "AB1" on it,
// nothing else; true once the controller acknowledged it. Gives up after `bound`: an attempt
// still under way then goes on by itself (each of its steps has its own timeout) and is joined by
// JoinStopAttempts. The new session is closed again; the link's sessions are left as they are.
bool SendStopOnFreshSession(std::chrono::milliseconds bound);
// Waits for stop attempts that outlived their bound. For shutdown and tests.
void JoinStopAttempts();

// The link's program-wide values as at start: no sessions, no factory, no window, no test
// flags, no recorded traffic. For tests, once no test thread is left.
void ResetLinkState();

// The Connect button's handler.
void OnConnect();

// Why the most recent Connect failed, naming the step, the address and port and what failed
// ("opening the command session: cannot connect to 127.0.0.1:23: Connection refused"); "" after
// a Connect that succeeded. The box keeps its fixed text; this is for its details. Any thread.
std::string LastConnectFailure();

// Clears the connected flag and closes both sessions: at shutdown, so that sessions end before
// what they talk to, and between tests.
void CloseLink();

// Text of the link that the window shows or that callers rely on.
inline constexpr const char* kCommandErrorText = "a command error occurred";
inline constexpr const char* kConnectionFailedText = "Connection Failed";
inline constexpr const char* kMessageCaption = "Diagnostics";

}  // namespace trevane
