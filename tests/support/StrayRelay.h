#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace trevane::testing {

// What the relay adds to the stream around the reply to one request.
struct Stray {
    std::string before;   // ahead of the reply, in the same write
    std::string after;    // right behind the reply, in the same write
    std::string between;  // once the client is idle again: no request waits for a reply
    std::optional<std::string> instead;  // in place of the reply, which is dropped
};

// Decides the strays for one request line (without its CR) and the reply it got.
using StrayPlan = std::function<Stray(const std::string& request, const std::string& reply)>;

// A man in the middle on 127.0.0.1: passes every byte between a client and the controller at
// 127.0.0.1:`upstreamPort`, one request and its reply at a time, and adds stray replies where
// the plan says, as a flaky serial bridge or a confused terminal server would.
class StrayRelay {
  public:
    StrayRelay(std::uint16_t upstreamPort, StrayPlan plan);
    ~StrayRelay();
    StrayRelay(const StrayRelay&) = delete;
    StrayRelay& operator=(const StrayRelay&) = delete;

    std::uint16_t Port() const;
    // Strays written so far (each non-empty before, after and between counts one).
    int Injected() const;
    // Waits, at most `bound`, until `count` strays have been written.
    bool WaitForInjected(int count, std::chrono::milliseconds bound) const;

    struct Impl;

  private:
    std::shared_ptr<Impl> impl_;
};

// A copy of the reply right behind it, for requests that start with `prefix`.
StrayPlan CopyAfter(std::string prefix);
// `bytes` ahead of the reply to requests that are exactly `request`, the first `times` times.
StrayPlan InjectBefore(std::string request, std::string bytes, int times = 1);
// `bytes` in place of the reply to `request`, the first time only.
StrayPlan ReplaceReply(std::string request, std::string bytes);
// `bytes` once the client is idle after the reply to `request`, the first time only.
StrayPlan InjectBetweenAfter(std::string request, std::string bytes);

}  // namespace trevane::testing
