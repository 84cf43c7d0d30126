#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

// What bounds every session, whichever client carries it: the in-process simulated controller
// keeps the same limits as the TCP client, so a test sees the failures the wire would give.
namespace trevane {

struct TcpTimeouts {
    std::chrono::milliseconds connect{2000};
    std::chrono::milliseconds reply{1000};
    std::chrono::milliseconds upload{10000};
};

inline constexpr std::uint16_t kDefaultControllerPort = 23;
inline constexpr std::size_t kMaxReplyBytes = 1024 * 1024;

}  // namespace trevane
