#include "net/SocketWait.h"

#include <cerrno>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#endif

namespace trevane::net {
namespace {

Readiness WaitFor(asio::ip::tcp::socket& socket, short events, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const int waitMs = static_cast<int>(std::max<long long>(left.count(), 0));
#ifdef _WIN32
        WSAPOLLFD entry{socket.native_handle(), events, 0};
        const int result = ::WSAPoll(&entry, 1, waitMs);
        const bool interrupted = false;
#else
        pollfd entry{socket.native_handle(), events, 0};
        const int result = ::poll(&entry, 1, waitMs);
        const bool interrupted = result < 0 && errno == EINTR;
#endif
        if (result > 0 || (result < 0 && !interrupted)) {
            return Readiness::Ready;  // the next read or write names any error
        }
        if (waitMs == 0) {
            return Readiness::TimedOut;
        }
        // Timed out or interrupted by a signal: go round with what is left of the time.
    }
}

}  // namespace

Readiness WaitReadable(asio::ip::tcp::socket& socket, std::chrono::milliseconds timeout) {
    return WaitFor(socket, POLLIN, timeout);
}

Readiness WaitWritable(asio::ip::tcp::socket& socket, std::chrono::milliseconds timeout) {
    return WaitFor(socket, POLLOUT, timeout);
}

}  // namespace trevane::net
