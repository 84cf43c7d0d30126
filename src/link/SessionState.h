#pragma once

#include <chrono>
#include <string>

namespace trevane {

// Where one controller session stands. Scripts read the words (`connect --json`).
enum class SessionState {
    NotConnected,        // no Connect yet, or it ended
    Connecting,          // Connect is opening it
    Live,                // open and in step
    ClosedByController,  // the controller (or the way to it) closed it; the next use reopens it
    Reopening,           // being opened again for the next command or poll
    Failed,              // could not be opened (again); the reason says why
};

// "not_connected", "connecting", "live", "closed_by_controller", "reopening", "failed".
const char* SessionStateWord(SessionState state);

struct SessionStatus {
    SessionState state = SessionState::NotConnected;
    std::string reason;  // why it is in this state, "" for NotConnected and Live
    std::chrono::system_clock::time_point since{};
};

}  // namespace trevane
