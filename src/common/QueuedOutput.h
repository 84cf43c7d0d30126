#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// An output that no caller ever waits for: what is pushed goes into a bounded queue, and a thread
// of the output's own writes it. A reader that stops reading, a pipe that fills or a file system
// that hangs stalls that thread only; the callers' pushes are refused and counted once the
// queue is full.
namespace trevane {

struct QueueBound {
    std::size_t items = 0;  // pushes waiting to be written
    std::size_t bytes = 0;  // their bytes; one push larger than this still fits an empty queue
};

// Writes one batch of queued bytes whole; returns nothing when every byte is out, else why not.
// Runs on the output's thread only, one call at a time.
using BatchWrite = std::function<std::optional<std::string>(std::string_view bytes)>;

struct OutputTally {
    std::uint64_t itemsWritten = 0;
    std::uint64_t bytesWritten = 0;
    std::uint64_t itemsLost = 0;  // refused, failed, or still queued when the output closed
    std::uint64_t bytesLost = 0;
    std::optional<std::string> firstFailure;  // why the first lost item was lost
    bool Whole() const { return itemsLost == 0 && bytesLost == 0 && !firstFailure; }
};

class QueuedOutput {
  public:
    QueuedOutput(BatchWrite write, QueueBound bound);
    // Closes with a short bound: a writer stuck in a write is left behind, never waited for.
    ~QueuedOutput();
    QueuedOutput(const QueuedOutput&) = delete;
    QueuedOutput& operator=(const QueuedOutput&) = delete;

    // Queues `bytes`, counted as `items` (0 for a header that is no item of its own). Never
    // blocks: false, counted as lost, when the queue is full or the output closed.
    bool Push(std::string bytes, std::uint64_t items = 1);
    // Waits at most `bound` for everything queued so far to be written or lost; true once it is.
    bool Drain(std::chrono::milliseconds bound);
    // Writes what is queued for at most `bound`, then ends. What is left then, the batch being
    // written included, counts as lost; a thread still inside a write is left to end by itself
    // when that write returns, and touches nothing but what it owns.
    OutputTally Close(std::chrono::milliseconds bound);
    // Whether an item has been lost to a failed write (not to a full queue).
    bool WriteFailed() const;
    OutputTally Tally() const;

  private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

}  // namespace trevane
