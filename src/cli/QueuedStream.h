#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <streambuf>
#include <string>
#include <string_view>

#include "common/QueuedOutput.h"

namespace trevane::cli {

// Hands whole lines to a queued output, so a line is kept or lost whole. It has no put area:
// every character goes through the lock, as the streams are written from several threads at
// once. `seeLines`, when given, is told of the same bytes as they are queued.
class QueuedStreamBuf final : public std::streambuf {
  public:
    explicit QueuedStreamBuf(std::shared_ptr<QueuedOutput> output,
                             std::function<void(std::string_view)> seeLines = {})
        : output_(std::move(output)), seeLines_(std::move(seeLines)) {}

  protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) {
            return traits_type::not_eof(c);
        }
        const char ch = traits_type::to_char_type(c);
        return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
    }

    std::streamsize xsputn(const char* text, std::streamsize count) override {
        std::lock_guard lock(mutex_);
        if (output_->WriteFailed()) {
            return 0;  // the stream fails, as it did on the broken pipe itself
        }
        pending_.append(text, static_cast<std::size_t>(count));
        if (const std::size_t end = pending_.rfind('\n'); end != std::string::npos) {
            PushLocked(end + 1);
        }
        return count;
    }

    int sync() override {
        std::lock_guard lock(mutex_);
        PushLocked(pending_.size());
        return output_->WriteFailed() ? -1 : 0;
    }

  private:
    void PushLocked(std::size_t size) {
        if (size == 0) {
            return;
        }
        std::string bytes = pending_.substr(0, size);
        pending_.erase(0, size);
        if (seeLines_) {
            seeLines_(bytes);
        }
        const std::size_t length = bytes.size();
        output_->Push(std::move(bytes), length);  // counted in bytes
    }

    std::shared_ptr<QueuedOutput> output_;
    std::function<void(std::string_view)> seeLines_;
    std::mutex mutex_;
    std::string pending_;
};

}  // namespace trevane::cli
