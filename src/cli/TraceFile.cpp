#include "cli/TraceFile.h"

#include "traffic/TraceWriter.h"

namespace trevane::cli {
namespace {

TraceWriter& Writer() {
    static TraceWriter writer;
    return writer;
}

}  // namespace

std::optional<std::string> StartTrace(const std::string& path) {
    if (std::optional<std::string> failure = Writer().Start(path)) {
        return "--trace " + *failure;
    }
    return std::nullopt;
}

std::optional<std::string> StopTrace() {
    if (std::optional<std::string> failure = Writer().Stop()) {
        return "--trace " + *failure;
    }
    return std::nullopt;
}

}  // namespace trevane::cli
