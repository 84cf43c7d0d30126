#pragma once

// A FIFO whose reader holds it open and stops reading, as a pager that stopped or a reader that
// was stopped: once the pipe is full every write into it blocks until the reader goes.
// POSIX only.
#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <string>
#include <thread>

namespace trevane::testing {

// Fills the pipe behind `fd` (a write end) until it takes no more byte; `fd` stays as it was.
inline bool FillPipe(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        return false;
    }
    const std::string block(4096, 'f');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    while (::write(fd, "f", 1) > 0) {
    }
    return ::fcntl(fd, F_SETFL, flags) == 0;
}

class StalledFifo {
  public:
    enum class Start {
        Full,          // full from the start, with `room` bytes left
        ReadsAtFirst,  // read until Stall()
    };

    // `room`: bytes a writer may still put in before it blocks, for a full start only.
    explicit StalledFifo(const std::filesystem::path& path, Start start = Start::Full,
                         std::size_t room = 0)
        : path_(path.string()) {
        if (::mkfifo(path_.c_str(), 0600) != 0) {
            return;
        }
        reader_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (reader_ < 0) {
            return;
        }
        if (start == Start::Full) {
            Fill(room);
            return;
        }
        reading_ = std::thread([this] {
            char buffer[4096];
            while (!stall_) {
                if (::read(reader_, buffer, sizeof buffer) <= 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            }
        });
        ready_ = true;
    }
    ~StalledFifo() {
        Stall();
        ReaderGoes();
    }
    StalledFifo(const StalledFifo&) = delete;
    StalledFifo& operator=(const StalledFifo&) = delete;

    bool Ready() const { return ready_; }
    const std::string& Path() const { return path_; }

    // The reader stops reading, and the pipe is filled to the brim.
    bool Stall() {
        if (!reading_.joinable()) {
            return ready_;
        }
        stall_ = true;
        reading_.join();
        const int filler = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        ready_ = filler >= 0 && FillPipe(filler);
        if (filler >= 0) {
            ::close(filler);
        }
        return ready_;
    }

    // From now on a write blocked in the pipe fails with EPIPE.
    void ReaderGoes() {
        if (reader_ >= 0) {
            ::close(reader_);
            reader_ = -1;
        }
    }

  private:
    // An empty pipe of whole pages, filled but for `room` bytes in its last page, which later
    // small writes join.
    void Fill(std::size_t room) {
        const int filler = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (filler < 0) {
            return;
        }
        const int capacity = ::fcntl(filler, F_GETPIPE_SZ);
        std::size_t left = capacity > 0 && static_cast<std::size_t>(capacity) > room
                               ? static_cast<std::size_t>(capacity) - room
                               : 0;
        const std::string block(4096, 'f');
        bool written = left > 0;
        while (left > 0 && written) {
            const std::size_t size = left < block.size() ? left : block.size();
            written = ::write(filler, block.data(), size) == static_cast<ssize_t>(size);
            left -= written ? size : 0;
        }
        ::close(filler);
        ready_ = left == 0;
    }

    std::string path_;
    int reader_ = -1;
    bool ready_ = false;
    std::atomic<bool> stall_{false};
    std::thread reading_;
};

}  // namespace trevane::testing

#endif
