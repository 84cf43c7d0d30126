#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "link/SessionState.h"
#include "protocol/MotionClient.h"

namespace trevane {

// One controller session shared between the window's thread, the test thread and the status
// poll, with the state the operator sees. Readers get their own reference, so a Connect never
// frees a session under an exchange that is still running on another thread.
class SessionSlot {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    std::shared_ptr<MotionClient> Get() const {
        std::lock_guard lock(mutex_);
        return session_;
    }
    // A freshly opened session (Live), or none with the state given.
    void Set(std::shared_ptr<MotionClient> session, SessionStatus status, TimePoint now) {
        std::shared_ptr<MotionClient> old;
        {
            std::lock_guard lock(mutex_);
            old = std::exchange(session_, std::move(session));
            status_ = std::move(status);
            outOfStep_ = false;
            closed_ = false;
            lastUsed_ = now;
        }
        // `old` is released outside the lock: closing a session may take a moment.
    }
    void SetStatus(SessionStatus status) {
        std::lock_guard lock(mutex_);
        status_ = std::move(status);
    }
    SessionStatus Status() const {
        std::lock_guard lock(mutex_);
        return status_;
    }

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
    // The controller closed `session`: the next use opens a new one. True when this call marked
    // it; `idle` is then how long it had not been used.
    bool MarkClosed(const std::shared_ptr<MotionClient>& session, SessionStatus status,
                    TimePoint now, std::chrono::steady_clock::duration& idle) {
        std::lock_guard lock(mutex_);
        if (closed_ || session == nullptr || session != session_) {
            return false;
        }
        closed_ = true;
        idle = now - lastUsed_;
        closedIdle_ = idle;
        status_ = std::move(status);
        return true;
    }
    // Whether the next use must open a new session first, and why (for the operator).
    bool NeedsReopen() const {
        std::lock_guard lock(mutex_);
        return outOfStep_ || closed_;
    }
    // How long the session the controller closed had been idle; none unless it was closed.
    std::optional<std::chrono::steady_clock::duration> ClosedAfterIdle() const {
        std::lock_guard lock(mutex_);
        return closed_ ? std::optional(closedIdle_) : std::nullopt;
    }
    void Touch(const std::shared_ptr<MotionClient>& session, TimePoint now) {
        std::lock_guard lock(mutex_);
        if (session == session_) {
            lastUsed_ = now;
        }
    }

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<MotionClient> session_;
    SessionStatus status_;
    bool outOfStep_ = false;
    bool closed_ = false;
    TimePoint lastUsed_{};
    std::chrono::steady_clock::duration closedIdle_{};
};

}  // namespace trevane
