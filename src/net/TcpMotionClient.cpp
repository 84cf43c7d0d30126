#include "net/TcpMotionClient.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <optional>
#include <string_view>

#include <asio/io_context.hpp>
#include <asio/ip/address_v4.hpp>
#include <asio/ip/tcp.hpp>

#include "net/SocketWait.h"
#include "protocol/Protocol.h"

namespace trevane {

using Deadline = std::chrono::steady_clock::time_point;

struct TcpMotionClient::Impl {
    Impl(const std::string& addressText, std::uint16_t portNumber, TcpTimeouts limits);

    void Connect(const asio::ip::address_v4& address);
    // One request and its reply. The caller holds `mutex`.
    // `request` names the exchange in error texts (the command without its terminator).
    protocol::ReplyParser Exchange(std::string_view bytes, std::string_view request,
                                   protocol::ReplyParser parser, std::chrono::milliseconds timeout);
    MotionError Rejection(std::string_view request);

    enum class Spent { Broken, TimedOut, OutOfStep, OutOfStepUnsent, Closed, ClosedUnsent };
    void ThrowIfSpent(std::string_view request) const;
    [[noreturn]] void Spend(const std::string& reason, Spent how = Spent::Broken);
    static MotionError ErrorOf(Spent how, const std::string& text);
    // Fails the exchange of `request`, unsent, when bytes wait that no request asked for or
    // the controller has closed the session meanwhile.
    void ThrowIfStaleBytes(std::string_view request);
    void WriteAll(std::string_view bytes, Deadline deadline, std::string_view request);
    std::size_t ReadSome(Deadline deadline, std::string_view request,
                         std::chrono::milliseconds replyTimeout);
    // Runs the private io_context (the connect) until `done` or the deadline; false on the
    // deadline.
    bool RunUntil(const bool& done, Deadline deadline);

    std::string Endpoint() const { return address + ":" + std::to_string(port); }

    const std::string address;
    const std::uint16_t port;
    const TcpTimeouts timeouts;

    std::mutex mutex;  // one exchange at a time; guards everything below
    asio::io_context io;
    asio::ip::tcp::socket socket{io};
    std::optional<std::string> spentReason;
    Spent spentHow = Spent::Broken;
    std::array<char, 64 * 1024> buffer{};
};

namespace {

asio::ip::address_v4 CheckedAddress(const std::string& address) {
    const auto bytes = protocol::ParseDottedIpv4(address);
    if (!bytes) {
        throw MotionError("'" + protocol::Printable(address) +
                          "' is not a dotted IPv4 address (four numbers 0..255)");
    }
    return asio::ip::address_v4(*bytes);
}

Deadline DeadlineAfter(std::chrono::milliseconds timeout) {
    return std::chrono::steady_clock::now() + timeout;
}

// A few bytes of what came, for the reason: enough to recognise a reply in the traffic.
std::string Sample(std::string_view bytes) {
    return "'" + protocol::Printable(bytes, 24) + "'";
}

// The peer ended the connection, as opposed to a failure on the way (no route, ...).
bool ClosedByPeer(const asio::error_code& ec) {
    return ec == asio::error::eof || ec == asio::error::connection_reset ||
           ec == asio::error::broken_pipe || ec == asio::error::connection_aborted;
}

std::chrono::milliseconds TimeLeft(Deadline deadline) {
    const auto left = deadline - std::chrono::steady_clock::now();
    return std::max(std::chrono::ceil<std::chrono::milliseconds>(left),
                    std::chrono::milliseconds(0));
}

}  // namespace

TcpMotionClient::Impl::Impl(const std::string& addressText, std::uint16_t portNumber,
                            TcpTimeouts limits)
    : address(addressText), port(portNumber), timeouts(limits) {}

bool TcpMotionClient::Impl::RunUntil(const bool& done, Deadline deadline) {
    while (!done) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return false;
        }
        io.restart();
        io.run_one_for(deadline - now);
    }
    return true;
}

MotionError TcpMotionClient::Impl::ErrorOf(Spent how, const std::string& text) {
    switch (how) {
        case Spent::TimedOut:
            return MotionError::Timeout(text);
        case Spent::OutOfStep:
            return MotionError::OutOfStep(text);
        case Spent::OutOfStepUnsent:
            return MotionError::OutOfStep(text, false);
        case Spent::Closed:
            return MotionError::ClosedByController(text, true);
        case Spent::ClosedUnsent:
            return MotionError::ClosedByController(text, false);
        case Spent::Broken:
            break;
    }
    return MotionError(text);
}

void TcpMotionClient::Impl::Spend(const std::string& reason, Spent how) {
    spentReason = reason;
    spentHow = how;
    asio::error_code ignored;
    socket.close(ignored);
    // Let a cancelled connect's handler run now, so nothing refers to that call's locals.
    io.restart();
    io.run();
    throw ErrorOf(how, reason);
}

void TcpMotionClient::Impl::ThrowIfSpent(std::string_view request) const {
    if (spentReason) {
        const std::string text = "cannot send '" + protocol::Printable(request) + "': the session to " +
                                 Endpoint() + " is spent (" + *spentReason + ")";
        // Refused here, so it was not sent either.
        const Spent refused = spentHow == Spent::OutOfStep ? Spent::OutOfStepUnsent
                              : spentHow == Spent::Closed  ? Spent::ClosedUnsent
                                                           : spentHow;
        throw ErrorOf(refused, text);
    }
}

void TcpMotionClient::Impl::Connect(const asio::ip::address_v4& ip) {
    if (port == 0) {
        throw MotionError("cannot connect to " + Endpoint() + ": port 0 is not a port");
    }
    bool done = false;
    asio::error_code result;
    socket.async_connect(asio::ip::tcp::endpoint(ip, port), [&](const asio::error_code& ec) {
        result = ec;
        done = true;
    });
    if (!RunUntil(done, DeadlineAfter(timeouts.connect))) {
        Spend("connecting to " + Endpoint() + " timed out after " +
              std::to_string(timeouts.connect.count()) + " ms");
    }
    if (result) {
        throw MotionError("cannot connect to " + Endpoint() + ": " + result.message());
    }
    asio::error_code ignored;
    // One request is one write; waiting for more bytes to coalesce would only add latency.
    socket.set_option(asio::ip::tcp::no_delay(true), ignored);
    // Reads and writes never block: each waits for readiness with what is left of its time.
    asio::error_code ec;
    socket.non_blocking(true, ec);
    if (ec) {
        throw MotionError("cannot set up the connection to " + Endpoint() + ": " + ec.message());
    }
}

void TcpMotionClient::Impl::ThrowIfStaleBytes(std::string_view request) {
    asio::error_code ec;
    // The socket does not block: this finds only what is already waiting.
    const std::size_t stale = socket.read_some(asio::buffer(buffer), ec);
    if (ClosedByPeer(ec)) {
        // Most likely closed for being idle too long; the request can go on a fresh session.
        const std::string how = ec == asio::error::eof ? "" : " (" + ec.message() + ")";
        Spend("the controller at " + Endpoint() + " " + std::string(protocol::kClosedTheSession) +
                  how + "; '" + protocol::Printable(request) + "' was not sent",
              Spent::ClosedUnsent);
    }
    // Any other failure shows itself on the write or the reply's read, with its own message.
    if (ec || stale == 0) {
        return;
    }
    // Such bytes are most likely the real reply of the previous request, which then took
    // something else for its own: that reply, not only this one, cannot be trusted.
    Spend("out of step: " + Sample(std::string_view(buffer.data(), stale)) + " came from " +
              Endpoint() + " while no request waited; '" + protocol::Printable(request) +
              "' was not sent",
          Spent::OutOfStepUnsent);
}

void TcpMotionClient::Impl::WriteAll(std::string_view bytes, Deadline deadline,
                                     std::string_view request) {
    const std::size_t total = bytes.size();
    while (!bytes.empty()) {
        asio::error_code ec;
        const std::size_t sent = socket.write_some(asio::buffer(bytes.data(), bytes.size()), ec);
        bytes.remove_prefix(sent);
        if (ec == asio::error::would_block) {
            if (net::WaitWritable(socket, TimeLeft(deadline)) == net::Readiness::TimedOut) {
                Spend("sending '" + protocol::Printable(request) + "' to " + Endpoint() +
                      " timed out");
            }
        } else if (ec) {
            const bool partly = bytes.size() < total;
            Spend("sending '" + protocol::Printable(request) + "' to " + Endpoint() +
                      " failed: " + ec.message(),
                  !ClosedByPeer(ec) ? Spent::Broken
                  : partly          ? Spent::Closed
                                    : Spent::ClosedUnsent);
        }
    }
}

std::size_t TcpMotionClient::Impl::ReadSome(Deadline deadline, std::string_view request,
                                            std::chrono::milliseconds replyTimeout) {
    for (;;) {
        if (net::WaitReadable(socket, TimeLeft(deadline)) == net::Readiness::TimedOut) {
            Spend("no reply to '" + protocol::Printable(request) + "' from " + Endpoint() + " within " +
                      std::to_string(replyTimeout.count()) + " ms",
                  Spent::TimedOut);
        }
        asio::error_code ec;
        const std::size_t received = socket.read_some(asio::buffer(buffer), ec);
        if (!ec) {
            return received;
        }
        if (ec != asio::error::would_block) {
            const std::string what = ec == asio::error::eof
                                         ? std::string(protocol::kClosedTheConnection)
                                         : "failed: " + ec.message();
            // The request went out: it may have been carried out, so it must not go again.
            Spend("connection to " + Endpoint() + " " + what + " while waiting for the reply to '" +
                      protocol::Printable(request) + "'",
                  ClosedByPeer(ec) ? Spent::Closed : Spent::Broken);
        }
    }
}

protocol::ReplyParser TcpMotionClient::Impl::Exchange(std::string_view bytes,
                                                      std::string_view request,
                                                      protocol::ReplyParser parser,
                                                      std::chrono::milliseconds timeout) {
    ThrowIfSpent(request);
    ThrowIfStaleBytes(request);
    Deadline deadline = DeadlineAfter(timeout);
    WriteAll(bytes, deadline, request);
    while (!parser.Done()) {
        const std::size_t received = ReadSome(deadline, request, timeout);
        const std::size_t acksBefore = parser.AcknowledgementsSeen();
        std::size_t used = 0;
        try {
            used = parser.Feed(std::string_view(buffer.data(), received));
        } catch (const protocol::ReplyFormatError& error) {
            Spend("out of step: the reply to '" + protocol::Printable(request) + "' from " +
                      Endpoint() + " does not frame: " + error.what(),
                  Spent::OutOfStep);
        }
        if (used < received) {
            // A second reply to one request: which of the two was meant for it is unknown.
            Spend("out of step: " + Sample(std::string_view(buffer.data() + used, received - used)) +
                      " followed the reply to '" + protocol::Printable(request) + "' from " +
                      Endpoint(),
                  Spent::OutOfStep);
        }
        if (parser.AcknowledgementsSeen() != acksBefore) {
            // Each line of a multi-line request gets the full time for its own reply.
            deadline = DeadlineAfter(timeout);
        }
    }
    return parser;
}

MotionError TcpMotionClient::Impl::Rejection(std::string_view request) {
    std::string text =
        "controller at " + Endpoint() + " rejected '" + protocol::Printable(request) + "'";
    std::string controllerReason;
    try {
        // Asked directly, not through command(), so a rejected "TC1" cannot ask again.
        protocol::ReplyParser reason = Exchange(
            "TC1\r", "TC1", protocol::ReplyParser(protocol::ReplyKind::Text), timeouts.reply);
        if (!reason.Rejected()) {
            const std::string trimmed = protocol::TrimReply(reason.Data());
            if (!trimmed.empty()) {
                controllerReason = trimmed;
                text += ": " + trimmed;
            }
        }
    } catch (const MotionError&) {
        // The rejection is the error to report; a session spent meanwhile shows next time.
    }
    return MotionError::Rejection(text, controllerReason);
}

TcpMotionClient::TcpMotionClient(const std::string& address, std::uint16_t port,
                                 TcpTimeouts timeouts)
    : impl_(std::make_unique<Impl>(address, port, timeouts)) {
    const asio::ip::address_v4 ip = CheckedAddress(address);
    std::lock_guard lock(impl_->mutex);
    impl_->Connect(ip);
}

TcpMotionClient::~TcpMotionClient() {
    asio::error_code ignored;
    impl_->socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    impl_->socket.close(ignored);
}

std::string TcpMotionClient::command(const std::string& command, const std::string& terminator,
                                     const std::string& acknowledgement, bool trim) {
    const char accepted = acknowledgement.empty() ? protocol::kAccepted : acknowledgement.front();
    protocol::ReplyParser parser(protocol::ReplyKind::Text,
                                 protocol::AcknowledgementsFor(command, terminator), accepted,
                                 kMaxReplyBytes);
    std::lock_guard lock(impl_->mutex);
    parser =
        impl_->Exchange(command + terminator, command, std::move(parser), impl_->timeouts.reply);
    if (parser.Rejected()) {
        throw impl_->Rejection(command);
    }
    return trim ? protocol::TrimReply(parser.Data()) : parser.TakeData();
}

std::string TcpMotionClient::connection() {
    const std::string request = std::string(protocol::kIdentityRequest) + "\r";
    std::lock_guard lock(impl_->mutex);
    protocol::ReplyParser parser =
        impl_->Exchange(request, protocol::kIdentityRequest,
                        protocol::ReplyParser(protocol::ReplyKind::Text), impl_->timeouts.reply);
    if (parser.Rejected()) {
        throw impl_->Rejection(protocol::kIdentityRequest);
    }
    const std::string identity = protocol::TrimReply(parser.Data());
    return identity.empty() ? impl_->Endpoint() : impl_->Endpoint() + " " + identity;
}

std::string TcpMotionClient::programUpload() {
    std::lock_guard lock(impl_->mutex);
    protocol::ReplyParser parser = impl_->Exchange(
        "UL\r", "UL",
        protocol::ReplyParser(protocol::ReplyKind::Upload, 1, protocol::kAccepted, kMaxReplyBytes),
        impl_->timeouts.upload);
    if (parser.Rejected()) {
        throw impl_->Rejection("UL");
    }
    return protocol::ToUnixLineEnds(parser.Data());
}

std::vector<char> TcpMotionClient::record(const std::string& query) {
    std::lock_guard lock(impl_->mutex);
    protocol::ReplyParser parser =
        impl_->Exchange(query + "\r", query, protocol::ReplyParser(protocol::ReplyKind::Record),
                        impl_->timeouts.reply);
    if (parser.Rejected()) {
        throw impl_->Rejection(query);
    }
    const std::string& data = parser.Data();
    return std::vector<char>(data.begin(), data.end());
}

SessionFactory MakeTcpSessionFactory(std::uint16_t port, TcpTimeouts timeouts) {
    return [port, timeouts](const std::string& address) -> std::shared_ptr<MotionClient> {
        return std::make_shared<TcpMotionClient>(address, port, timeouts);
    };
}

}  // namespace trevane
