#include "support/CliJsonDocs.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace trevane::testing {
namespace {

void Collect(const JsonValue& value, const std::set<std::string>& documented,
             std::set<std::string>& missing) {
    for (const auto& [name, member] : value.members) {
        if (!documented.contains(name)) {
            missing.insert(name);
        }
        Collect(member, documented, missing);
    }
    for (const JsonValue& item : value.items) {
        Collect(item, documented, missing);
    }
}

}  // namespace

std::set<std::string> SectionJsonNames(const std::string& page, const std::string& heading) {
    std::set<std::string> names;
    std::istringstream lines(page);
    bool inside = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("## ")) {
            inside = line == "## " + heading;
        } else if (inside && line.starts_with("- `")) {
            const std::string listed = line.substr(0, line.find(": "));
            for (std::size_t open = listed.find('`'); open != std::string::npos;
                 open = listed.find('`', listed.find('`', open + 1) + 1)) {
                const std::size_t close = listed.find('`', open + 1);
                if (close == std::string::npos) {
                    break;
                }
                names.insert(listed.substr(open + 1, close - open - 1));
            }
        }
    }
    return names;
}

std::set<std::string> DocumentedJsonNames(const std::string& page, const std::string& verb) {
    std::set<std::string> names;
    for (const std::string& heading : {"`" + verb + "`", verb, std::string("Every verb")}) {
        names.merge(SectionJsonNames(page, heading));
    }
    return names;
}

std::vector<std::string> UndocumentedNames(const std::vector<JsonValue>& lines,
                                           const std::set<std::string>& documented) {
    std::set<std::string> missing;
    for (const JsonValue& line : lines) {
        Collect(line, documented, missing);
    }
    return {missing.begin(), missing.end()};
}

std::string ReadCliJsonPage(const std::string& sourceDir) {
    std::ifstream in(sourceDir + "/docs/cli-json.md");
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace trevane::testing
