// One command exchange through SendCommand over loopback, next to a raw request/reply ping-pong
// of the same bytes against the same kind of peer. The two alternate in rounds, so load from
// elsewhere on the machine falls on both alike; the medians' ratio is what counts.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>

#include "controller/Link.h"
#include "net/TcpMotionClient.h"

namespace {

using asio::ip::tcp;

constexpr const char* kCommand = "MG _TPX";
constexpr std::string_view kReply = " 1234.0000\r\n:";
constexpr int kRounds = 7;

// Answers every CR-terminated request with kReply, on any number of connections.
class LoopbackPeer {
public:
    LoopbackPeer() : acceptor_(io_, tcp::endpoint(asio::ip::address_v4::loopback(), 0)) {
        port_ = acceptor_.local_endpoint().port();
        Accept();
        thread_ = std::thread([this] { io_.run(); });
    }
    ~LoopbackPeer() {
        io_.stop();
        thread_.join();
    }
    std::uint16_t Port() const { return port_; }

private:
    struct Connection : std::enable_shared_from_this<Connection> {
        explicit Connection(tcp::socket s) : socket(std::move(s)) {}
        void Read() {
            socket.async_read_some(asio::buffer(buffer),
                                   [self = shared_from_this()](asio::error_code ec, std::size_t n) {
                                       if (!ec) {
                                           self->Answer(n);
                                       }
                                   });
        }
        void Answer(std::size_t received) {
            std::size_t requests = 0;
            for (std::size_t i = 0; i < received; ++i) {
                requests += buffer[i] == '\r' ? 1 : 0;
            }
            replies.clear();
            for (std::size_t i = 0; i < requests; ++i) {
                replies += kReply;
            }
            if (replies.empty()) {
                Read();
                return;
            }
            asio::async_write(socket, asio::buffer(replies),
                              [self = shared_from_this()](asio::error_code ec, std::size_t) {
                                  if (!ec) {
                                      self->Read();
                                  }
                              });
        }
        tcp::socket socket;
        std::array<char, 4096> buffer{};
        std::string replies;
    };

    void Accept() {
        acceptor_.async_accept([this](asio::error_code ec, tcp::socket socket) {
            if (ec) {
                return;
            }
            socket.set_option(tcp::no_delay(true));
            std::make_shared<Connection>(std::move(socket))->Read();
            Accept();
        });
    }

    asio::io_context io_;
    tcp::acceptor acceptor_;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

LoopbackPeer& Peer() {
    static LoopbackPeer peer;
    return peer;
}

// The least a client can do: one blocking write, blocking reads until the whole reply is in.
void RawPingPong(benchmark::State& state) {
    asio::io_context io;
    tcp::socket socket(io);
    socket.connect(tcp::endpoint(asio::ip::address_v4::loopback(), Peer().Port()));
    socket.set_option(tcp::no_delay(true));
    const std::string request = std::string(kCommand) + "\r";
    std::array<char, 256> reply{};
    for (auto _ : state) {
        asio::write(socket, asio::buffer(request));
        asio::read(socket, asio::buffer(reply.data(), kReply.size()));
        benchmark::DoNotOptimize(reply);
    }
    state.SetItemsProcessed(state.iterations());
}

void SendCommandExchange(benchmark::State& state) {
    trevane::g_controller.Set(
        std::make_shared<trevane::TcpMotionClient>("127.0.0.1", Peer().Port()));
    for (auto _ : state) {
        std::string reply = trevane::SendCommand(kCommand);
        benchmark::DoNotOptimize(reply);
    }
    if (trevane::SendCommand(kCommand) != "1234.0000") {
        state.SkipWithError("the exchange did not return the peer's reply");
    }
    trevane::g_controller.Reset();
    state.SetItemsProcessed(state.iterations());
}

// Prints the usual table, then each side's median rate and their ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0) {
                const std::string name = run.run_name.function_name;
                rates_[name].push_back(static_cast<double>(run.iterations) /
                                       run.real_accumulated_time);
            }
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        const double raw = Median("raw_pingpong");
        const double link = Median("send_command");
        std::printf("\nexchanges per second (median of %d rounds):\n", kRounds);
        std::printf("  raw ping-pong:  %10.0f\n", raw);
        std::printf("  SendCommand:    %10.0f\n", link);
        if (raw > 0) {
            std::printf("  ratio SendCommand / raw: %.3f (goal >= 0.9)\n", link / raw);
        }
    }

private:
    double Median(const std::string& name) {
        std::vector<double>& rates = rates_[name];
        if (rates.empty()) {
            return 0;
        }
        std::sort(rates.begin(), rates.end());
        return rates[rates.size() / 2];
    }

    std::map<std::string, std::vector<double>> rates_;
};

}  // namespace

int main(int argc, char** argv) {
    for (int round = 0; round < kRounds; ++round) {
        benchmark::RegisterBenchmark("raw_pingpong", RawPingPong)->MinTime(0.5)->UseRealTime();
        benchmark::RegisterBenchmark("send_command", SendCommandExchange)
            ->MinTime(0.5)
            ->UseRealTime();
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
