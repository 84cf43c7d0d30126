#include "link/SessionState.h"

namespace trevane {

const char* SessionStateWord(SessionState state) {
    switch (state) {
        case SessionState::NotConnected:
            return "not_connected";
        case SessionState::Connecting:
            return "connecting";
        case SessionState::Live:
            return "live";
        case SessionState::ClosedByController:
            return "closed_by_controller";
        case SessionState::Reopening:
            return "reopening";
        case SessionState::Failed:
            return "failed";
    }
    return "failed";
}

}  // namespace trevane
