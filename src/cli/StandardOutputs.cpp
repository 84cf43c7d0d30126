#include "cli/StandardOutputs.h"

#include <algorithm>
#include <iostream>
#include <mutex>
#include <streambuf>
#include <string>
#include <utility>

#include "cli/RunControl.h"
#include "cli/QueuedStream.h"
#include "common/Platform.h"

namespace trevane::cli {
namespace {

struct Streams {
    std::shared_ptr<RunControl> control;
    std::shared_ptr<QueuedOutput> out;
    std::shared_ptr<QueuedOutput> err;
    std::unique_ptr<QueuedStreamBuf> outBuffer;
    std::unique_ptr<QueuedStreamBuf> errBuffer;
    std::unique_ptr<QueuedStreamBuf> logBuffer;
    std::streambuf* previousOut = nullptr;
    std::streambuf* previousErr = nullptr;
    std::streambuf* previousLog = nullptr;

    // A program that ends without FinishStandardOutputs must not leave the streams on buffers
    // that are gone when the library flushes them.
    ~Streams() {
        if (previousOut != nullptr) {
            std::cout.rdbuf(previousOut);
            std::cerr.rdbuf(previousErr);
            std::clog.rdbuf(previousLog);
        }
    }
};

Streams& TheStreams() {
    static Streams streams;
    return streams;
}

// Waits while the reader takes bytes; false once it stalled for kFinishStall or an interrupt
// came after `interruptsBefore`.
bool WaitForReader(QueuedOutput& output, const RunControl& control, int interruptsBefore) {
    constexpr auto kSlice = std::chrono::milliseconds(50);
    auto written = output.Tally().bytesWritten;
    auto lastProgress = std::chrono::steady_clock::now();
    while (!output.Drain(kSlice)) {
        if (control.Count() > interruptsBefore) {
            return false;
        }
        const auto now = std::chrono::steady_clock::now();
        if (const auto current = output.Tally().bytesWritten; current != written) {
            written = current;
            lastProgress = now;
        } else if (now - lastProgress >= kFinishStall) {
            return false;
        }
    }
    return true;
}

std::optional<std::string> LossOf(const char* name, const OutputTally& tally) {
    if (tally.bytesLost == 0) {
        return std::nullopt;
    }
    return std::string(name) + ": " + tally.firstFailure.value_or("not written") + " (" +
           std::to_string(tally.bytesLost) + " byte(s) not written)";
}

BatchWrite WriteTo(StandardStream stream, std::shared_ptr<RunControl> control) {
    return [stream, control = std::move(control)](std::string_view bytes) {
        std::optional<std::string> failure = WriteToStandardStream(stream, bytes);
        if (failure && stream == StandardStream::Output) {
            // Seen at once, not at the next line: a verb under way stops as on Ctrl-C.
            control->OutputBroken();
        }
        return failure;
    };
}

}  // namespace

void QueueStandardOutputs(std::shared_ptr<RunControl> control) {
    Streams& streams = TheStreams();
    if (streams.out) {
        return;
    }
    streams.control = std::move(control);
    streams.out = std::make_shared<QueuedOutput>(WriteTo(StandardStream::Output, streams.control),
                                                 kStandardOutputBound);
    // One queue for both when they reach one place, so their lines keep the order they had.
    streams.err = StandardStreamsShareAFile()
                      ? streams.out
                      : std::make_shared<QueuedOutput>(
                            WriteTo(StandardStream::Error, streams.control), kStandardOutputBound);
    streams.outBuffer = std::make_unique<QueuedStreamBuf>(streams.out);
    streams.errBuffer = std::make_unique<QueuedStreamBuf>(streams.err);
    streams.logBuffer = std::make_unique<QueuedStreamBuf>(streams.err);
    std::cout.flush();
    std::cerr.flush();
    streams.previousOut = std::cout.rdbuf(streams.outBuffer.get());
    streams.previousErr = std::cerr.rdbuf(streams.errBuffer.get());
    streams.previousLog = std::clog.rdbuf(streams.logBuffer.get());
}

std::shared_ptr<QueuedOutput> StandardOutputQueue() {
    return TheStreams().out;
}

bool FinishStandardOutputs() {
    Streams& streams = TheStreams();
    if (!streams.out) {
        return false;
    }
    std::cout.flush();
    std::cerr.flush();
    std::clog.flush();
    const RunControl& control = *streams.control;
    const int interrupts = control.Count();
    constexpr auto kLeftBehind = std::chrono::milliseconds(100);
    WaitForReader(*streams.out, control, interrupts) &&
        WaitForReader(*streams.err, control, interrupts);
    std::cout.rdbuf(std::exchange(streams.previousOut, nullptr));
    std::cerr.rdbuf(streams.previousErr);
    std::clog.rdbuf(streams.previousLog);
    const std::optional<std::string> loss =
        LossOf("standard output", streams.out->Close(kLeftBehind));
    streams.err->Close(kLeftBehind);
    streams.out.reset();
    if (loss) {
        // A queue of its own for the last line: standard error may be the stalled one.
        QueuedOutput last(WriteTo(StandardStream::Error, streams.control), kStandardOutputBound);
        last.Push("trevane-cli: " + *loss + "\n");
        last.Close(kLeftBehind);
    }
    return loss.has_value();
}

void DrainStandardOutputs(std::chrono::milliseconds bound) {
    Streams& streams = TheStreams();
    if (!streams.out) {
        return;
    }
    std::cout.flush();
    std::cerr.flush();
    const auto deadline = std::chrono::steady_clock::now() + bound;
    streams.err->Drain(bound);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    streams.out->Drain(std::max(left, std::chrono::milliseconds(0)));
}

}  // namespace trevane::cli
