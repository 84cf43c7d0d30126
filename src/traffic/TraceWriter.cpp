#include "traffic/TraceWriter.h"

#include <atomic>
#include <utility>

#include "common/FileAppend.h"
#include "common/FileReplace.h"

namespace trevane {

struct TraceWriter::State {
    std::string path;
    std::shared_ptr<QueuedOutput> output;
    bool ownsOutput = true;
    // Onto a shared output only: what the trace itself handed over or had refused.
    std::atomic<std::uint64_t> accepted{0};
    std::atomic<std::uint64_t> refused{0};
};

namespace {

// The path as it may appear in a message: a name with control bytes must not break the line.
std::string Named(const std::string& path) {
    return "'" + EscapeBytes(path) + "'";
}

// The first batch starts the file with the header; each later one is one append, so a batch is
// in the file whole or counted as lost.
BatchWrite FileBatches(const std::string& path) {
    return [path, first = true](std::string_view bytes) mutable -> std::optional<std::string> {
        if (std::exchange(first, false)) {
            return ReplaceFileAtomically(path, bytes);
        }
        return AppendWhole(path, bytes);
    };
}

}  // namespace

TraceWriter::TraceWriter(TrafficRecorder& recorder) : recorder_(recorder) {}

TraceWriter::~TraceWriter() {
    Stop();
}

std::optional<std::string> TraceWriter::Start(const std::string& path) {
    Stop();
    auto state = std::make_shared<State>();
    state->path = path;
    state->output = std::make_shared<QueuedOutput>(FileBatches(path), kQueueBound);
    state->output->Push(std::string(kTraceHeader) + "\n", 0);
    // A file that cannot be written at all says so at once; one that is merely slow (a pipe
    // whose reader has not caught up) is recorded to regardless.
    if (state->output->Drain(kStartBound)) {
        if (const OutputTally tally = state->output->Tally(); tally.firstFailure) {
            state->output->Close(kStopBound);
            return Named(path) + ": " + *tally.firstFailure;
        }
    }
    Record(std::move(state));
    return std::nullopt;
}

std::optional<std::string> TraceWriter::Start(const std::string& name,
                                              std::shared_ptr<QueuedOutput> onto) {
    Stop();
    auto state = std::make_shared<State>();
    state->path = name;
    state->output = std::move(onto);
    state->ownsOutput = false;
    if (!state->output->Push(std::string(kTraceHeader) + "\n", 0)) {
        return Named(name) + ": " + state->output->Tally().firstFailure.value_or("refused");
    }
    Record(std::move(state));
    return std::nullopt;
}

void TraceWriter::Record(std::shared_ptr<State> state) {
    state_ = state;
    recorder_.SetSink([state](const TrafficEntry& entry) {
        // Queued, never written here: this runs inside every exchange.
        if (state->output->Push(FormatTraceLine(entry) + "\n")) {
            ++state->accepted;
        } else {
            ++state->refused;
        }
    });
}

std::optional<std::string> TraceWriter::Stop() {
    if (!state_) {
        return std::nullopt;
    }
    recorder_.SetSink(nullptr);
    const std::shared_ptr<State> state = std::move(state_);
    if (!state->ownsOutput) {
        if (const std::uint64_t refused = state->refused.load(); refused > 0) {
            return Named(state->path) + ": it did not keep up (" + std::to_string(refused) +
                   " exchange line(s) not written)";
        }
        return std::nullopt;
    }
    const OutputTally tally = state->output->Close(kStopBound);
    if (!tally.firstFailure) {
        return std::nullopt;
    }
    return Named(state->path) + ": " + *tally.firstFailure + " (" +
           std::to_string(tally.itemsLost) + " exchange line(s) not written)";
}

std::string TraceWriter::Path() const {
    return state_ ? state_->path : std::string();
}

std::uint64_t TraceWriter::LinesWritten() const {
    if (!state_) {
        return 0;
    }
    return state_->ownsOutput ? state_->output->Tally().itemsWritten : state_->accepted.load();
}

std::uint64_t TraceWriter::LinesLost() const {
    if (!state_) {
        return 0;
    }
    return state_->ownsOutput ? state_->output->Tally().itemsLost : state_->refused.load();
}

}  // namespace trevane
