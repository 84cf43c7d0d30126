#include <atomic>
#include <deque>
#include <set>
#include <stdexcept>
#include <thread>

#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include "sim/MachineImpl.h"
#include "sim/RequestFramer.h"

// The simulated controller's socket side: one io_context thread serves every connection, each
// answering its requests in order on the shared machine.
namespace trevane::sim {
namespace {

using asio::ip::tcp;

// Requests framed but not yet answered; reading pauses beyond this (a delayed controller).
constexpr std::size_t kMaxQueuedRequests = 1024;
constexpr std::chrono::milliseconds kAcceptRetry{50};

class Connection;

// What connections share with the server, all used on the io thread only.
struct ServerState {
    std::shared_ptr<Responder> responder;
    Server::Options options;
    std::set<std::shared_ptr<Connection>> connections;
};

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    Connection(tcp::socket socket, ServerState& server)
        : socket_(std::move(socket)),
          timer_(socket_.get_executor()),
          idleTimer_(socket_.get_executor()),
          server_(server),
          machineOwner_(server.responder),
          machine_(*machineOwner_),
          session_(machine_.OpenSession()),
          framer_(kMaxRequestBytes) {}

    ~Connection() { machine_.CloseSession(session_); }

    void Start() {
        asio::error_code ignored;
        socket_.set_option(tcp::no_delay(true), ignored);
        lastActivity_ = std::chrono::steady_clock::now();
        WatchIdle(lastActivity_ + server_.options.idleTimeout);
        Read();
    }

    // Neither half-way through a request nor owing a reply: safe to close without cutting
    // anything off.
    bool Idle() const { return !AnswerUnderWay() && framer_.Buffered() == 0 && !peerDone_; }
    std::chrono::steady_clock::time_point LastActivity() const { return lastActivity_; }

    void Close() {
        if (closed_) {
            return;
        }
        closed_ = true;
        asio::error_code ignored;
        timer_.cancel();
        idleTimer_.cancel();
        socket_.shutdown(tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
        // The last reference may be this set's: erase from a copy so `this` outlives the call.
        auto self = shared_from_this();
        server_.connections.erase(self);
    }

  private:
    bool AnswerUnderWay() const {
        return !queue_.empty() || delaying_ || !writing_.empty() || !pending_.empty();
    }

    // One timer for the connection's life: it wakes at the earliest moment the connection could
    // have been idle long enough and looks again, so a request costs no timer operation.
    void WatchIdle(std::chrono::steady_clock::time_point when) {
        idleTimer_.expires_at(when);
        idleTimer_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
            if (ec || self->closed_) {
                return;
            }
            const auto now = std::chrono::steady_clock::now();
            const auto due = self->lastActivity_ + self->server_.options.idleTimeout;
            if (self->AnswerUnderWay()) {
                // The client is waiting on us, not idle; its time starts when we are done.
                self->WatchIdle(now + self->server_.options.idleTimeout);
            } else if (now < due) {
                self->WatchIdle(due);
            } else {
                self->Close();
            }
        });
    }

    void Read() {
        if (closed_ || reading_ || peerDone_ || queue_.size() >= kMaxQueuedRequests) {
            return;
        }
        reading_ = true;
        socket_.async_read_some(
            asio::buffer(readBuffer_),
            [self = shared_from_this()](const asio::error_code& ec, std::size_t count) {
                self->OnRead(ec, count);
            });
    }

    void OnRead(const asio::error_code& ec, std::size_t count) {
        reading_ = false;
        if (closed_) {
            return;
        }
        if (ec == asio::error::eof) {
            // The peer sent all it will; answer what it asked, then close.
            peerDone_ = true;
        } else if (ec) {
            Close();
            return;
        }
        std::vector<Request> requests;
        framer_.Feed(std::string_view(readBuffer_.data(), count), requests);
        for (Request& request : requests) {
            queuedBytes_ += request.line.size() + 1;
            queue_.push_back(std::move(request));
        }
        if (!requests.empty()) {
            lastActivity_ = std::chrono::steady_clock::now();
        }
        if (queuedBytes_ > Server::kMaxQueuedRequestBytes) {
            // Flooding a delayed controller: drop the client rather than hold what it sends.
            Close();
            return;
        }
        Answer();
        Read();
    }

    // Answers queued requests in order until one has to wait for its delay.
    void Answer() {
        while (!closed_ && !delaying_ && !closeAfterWrite_ && !queue_.empty()) {
            Request request = std::move(queue_.front());
            queue_.pop_front();
            queuedBytes_ -= request.line.size() + 1;
            ++requests_;
            const LinkFaults link = machine_.Link();
            if (link.cutAt > 0 && requests_ >= static_cast<unsigned long long>(link.cutAt)) {
                // The link breaks while the request is under way: nothing answers it.
                machine_.RecordOnly(session_, request.line);
                Close();
                return;
            }
            if (link.silent) {
                machine_.RecordOnly(session_, request.line);
                continue;
            }
            const Reply reply = machine_.Exchange(session_, request.line, request.tooLong);
            if (reply.closes) {
                // The replies before it still go out, as the controller's went before it closed.
                closeAfterWrite_ = true;
                break;
            }
            if (reply.silent) {
                continue;
            }
            std::string wire = reply.Wire();
            const bool last =
                link.dropAfter > 0 && requests_ >= static_cast<unsigned long long>(link.dropAfter);
            if (link.delayMs > 0) {
                delaying_ = true;
                timer_.expires_after(std::chrono::milliseconds(link.delayMs));
                timer_.async_wait([self = shared_from_this(), wire = std::move(wire),
                                   last](const asio::error_code& ec) mutable {
                    self->delaying_ = false;
                    if (ec || self->closed_) {
                        return;
                    }
                    self->Send(std::move(wire), last);
                    self->Answer();
                    self->Read();
                });
                return;
            }
            Send(std::move(wire), last);
        }
        FinishIfDone();
    }

    void Send(std::string wire, bool last) {
        pending_ += wire;
        closeAfterWrite_ = closeAfterWrite_ || last;
        if (pending_.size() + writing_.size() > Server::kMaxPendingOutputBytes) {
            // A client that never reads its replies: drop it rather than grow without bound.
            Close();
            return;
        }
        Write();
    }

    void Write() {
        if (closed_ || !writing_.empty() || pending_.empty()) {
            return;
        }
        writing_.swap(pending_);
        asio::async_write(socket_, asio::buffer(writing_),
                          [self = shared_from_this()](const asio::error_code& ec, std::size_t) {
                              self->writing_.clear();
                              if (ec) {
                                  self->Close();
                                  return;
                              }
                              self->lastActivity_ = std::chrono::steady_clock::now();
                              self->Write();
                              self->FinishIfDone();
                          });
    }

    void FinishIfDone() {
        if (closed_ || !writing_.empty() || !pending_.empty() || delaying_) {
            return;
        }
        if (closeAfterWrite_ || (peerDone_ && queue_.empty())) {
            Close();
        }
    }

    tcp::socket socket_;
    asio::steady_timer timer_;
    asio::steady_timer idleTimer_;
    ServerState& server_;
    const std::shared_ptr<Responder> machineOwner_;
    Responder& machine_;
    const int session_;
    RequestFramer framer_;
    std::array<char, 16 * 1024> readBuffer_{};
    std::deque<Request> queue_;
    std::size_t queuedBytes_ = 0;  // the lines in queue_, counted with their CRs
    // The last request received or reply sent.
    std::chrono::steady_clock::time_point lastActivity_;
    std::string pending_;  // replies not yet handed to the socket
    std::string writing_;  // the replies of the write under way
    unsigned long long requests_ = 0;
    bool reading_ = false;
    bool delaying_ = false;
    bool peerDone_ = false;
    bool closeAfterWrite_ = false;
    bool closed_ = false;
};

}  // namespace

struct Server::Impl {
    Impl(std::shared_ptr<Responder> responder, const std::string& bindAddress, std::uint16_t port,
         Server::Options options)
        : acceptor(io), retryTimer(io) {
        state.responder = std::move(responder);
        state.options = options;
        asio::error_code ec;
        const auto address = asio::ip::make_address(bindAddress, ec);
        if (ec) {
            throw std::runtime_error("cannot serve on '" + bindAddress + "': not an IP address");
        }
        const tcp::endpoint endpoint(address, port);
        const std::string where = bindAddress + ":" + std::to_string(port);
        const auto fail = [&](const char* step) {
            throw std::runtime_error("cannot serve on " + where + ": " + step +
                                     " failed: " + ec.message());
        };
        if (acceptor.open(endpoint.protocol(), ec); ec) {
            fail("open");
        }
        if (acceptor.set_option(tcp::acceptor::reuse_address(true), ec); ec) {
            fail("setting reuse_address");
        }
        if (acceptor.bind(endpoint, ec); ec) {
            fail("bind");
        }
        if (acceptor.listen(asio::socket_base::max_listen_connections, ec); ec) {
            fail("listen");
        }
        boundPort = acceptor.local_endpoint().port();
        boundAddress = address.to_string();
        Accept();
        thread = std::thread([this] { io.run(); });
    }

    void Accept() {
        acceptor.async_accept([this](const asio::error_code& ec, tcp::socket socket) {
            if (ec == asio::error::operation_aborted || !acceptor.is_open()) {
                return;
            }
            if (ec) {
                // Out of descriptors or similar: try again shortly instead of spinning.
                retryTimer.expires_after(kAcceptRetry);
                retryTimer.async_wait([this](const asio::error_code& waitError) {
                    if (!waitError) {
                        Accept();
                    }
                });
                return;
            }
            if (state.connections.size() >= state.options.maxConnections) {
                MakeRoom();
            }
            if (state.connections.size() < state.options.maxConnections) {
                auto connection = std::make_shared<Connection>(std::move(socket), state);
                state.connections.insert(connection);
                connection->Start();
            }
            Accept();
        });
    }

    // Closes the connection idle the longest; when every one is busy, closes none.
    void MakeRoom() {
        std::shared_ptr<Connection> oldest;
        for (const auto& connection : state.connections) {
            if (connection->Idle() &&
                (!oldest || connection->LastActivity() < oldest->LastActivity())) {
                oldest = connection;
            }
        }
        if (oldest) {
            oldest->Close();
        }
    }

    void Stop() {
        if (stopped.exchange(true)) {
            return;
        }
        asio::post(io, [this] {
            asio::error_code ignored;
            acceptor.close(ignored);
            retryTimer.cancel();
            for (const auto& connection : std::set(state.connections)) {
                connection->Close();
            }
            io.stop();
        });
        if (thread.joinable()) {
            thread.join();
        }
        // Let the cancelled operations' handlers finish, so that they release their
        // connections while everything those refer to still exists.
        io.restart();
        io.run_for(std::chrono::seconds(1));
        state.connections.clear();
    }

    // Declared first so that it goes last: handlers destroyed with the io_context may still
    // refer to it.
    ServerState state;
    asio::io_context io;
    tcp::acceptor acceptor;
    asio::steady_timer retryTimer;
    std::uint16_t boundPort = 0;
    std::string boundAddress;
    std::atomic<bool> stopped{false};
    std::thread thread;
};

Server::Server(std::shared_ptr<Machine> machine, const std::string& bindAddress, std::uint16_t port)
    : Server(std::move(machine), bindAddress, port, Options{}) {}

Server::Server(std::shared_ptr<Machine> machine, const std::string& bindAddress, std::uint16_t port,
               Options options)
    : Server(AsResponder(std::move(machine)), bindAddress, port, options) {}

Server::Server(std::shared_ptr<Responder> responder, const std::string& bindAddress,
               std::uint16_t port, Options options) {
    if (!responder) {
        throw std::runtime_error("cannot serve on '" + bindAddress + "': no machine");
    }
    if (options.idleTimeout <= std::chrono::milliseconds::zero()) {
        throw std::runtime_error("cannot serve on '" + bindAddress +
                                 "': the idle time must be positive");
    }
    if (options.maxConnections == 0) {
        throw std::runtime_error("cannot serve on '" + bindAddress +
                                 "': the connection limit must be at least 1");
    }
    impl_ = std::make_unique<Impl>(std::move(responder), bindAddress, port, options);
}

Server::~Server() {
    Stop();
}

std::uint16_t Server::Port() const {
    return impl_->boundPort;
}
std::string Server::Address() const {
    return impl_->boundAddress;
}
void Server::Stop() {
    impl_->Stop();
}

}  // namespace trevane::sim
