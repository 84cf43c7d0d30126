#pragma once

#include <string>
#include <vector>

// The list of a fleet's controllers: one a line, "ADDRESS [PORT [NAME]]" separated by blanks,
// "#" starting a comment.
namespace trevane::cli {

struct FleetController {
    std::string address;
    int port = 0;
    std::string name;  // its folder's name: NAME, or the address when none is given
    long lineNumber = 0;
};

// Throws std::runtime_error "FILE line N: ..." for a line that is not a controller, a name that
// is not a plain folder name, or two controllers with the same folder.
std::vector<FleetController> ParseFleet(const std::string& text, const std::string& fileName,
                                        int defaultPort);
std::vector<FleetController> ReadFleetFile(const std::string& path, int defaultPort);

}  // namespace trevane::cli
