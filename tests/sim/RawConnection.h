#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/write.hpp>

namespace trevane::sim::testing {

// A bare loopback connection for sending what no well-behaved client would, with every wait
// bounded.
class RawConnection {
  public:
    explicit RawConnection(std::uint16_t port) {
        socket_.connect({asio::ip::make_address_v4("127.0.0.1"), port});
        socket_.set_option(asio::ip::tcp::no_delay(true));
    }

    asio::ip::tcp::socket& Socket() { return socket_; }

    // False when the bytes could not all be sent within `timeout` or the connection failed.
    bool Write(std::string_view bytes,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) {
        bool done = false;
        asio::error_code result;
        asio::async_write(socket_, asio::buffer(bytes.data(), bytes.size()),
                          [&](const asio::error_code& ec, std::size_t) {
                              result = ec;
                              done = true;
                          });
        return RunUntil(done, timeout) && !result;
    }

    // Reads until `complete(received)` holds, the peer closes, or `timeout` passes.
    std::string ReadUntil(const std::function<bool(const std::string&)>& complete,
                          std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!complete(received_) && !closed_) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) {
                break;
            }
            char buffer[4096];
            bool done = false;
            asio::error_code result;
            std::size_t count = 0;
            socket_.async_read_some(asio::buffer(buffer),
                                    [&](const asio::error_code& ec, std::size_t n) {
                                        result = ec;
                                        count = n;
                                        done = true;
                                    });
            if (!RunUntil(done,
                          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now))) {
                break;
            }
            received_.append(buffer, count);
            closed_ = static_cast<bool>(result);
        }
        std::string out;
        out.swap(received_);
        return out;
    }

    // One reply of data lines: up to an acknowledgement at the start or after a line feed.
    std::string ReadReply(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) {
        return ReadUntil(
            [](const std::string& text) {
                for (std::size_t i = 0; i < text.size(); ++i) {
                    if ((text[i] == ':' || text[i] == '?') && (i == 0 || text[i - 1] == '\n')) {
                        return true;
                    }
                }
                return false;
            },
            timeout);
    }

    // Whether the peer closed the connection within `timeout`.
    bool ClosedByPeer(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) {
        ReadUntil([](const std::string&) { return false; }, timeout);
        return closed_;
    }

    void Close() {
        asio::error_code ignored;
        socket_.close(ignored);
    }

  private:
    bool RunUntil(const bool& done, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) {
                // Cancel and let the handler run, so it never outlives the caller's locals.
                asio::error_code ignored;
                socket_.cancel(ignored);
                io_.restart();
                io_.run();
                return false;
            }
            io_.restart();
            io_.run_one_for(deadline - now);
        }
        return true;
    }

    asio::io_context io_;
    asio::ip::tcp::socket socket_{io_};
    std::string received_;
    bool closed_ = false;
};

}  // namespace trevane::sim::testing
