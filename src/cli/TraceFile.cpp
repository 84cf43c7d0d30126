#include "cli/TraceFile.h"

#include "cli/StandardOutputs.h"
#include "cli/Verbs.h"
#include "common/Platform.h"
#include "controller/Controller.h"
#include "traffic/TraceWriter.h"

namespace trevane::cli {
namespace {

TraceWriter& Writer() {
    static TraceWriter writer(TheController().Traffic());
    return writer;
}

}  // namespace

std::optional<std::string> StartTrace(const std::string& path) {
    // Onto standard output through its own queue, so the trace and the verb's lines keep their
    // order there.
    const std::shared_ptr<QueuedOutput> output = StandardOutputQueue();
    std::optional<std::string> failure = output && IsStandardOutput(path)
                                             ? Writer().Start(path, output)
                                             : Writer().Start(path);
    if (failure) {
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
