#include "cli/TraceFile.h"

#include <memory>
#include <mutex>

#include "common/FileAppend.h"
#include "common/FileReplace.h"
#include "protocol/Protocol.h"
#include "traffic/TrafficRecorder.h"

namespace trevane::cli {
namespace {

struct TraceState {
    std::mutex mutex;
    std::string path;
    std::optional<std::string> firstFailure;
    long long lostLines = 0;
};

std::shared_ptr<TraceState> g_trace;  // touched by the main thread only

}  // namespace

std::optional<std::string> StartTrace(const std::string& path) {
    if (auto failure = ReplaceFileAtomically(path, "")) {
        return "--trace '" + protocol::Printable(path) + "': " + *failure;
    }
    auto state = std::make_shared<TraceState>();
    state->path = path;
    g_trace = state;
    Traffic().SetSink([state](const TrafficEntry& entry) {
        // One append a line: a line is in the file whole or counted as lost.
        const std::optional<std::string> failure =
            AppendWhole(state->path, FormatTrafficLine(entry) + "\n");
        if (failure) {
            std::lock_guard lock(state->mutex);
            ++state->lostLines;
            if (!state->firstFailure) {
                state->firstFailure = *failure;
            }
        }
    });
    return std::nullopt;
}

std::optional<std::string> StopTrace() {
    if (!g_trace) {
        return std::nullopt;
    }
    Traffic().SetSink(nullptr);
    const std::shared_ptr<TraceState> state = std::move(g_trace);
    std::lock_guard lock(state->mutex);
    if (!state->firstFailure) {
        return std::nullopt;
    }
    return "--trace '" + protocol::Printable(state->path) + "': " + *state->firstFailure + " (" +
           std::to_string(state->lostLines) + " exchange line(s) not written)";
}

}  // namespace trevane::cli
