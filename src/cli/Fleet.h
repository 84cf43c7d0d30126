#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/FleetFile.h"

// A line of controllers, each served by a trevane-cli of its own in its own folder.
namespace trevane::cli {

struct FleetMember {
    FleetController controller;
    std::string folder;             // absolute: the fleet folder and the controller's name
    std::string state = "waiting";  // waiting, running, passed, done, failed, not run, aborted
    std::string text;               // the latest status line, or why it ended so
    std::string result;             // the test's verdict line
    std::string report;             // file names in `folder`, "" for none
    std::string log;
    std::optional<int> exitCode;
    double seconds = 0;  // from start to end

    bool Passed() const { return state == "passed" || state == "done"; }
};

struct FleetOptions {
    std::string program;  // the trevane-cli to start
    std::string verb;
    std::vector<std::string> args;
    std::string history;  // the shared history's path
    int jobs = 8;
};

// The files a child leaves in its folder beside the verb's own.
inline constexpr const char* kFleetOutputFile = "trevane-cli.jsonl";
inline constexpr const char* kFleetErrorFile = "trevane-cli.err";
inline constexpr const char* kFleetTraceFile = "trace.txt";
// How long children may take to end after an interrupt was passed on; one still running then is
// held, its controller is sent the stop on a session of the fleet's own, and it is killed.
inline constexpr std::chrono::seconds kFleetStopBound{20};

// Runs every member, at most `jobs` at once, calling `changed` with a member's index after each
// change of its state or text. An interrupt of this program is passed on to every running
// child (each ends as a single one does) and starts no more. Returns once every child ended.
void RunFleet(std::vector<FleetMember>& members, const FleetOptions& options,
              const std::function<void(std::size_t)>& changed);

}  // namespace trevane::cli
