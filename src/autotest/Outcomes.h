#pragma once

#include <string_view>

// The words that say how a test or a move ended, in one place: the verdict, the report, the
// history and the command-line front end all use these.
namespace trevane::outcome {

inline constexpr const char* kPassed = "passed";          // every reading arrived, none too high
inline constexpr const char* kCompleted = "completed";    // a move watched and reported to its end
inline constexpr const char* kAborted = "aborted";        // a reading above its limit stopped it
inline constexpr const char* kUnverified = "unverified";  // readings of the move did not arrive
inline constexpr const char* kLinkLost = "link_lost";     // the command session went away
inline constexpr const char* kUnfinished = "unfinished";  // the test ended during the move
inline constexpr const char* kStopped = "stopped";        // the operator or the program ended it
inline constexpr const char* kNoConnection = "no_connection";  // it never reached a controller

// A test's outcome as the history keeps it (older files say "completed", "move aborted",
// "aborted by user", "no connection", "link lost") in the words above: passed, aborted,
// unverified, link_lost, stopped, no_connection.
inline const char* TestOutcomeWord(std::string_view stored) {
    if (stored == "completed" || stored == kPassed) {
        return kPassed;
    }
    if (stored == "move aborted" || stored == kAborted) {
        return kAborted;
    }
    if (stored == "aborted by user" || stored == kStopped) {
        return kStopped;
    }
    if (stored == "no connection" || stored == kNoConnection) {
        return kNoConnection;
    }
    if (stored == "link lost" || stored == kLinkLost) {
        return kLinkLost;
    }
    return stored == kUnverified ? kUnverified : "running";
}

}  // namespace trevane::outcome
