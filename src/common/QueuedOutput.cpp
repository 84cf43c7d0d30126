#include "common/QueuedOutput.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "common/Platform.h"

namespace trevane {
namespace {

struct Item {
    std::string bytes;
    std::uint64_t count = 0;
};

constexpr auto kDestructorBound = std::chrono::milliseconds(200);

}  // namespace

// Everything the writer thread touches: it keeps its own reference, so an output closed while
// its thread is stuck in a write is freed only when that thread lets go.
struct QueuedOutput::Shared {
    BatchWrite write;
    QueueBound bound;
    std::thread thread;

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Item> queue;
    std::size_t queuedBytes = 0;
    std::uint64_t inFlightItems = 0;
    std::uint64_t inFlightBytes = 0;
    bool writing = false;
    bool closing = false;
    bool abandoned = false;  // Close gave up on the thread
    bool finished = false;
    bool writeFailed = false;
    OutputTally tally;

    void LoseLocked(std::uint64_t items, std::uint64_t bytes, const std::string& why) {
        tally.itemsLost += items;
        tally.bytesLost += bytes;
        if (!tally.firstFailure) {
            tally.firstFailure = why;
        }
    }
    void Run();
};

void QueuedOutput::Shared::Run() {
    // A closed pipe is this output's error, reported by the write; it must not end the program.
    BlockBrokenPipeSignalOnThisThread();
    Shared& s = *this;
    std::unique_lock lock(s.mutex);
    for (;;) {
        s.changed.wait(lock, [&s] { return !s.queue.empty() || s.closing; });
        if (s.abandoned || s.queue.empty()) {
            break;
        }
        // One write for everything waiting: a slow destination costs one call per batch.
        std::string batch;
        batch.reserve(s.queuedBytes);
        std::uint64_t items = 0;
        for (Item& item : s.queue) {
            batch += item.bytes;
            items += item.count;
        }
        s.queue.clear();
        s.queuedBytes = 0;
        s.inFlightItems = items;
        s.inFlightBytes = batch.size();
        s.writing = true;
        lock.unlock();
        const std::optional<std::string> failure = s.write(batch);
        lock.lock();
        s.writing = false;
        if (s.abandoned) {
            break;  // Close has counted this batch as lost
        }
        s.inFlightItems = 0;
        s.inFlightBytes = 0;
        if (failure) {
            s.writeFailed = true;
            s.LoseLocked(items, batch.size(), *failure);
        } else {
            s.tally.itemsWritten += items;
            s.tally.bytesWritten += batch.size();
        }
        s.changed.notify_all();
    }
    s.finished = true;
    s.changed.notify_all();
}

QueuedOutput::QueuedOutput(BatchWrite write, QueueBound bound)
    : shared_(std::make_shared<Shared>()) {
    shared_->write = std::move(write);
    shared_->bound = bound;
    shared_->thread = std::thread([shared = shared_] { shared->Run(); });
}

QueuedOutput::~QueuedOutput() {
    Close(kDestructorBound);
}

bool QueuedOutput::Push(std::string bytes, std::uint64_t items) {
    auto& s = *shared_;
    std::lock_guard lock(s.mutex);
    if (s.closing) {
        s.LoseLocked(items, bytes.size(), "the output was closed");
        return false;
    }
    const bool roomForItem = s.queue.size() < s.bound.items;
    const bool roomForBytes = s.queue.empty() || s.queuedBytes + bytes.size() <= s.bound.bytes;
    if (!roomForItem || !roomForBytes) {
        s.LoseLocked(items, bytes.size(),
                     "its writer fell behind by more than " + std::to_string(s.bound.items) +
                         " lines or " + std::to_string(s.bound.bytes) + " bytes");
        return false;
    }
    s.queuedBytes += bytes.size();
    s.queue.push_back({std::move(bytes), items});
    s.changed.notify_all();
    return true;
}

bool QueuedOutput::Drain(std::chrono::milliseconds bound) {
    auto& s = *shared_;
    std::unique_lock lock(s.mutex);
    return s.changed.wait_for(lock, bound,
                              [&s] { return s.finished || (s.queue.empty() && !s.writing); });
}

OutputTally QueuedOutput::Close(std::chrono::milliseconds bound) {
    auto& s = *shared_;
    std::unique_lock lock(s.mutex);
    if (!s.thread.joinable()) {
        return s.tally;
    }
    s.closing = true;
    s.changed.notify_all();
    if (!s.changed.wait_for(lock, bound, [&s] { return s.finished; })) {
        s.abandoned = true;
        std::uint64_t items = s.inFlightItems;
        std::uint64_t bytes = s.inFlightBytes;
        for (const Item& item : s.queue) {
            items += item.count;
            bytes += item.bytes.size();
        }
        s.queue.clear();
        s.queuedBytes = 0;
        s.LoseLocked(items, bytes,
                     "writing it did not end within " + std::to_string(bound.count()) + " ms");
        s.changed.notify_all();
        // The thread holds its own reference to all it touches and ends when the write returns.
        s.thread.detach();
        return s.tally;
    }
    std::thread thread = std::move(s.thread);
    const OutputTally tally = s.tally;
    lock.unlock();
    thread.join();
    return tally;
}

bool QueuedOutput::WriteFailed() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->writeFailed;
}

OutputTally QueuedOutput::Tally() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->tally;
}

}  // namespace trevane
