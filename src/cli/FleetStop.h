#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/FleetFile.h"

namespace trevane::cli {

// Sends the stop of motion ("AB1") to every controller at once, each on a session of its own,
// for children that must be killed: whatever they left moving stops first. Each attempt is
// bounded by the link's connect and reply timeouts. One entry per controller: nothing once it
// acknowledged the stop, else why it did not.
std::vector<std::optional<std::string>> StopMotionOn(
    const std::vector<FleetController>& controllers);

}  // namespace trevane::cli
