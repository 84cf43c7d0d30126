#include "traffic/TraceWriter.h"

#include <atomic>
#include <mutex>

#include "common/FileAppend.h"
#include "common/FileReplace.h"

namespace trevane {

struct TraceWriter::State {
    std::string path;
    std::atomic<std::uint64_t> written{0};
    std::atomic<std::uint64_t> lost{0};
    std::mutex mutex;
    std::optional<std::string> firstFailure;
};

namespace {

// The path as it may appear in a message: a name with control bytes must not break the line.
std::string Named(const std::string& path) {
    return "'" + EscapeBytes(path) + "'";
}

}  // namespace

TraceWriter::TraceWriter(TrafficRecorder& recorder) : recorder_(recorder) {}

TraceWriter::~TraceWriter() {
    Stop();
}

std::optional<std::string> TraceWriter::Start(const std::string& path) {
    Stop();
    if (auto failure = ReplaceFileAtomically(path, std::string(kTraceHeader) + "\n")) {
        return Named(path) + ": " + *failure;
    }
    auto state = std::make_shared<State>();
    state->path = path;
    state_ = state;
    recorder_.SetSink([state](const TrafficEntry& entry) {
        // One append a line: a line is in the file whole or counted as lost.
        const std::optional<std::string> failure =
            AppendWhole(state->path, FormatTraceLine(entry) + "\n");
        if (!failure) {
            ++state->written;
            return;
        }
        ++state->lost;
        std::lock_guard lock(state->mutex);
        if (!state->firstFailure) {
            state->firstFailure = *failure;
        }
    });
    return std::nullopt;
}

std::optional<std::string> TraceWriter::Stop() {
    if (!state_) {
        return std::nullopt;
    }
    recorder_.SetSink(nullptr);
    const std::shared_ptr<State> state = std::move(state_);
    std::lock_guard lock(state->mutex);
    if (!state->firstFailure) {
        return std::nullopt;
    }
    return Named(state->path) + ": " + *state->firstFailure + " (" +
           std::to_string(state->lost.load()) + " exchange line(s) not written)";
}

std::string TraceWriter::Path() const {
    return state_ ? state_->path : std::string();
}

std::uint64_t TraceWriter::LinesWritten() const {
    return state_ ? state_->written.load() : 0;
}

std::uint64_t TraceWriter::LinesLost() const {
    return state_ ? state_->lost.load() : 0;
}

}  // namespace trevane
