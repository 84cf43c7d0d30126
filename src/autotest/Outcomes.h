#pragma once

// The words that say how a test or a move ended, in one place: the verdict, the report, the
// history and the command-line front end all use these.
namespace trevane::outcome {

inline constexpr const char* kPassed = "passed";          // every reading arrived, none too high
inline constexpr const char* kCompleted = "completed";    // a move watched and reported to its end
inline constexpr const char* kAborted = "aborted";        // a reading above its limit stopped it
inline constexpr const char* kUnverified = "unverified";  // readings of the move did not arrive
inline constexpr const char* kLinkLost = "link lost";     // the command session went away
inline constexpr const char* kUnfinished = "unfinished";  // the test ended during the move

}  // namespace trevane::outcome
