#include "cli/FleetFile.h"

#include <charconv>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "protocol/Protocol.h"

namespace trevane::cli {
namespace {

constexpr std::size_t kMaxNameBytes = 64;
constexpr std::size_t kMaxControllers = 1000;
constexpr std::size_t kMaxFileBytes = 1024 * 1024;

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

// A folder name on every platform: no separators, no "." or "..", nothing a shell or Windows
// would take apart.
bool PlainFolderName(const std::string& name) {
    if (name.empty() || name.size() > kMaxNameBytes || name == "." || name == "..") {
        return false;
    }
    for (const char c : name) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        if (!plain) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<FleetController> ParseFleet(const std::string& text, const std::string& fileName,
                                        int defaultPort) {
    std::vector<FleetController> fleet;
    std::map<std::string, long> folders;  // lower case, as a Windows folder would clash
    std::istringstream in(text);
    long lineNumber = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineNumber;
        const auto fail = [&](const std::string& what) {
            throw std::runtime_error("'" + protocol::Printable(fileName) + "' line " +
                                     std::to_string(lineNumber) + ": " + what);
        };
        line = line.substr(0, line.find('#'));
        const std::vector<std::string> words = Words(line);
        if (words.empty()) {
            continue;
        }
        if (words.size() > 3) {
            fail("'" + protocol::Printable(line) + "' is not ADDRESS [PORT [NAME]]");
        }
        FleetController controller;
        controller.lineNumber = lineNumber;
        controller.address = words[0];
        if (!protocol::ParseDottedIpv4(controller.address)) {
            fail("'" + protocol::Printable(words[0]) +
                 "' is not a dotted IPv4 address (four numbers 0..255)");
        }
        controller.port = defaultPort;
        if (words.size() > 1) {
            const std::string& port = words[1];
            const auto [end, ec] =
                std::from_chars(port.data(), port.data() + port.size(), controller.port);
            if (ec != std::errc{} || end != port.data() + port.size() || controller.port < 1 ||
                controller.port > 65535) {
                fail("'" + protocol::Printable(port) + "' is not a port (1..65535)");
            }
        }
        controller.name = words.size() > 2 ? words[2] : controller.address;
        if (!PlainFolderName(controller.name)) {
            fail("the name '" + protocol::Printable(controller.name) +
                 "' is not a folder name (letters, digits, '-', '_', '.', at most 64)");
        }
        std::string folder = controller.name;
        for (char& c : folder) {
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
        if (const auto [at, fresh] = folders.emplace(folder, lineNumber); !fresh) {
            fail("the folder '" + controller.name + "' is already line " +
                 std::to_string(at->second) + "'s; give one of them a NAME");
        }
        if (fleet.size() == kMaxControllers) {
            fail("more than " + std::to_string(kMaxControllers) + " controllers");
        }
        fleet.push_back(std::move(controller));
    }
    if (fleet.empty()) {
        throw std::runtime_error("'" + protocol::Printable(fileName) + "' lists no controller");
    }
    return fleet;
}

std::vector<FleetController> ReadFleetFile(const std::string& path, int defaultPort) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("'" + protocol::Printable(path) + "' cannot be opened");
    }
    std::string text(kMaxFileBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxFileBytes) {
        throw std::runtime_error("'" + protocol::Printable(path) + "' is longer than 1 MiB");
    }
    return ParseFleet(text, path, defaultPort);
}

}  // namespace trevane::cli
