#include "link/ScriptedPeer.h"

#include <chrono>
#include <deque>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>

namespace trevane::testing {

using asio::ip::tcp;

namespace {

struct Connection : std::enable_shared_from_this<Connection> {
    Connection(asio::io_context& io, ScriptedPeer::Impl& owner) : socket(io), peer(owner) {}

    void Read();
    void HandleRequests();
    void Write(PeerReply reply, std::function<void()> written = {});
    void WriteNext();
    void Close() {
        asio::error_code ignored;
        socket.shutdown(tcp::socket::shutdown_both, ignored);
        socket.close(ignored);
    }

    struct Pending {
        PeerReply reply;
        std::function<void()> written;
    };

    tcp::socket socket;
    ScriptedPeer::Impl& peer;
    std::array<char, 4096> buffer{};
    std::string unread;
    std::deque<Pending> writes;
    bool writing = false;
};

}  // namespace

struct ScriptedPeer::Impl {
    explicit Impl(PeerScript s) : script(std::move(s)) {}

    void Accept() {
        acceptor.async_accept([this](const asio::error_code& ec, tcp::socket socket) {
            if (ec) {
                return;
            }
            auto connection = std::make_shared<Connection>(io, *this);
            connection->socket = std::move(socket);
            asio::error_code ignored;
            connection->socket.set_option(tcp::no_delay(true), ignored);
            connections.push_back(connection);
            {
                std::lock_guard lock(mutex);
                ++accepted;
            }
            connection->Read();
            Accept();
        });
    }

    PeerScript script;
    asio::io_context io;
    tcp::acceptor acceptor{io};
    std::vector<std::shared_ptr<Connection>> connections;  // io thread only
    std::thread thread;
    std::uint16_t port = 0;

    mutable std::mutex mutex;
    std::vector<std::string> requests;
    int accepted = 0;
};

namespace {

void Connection::Read() {
    socket.async_read_some(asio::buffer(buffer),
                           [self = shared_from_this()](const asio::error_code& ec, std::size_t n) {
                               if (ec) {
                                   self->Close();
                                   return;
                               }
                               self->unread.append(self->buffer.data(), n);
                               self->HandleRequests();
                               if (self->socket.is_open()) {
                                   self->Read();
                               }
                           });
}

void Connection::HandleRequests() {
    for (auto cr = unread.find('\r'); cr != std::string::npos; cr = unread.find('\r')) {
        std::string request = unread.substr(0, cr);
        unread.erase(0, cr + 1);
        {
            std::lock_guard lock(peer.mutex);
            peer.requests.push_back(request);
        }
        if (std::optional<PeerReply> reply = peer.script(request)) {
            Write(std::move(*reply));
        }
    }
}

void Connection::Write(PeerReply reply, std::function<void()> written) {
    writes.push_back({std::move(reply), std::move(written)});
    if (!writing) {
        WriteNext();
    }
}

void Connection::WriteNext() {
    if (writes.empty() || !socket.is_open()) {
        writing = false;
        for (auto& pending : writes) {
            if (pending.written) {
                pending.written();
            }
        }
        writes.clear();
        return;
    }
    writing = true;
    asio::async_write(socket, asio::buffer(writes.front().reply.bytes),
                      [self = shared_from_this()](const asio::error_code& ec, std::size_t) {
                          Pending done = std::move(self->writes.front());
                          self->writes.pop_front();
                          if (ec || done.reply.closeAfter) {
                              self->Close();
                          }
                          if (done.written) {
                              done.written();
                          }
                          self->WriteNext();
                      });
}

}  // namespace

ScriptedPeer::ScriptedPeer(PeerScript script) : impl_(std::make_unique<Impl>(std::move(script))) {
    const tcp::endpoint loopback(asio::ip::address_v4::loopback(), 0);
    impl_->acceptor.open(loopback.protocol());
    impl_->acceptor.set_option(tcp::acceptor::reuse_address(true));
    impl_->acceptor.bind(loopback);
    impl_->acceptor.listen();
    impl_->port = impl_->acceptor.local_endpoint().port();
    impl_->Accept();
    impl_->thread = std::thread([this] { impl_->io.run(); });
}

ScriptedPeer::~ScriptedPeer() {
    impl_->io.stop();
    impl_->thread.join();
    for (auto& connection : impl_->connections) {
        connection->Close();
    }
    impl_->connections.clear();
    asio::error_code ignored;
    impl_->acceptor.close(ignored);
}

std::uint16_t ScriptedPeer::Port() const {
    return impl_->port;
}

std::vector<std::string> ScriptedPeer::Requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests;
}

int ScriptedPeer::ConnectionsAccepted() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->accepted;
}

void ScriptedPeer::PushToAll(const std::string& bytes) {
    auto written = std::make_shared<std::promise<void>>();
    std::future<void> done = written->get_future();
    asio::post(impl_->io, [this, bytes, written] {
        std::vector<std::shared_ptr<Connection>> open;
        for (auto& connection : impl_->connections) {
            if (connection->socket.is_open()) {
                open.push_back(connection);
            }
        }
        if (open.empty()) {
            written->set_value();
            return;
        }
        auto remaining = std::make_shared<std::size_t>(open.size());
        for (auto& connection : open) {
            connection->Write({bytes, false}, [remaining, written] {
                if (--*remaining == 0) {
                    written->set_value();
                }
            });
        }
    });
    if (done.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        throw std::runtime_error("the scripted peer did not write its pushed bytes in 5 s");
    }
}

PeerScript ControllerScript(PeerScript otherwise) {
    return [otherwise](const std::string& request) -> std::optional<PeerReply> {
        if (request == "\x12\x16") {
            return PeerReply{std::string(kPeerIdentity) + "\r\n:"};
        }
        if (request == "TC1") {
            return PeerReply{"1 Unrecognized command\r\n:"};
        }
        if (otherwise) {
            return otherwise(request);
        }
        return PeerReply{":"};
    };
}

std::uint16_t UnusedLoopbackPort() {
    asio::io_context io;
    tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
    const std::uint16_t port = acceptor.local_endpoint().port();
    acceptor.close();
    return port;
}

}  // namespace trevane::testing
