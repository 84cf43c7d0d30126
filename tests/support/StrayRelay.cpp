#include "support/StrayRelay.h"

#include <array>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include "protocol/Protocol.h"

namespace trevane::testing {

using asio::ip::tcp;

namespace {

// Once the client has had this long to send its next request, it is taken to be idle.
constexpr auto kIdleAfter = std::chrono::milliseconds(20);

protocol::ReplyParser ParserFor(const std::string& request) {
    if (request.starts_with("QR")) {
        return protocol::ReplyParser(protocol::ReplyKind::Record);
    }
    if (request == "UL") {
        return protocol::ReplyParser(protocol::ReplyKind::Upload);
    }
    return protocol::ReplyParser(protocol::ReplyKind::Text);
}

}  // namespace

struct StrayRelay::Impl {
    Impl(std::uint16_t upstream, StrayPlan p) : upstreamPort(upstream), plan(std::move(p)) {}

    void Accept();
    void Count(const Stray& stray) {
        std::lock_guard lock(mutex);
        injected += (stray.before.empty() ? 0 : 1) + (stray.after.empty() ? 0 : 1);
        changed.notify_all();
    }
    void CountBetween() {
        std::lock_guard lock(mutex);
        ++injected;
        changed.notify_all();
    }

    const std::uint16_t upstreamPort;
    const StrayPlan plan;
    asio::io_context io;
    tcp::acceptor acceptor{io};
    std::thread thread;
    std::uint16_t port = 0;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    int injected = 0;
};

namespace {

// One client and its upstream session, driven from the relay's one thread. Writes are small and
// on loopback, so they are made synchronously; only reads wait.
struct Connection : std::enable_shared_from_this<Connection> {
    Connection(StrayRelay::Impl& owner, tcp::socket socket)
        : relay(owner), client(std::move(socket)), upstream(owner.io), idle(owner.io) {}

    void Start() {
        asio::error_code ec;
        upstream.connect(tcp::endpoint(asio::ip::address_v4::loopback(), relay.upstreamPort), ec);
        if (ec) {
            Close();
            return;
        }
        ReadClient();
    }

    void ReadClient() {
        client.async_read_some(asio::buffer(clientBuffer),
                               [self = shared_from_this()](asio::error_code ec, std::size_t n) {
                                   if (ec) {
                                       self->Close();
                                       return;
                                   }
                                   self->requests.append(self->clientBuffer.data(), n);
                                   self->Forward();
                                   self->ReadClient();
                               });
    }

    // Sends the next whole request upstream once the previous one has its reply.
    void Forward() {
        const std::size_t end = requests.find('\r');
        if (parser || end == std::string::npos) {
            return;
        }
        request = requests.substr(0, end);
        requests.erase(0, end + 1);
        parser = ParserFor(request);
        asio::error_code ec;
        asio::write(upstream, asio::buffer(request + "\r"), ec);
        if (ec) {
            Close();
            return;
        }
        reply.clear();
        TakeReply();
    }

    void TakeReply() {
        try {
            const std::size_t used = parser->Feed(upstreamUnread);
            reply += upstreamUnread.substr(0, used);
            upstreamUnread.erase(0, used);
        } catch (const protocol::ReplyFormatError&) {
            Close();
            return;
        }
        if (parser->Done()) {
            Answer();
            return;
        }
        upstream.async_read_some(asio::buffer(upstreamBuffer),
                                 [self = shared_from_this()](asio::error_code ec, std::size_t n) {
                                     if (ec) {
                                         self->Close();
                                         return;
                                     }
                                     self->upstreamUnread.append(self->upstreamBuffer.data(), n);
                                     self->TakeReply();
                                 });
    }

    void Answer() {
        const Stray stray = relay.plan ? relay.plan(request, reply) : Stray{};
        asio::error_code ec;
        asio::write(client, asio::buffer(stray.before + stray.instead.value_or(reply) + stray.after),
                    ec);
        relay.Count(stray);
        parser.reset();
        if (ec) {
            Close();
            return;
        }
        if (!stray.between.empty()) {
            idle.expires_after(kIdleAfter);
            idle.async_wait([self = shared_from_this(), bytes = stray.between](asio::error_code e) {
                if (e || self->parser || !self->requests.empty()) {
                    return;  // the client is not idle: the moment has passed
                }
                asio::error_code ignored;
                asio::write(self->client, asio::buffer(bytes), ignored);
                self->relay.CountBetween();
            });
        }
        Forward();
    }

    void Close() {
        asio::error_code ignored;
        client.close(ignored);
        upstream.close(ignored);
        idle.cancel();
    }

    StrayRelay::Impl& relay;
    tcp::socket client;
    tcp::socket upstream;
    asio::steady_timer idle;
    std::array<char, 4096> clientBuffer{};
    std::array<char, 4096> upstreamBuffer{};
    std::string requests;  // from the client, not yet forwarded
    std::string request;
    std::string reply;
    std::string upstreamUnread;
    std::optional<protocol::ReplyParser> parser;  // while a request waits for its reply
};

}  // namespace

void StrayRelay::Impl::Accept() {
    acceptor.async_accept([this](asio::error_code ec, tcp::socket socket) {
        if (ec) {
            return;
        }
        asio::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        std::make_shared<Connection>(*this, std::move(socket))->Start();
        Accept();
    });
}

StrayRelay::StrayRelay(std::uint16_t upstreamPort, StrayPlan plan)
    : impl_(std::make_shared<Impl>(upstreamPort, std::move(plan))) {
    const tcp::endpoint endpoint(asio::ip::address_v4::loopback(), 0);
    impl_->acceptor.open(endpoint.protocol());
    impl_->acceptor.bind(endpoint);
    impl_->acceptor.listen();
    impl_->port = impl_->acceptor.local_endpoint().port();
    impl_->Accept();
    impl_->thread = std::thread([impl = impl_] { impl->io.run(); });
}

StrayRelay::~StrayRelay() {
    impl_->io.stop();
    impl_->thread.join();
}

std::uint16_t StrayRelay::Port() const {
    return impl_->port;
}

int StrayRelay::Injected() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->injected;
}

bool StrayRelay::WaitForInjected(int count, std::chrono::milliseconds bound) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, bound, [&] { return impl_->injected >= count; });
}

StrayPlan CopyAfter(std::string prefix) {
    return [prefix = std::move(prefix)](const std::string& request, const std::string& reply) {
        Stray stray;
        if (request.starts_with(prefix)) {
            stray.after = reply;
        }
        return stray;
    };
}

StrayPlan InjectBefore(std::string request, std::string bytes, int times) {
    auto left = std::make_shared<int>(times);  // the relay's one thread is the only caller
    return [=](const std::string& line, const std::string&) {
        Stray stray;
        if (line == request && *left > 0) {
            --*left;
            stray.before = bytes;
        }
        return stray;
    };
}

namespace {

// The plan that shapes the stray of the first reply to `request` with `shape`.
StrayPlan Once(std::string request, std::function<void(Stray&)> shape) {
    auto done = std::make_shared<bool>(false);
    return [=](const std::string& line, const std::string&) {
        Stray stray;
        if (line == request && !*done) {
            *done = true;
            shape(stray);
        }
        return stray;
    };
}

}  // namespace

StrayPlan ReplaceReply(std::string request, std::string bytes) {
    return Once(std::move(request), [bytes](Stray& stray) { stray.instead = bytes; });
}

StrayPlan InjectBetweenAfter(std::string request, std::string bytes) {
    return Once(std::move(request), [bytes](Stray& stray) { stray.between = bytes; });
}

}  // namespace trevane::testing
