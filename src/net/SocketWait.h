#pragma once

#include <chrono>

#include <asio/ip/tcp.hpp>

namespace trevane::net {

enum class Readiness { Ready, TimedOut };

// Waits until `socket` can be read (or written) without blocking, for at most `timeout`.
// An error or hang-up on the socket counts as ready: the read or write that follows reports it.
// One poll call instead of a round through an io_context keeps an exchange close to the cost
// of the bare request and reply.
Readiness WaitReadable(asio::ip::tcp::socket& socket, std::chrono::milliseconds timeout);
Readiness WaitWritable(asio::ip::tcp::socket& socket, std::chrono::milliseconds timeout);

}  // namespace trevane::net
