#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/FleetFile.h"
#include "cli/FleetStates.h"

// A line of controllers, each served in this one process by a controller and a thread of its
// own, in its own folder.
namespace trevane::cli {

class VerbContext;

struct FleetMember {
    FleetController controller;
    std::string folder;             // absolute: the fleet folder and the controller's name
    std::string state = fleet_state::kWaiting;  // a word of FleetStates.h or of a test's outcome
    std::string text;               // the latest status line, or why it ended so
    std::string result;             // the test's verdict line
    std::string verdict;            // the test's outcome in one word, once it has one
    bool warned = false;            // the test found warnings or drift
    std::string report;             // file names in `folder`, "" for none
    std::string log;
    std::optional<int> exitCode;
    double seconds = 0;  // from start to end

    // Passed with nothing to note, or done.
    bool Passed() const;
    // Passed, with or without warnings, or done: what the exit code asks of a member.
    bool Succeeded() const;
};

struct FleetOptions {
    std::string verb;
    std::vector<std::string> args;
    std::string history;  // the shared history's path
    int jobs = 8;
    int timeoutMs = 1000;  // every member's reply timeout
    bool strict = false;   // a pass with warnings or drift ends the fleet kExitWarnings
};

// The files a member leaves in its folder beside the verb's own: what a trevane-cli of its own
// would have printed (JSON Lines) and said on standard error, and its trace.
inline constexpr const char* kFleetOutputFile = "trevane-cli.jsonl";
inline constexpr const char* kFleetErrorFile = "trevane-cli.err";
inline constexpr const char* kFleetTraceFile = "trace.txt";
// How long members may take to end after an interrupt; the controller of one still running then
// is sent the stop on a fresh session, and the fleet ends without waiting for it any longer.
inline constexpr std::chrono::seconds kFleetStopBound{20};
// How long that stop may take.
inline constexpr std::chrono::seconds kFleetLastStopBound{3};

// Runs every member, at most `jobs` at once, calling `changed` with a member's index after each
// change of its state or text. Each member reaches its controller as `fleet` opens sessions. An
// interrupt of the fleet's run stops every running member (each ends as a single test does) and
// starts no more. Returns once every member ended, or was given up on after kFleetStopBound
// (the run's LeaveThreadsBehind tells so).
void RunFleet(VerbContext& fleet, std::vector<FleetMember>& members, const FleetOptions& options,
              const std::function<void(std::size_t)>& changed);

}  // namespace trevane::cli
