#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace trevane {

// What the rest of the system relies on from a controller session. Every implementation (the
// TCP client, the in-process simulated controller, test doubles) meets this contract.
// Failures are thrown as exceptions; callers never inspect them beyond catching.
class MotionClient {
  public:
    virtual ~MotionClient() = default;

    // Sends `command` followed by `terminator` and returns the reply up to the acknowledgement.
    // With `trim`, blanks, tabs, CR and LF are removed from both ends of the reply.
    // Throws when the controller rejects the command ("?"), on timeout or a broken link.
    virtual std::string command(const std::string& command, const std::string& terminator = "\r",
                                const std::string& acknowledgement = ":", bool trim = true) = 0;

    // One line describing the connection: address, port and the controller's identity.
    virtual std::string connection() = 0;

    // The program stored in the controller, lines ending in "\n".
    virtual std::string programUpload() = 0;

    // The controller's binary data record for `query` (for example "QR IXYZW").
    virtual std::vector<char> record(const std::string& query) = 0;
};

// The failure every implementation of the project throws. Its text names what failed and with
// which input, for logs of the command-line front end; the window never shows it.
class MotionError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;

    // The controller answered "?"; `reason` is its answer to "TC1" ("" when it gave none).
    static MotionError Rejection(const std::string& text, std::string reason) {
        MotionError error(text);
        error.rejected_ = true;
        error.reason_ = std::move(reason);
        return error;
    }
    bool Rejected() const { return rejected_; }
    const std::string& ControllerReason() const { return reason_; }

    // No reply came within the reply timeout (or the session was spent by one).
    static MotionError Timeout(const std::string& text) {
        MotionError error(text);
        error.timedOut_ = true;
        return error;
    }
    bool TimedOut() const { return timedOut_; }

    // The replies no longer match the requests: bytes came when no request waited, a second
    // reply followed one, or a reply could not be the answer to its request. The protocol has no
    // request ids, so the session cannot be trusted again; a fresh one must be opened.
    // `sent`: whether the request went out before the slip was seen.
    static MotionError OutOfStep(const std::string& text, bool sent = true) {
        MotionError error(text);
        error.outOfStep_ = true;
        error.unsent_ = !sent;
        return error;
    }
    bool OutOfStep() const { return outOfStep_; }

    // The controller (or anything on the way) ended the session: an orderly end of stream or a
    // reset. Controllers close a session left idle too long, which the next request finds before
    // it goes out (`sent` false); one seen while a reply was awaited (`sent` true) may follow a
    // command that was carried out, so that command must never be sent again.
    static MotionError ClosedByController(const std::string& text, bool sent) {
        MotionError error(text);
        error.closedByController_ = true;
        error.unsent_ = !sent;
        return error;
    }
    bool ClosedByController() const { return closedByController_; }

    // The request never reached the controller: sending it on a fresh session cannot repeat it.
    bool NotSent() const { return unsent_; }

  private:
    bool rejected_ = false;
    bool timedOut_ = false;
    bool outOfStep_ = false;
    bool closedByController_ = false;
    bool unsent_ = false;
    std::string reason_;
};

// Opens a session to an address (a dotted IPv4 address as typed into the address field).
// Throws MotionError when the session cannot be opened.
using SessionFactory = std::function<std::shared_ptr<MotionClient>(const std::string& address)>;

}  // namespace trevane
