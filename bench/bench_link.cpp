// One command exchange through SendCommand over loopback, next to a raw request/reply ping-pong
// of the same bytes against the same peer: each on its own in rounds, and both alternating
// exchange by exchange, whose ratio stands up best to other load on the machine. Then the same
// exchange with and without the traffic recorder, alternating.
#include <benchmark/benchmark.h>

#include "Smoke.h"

#include <algorithm>
#include <array>
#include <chrono>
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

#include "link/ControllerLink.h"
#include "net/TcpMotionClient.h"
#include "traffic/TrafficRecorder.h"
#include "traffic/TrafficTap.h"

namespace {

using asio::ip::tcp;

constexpr const char* kCommand = "MG _TPX";
constexpr std::string_view kReply = " 1234.0000\r\n:";
int Rounds() {
    return trevane::bench::SmokeOr(7, 1);
}

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
class RawClient {
  public:
    RawClient() : socket_(io_) {
        socket_.connect(tcp::endpoint(asio::ip::address_v4::loopback(), Peer().Port()));
        socket_.set_option(tcp::no_delay(true));
    }
    void Exchange() {
        asio::write(socket_, asio::buffer(request_));
        asio::read(socket_, asio::buffer(reply_.data(), kReply.size()));
        benchmark::DoNotOptimize(reply_);
    }

  private:
    asio::io_context io_;
    tcp::socket socket_;
    const std::string request_ = std::string(kCommand) + "\r";
    std::array<char, 256> reply_{};
};

// The command session as Connect would leave it (its traffic recorded), for the length of one
// benchmark.
class LinkSession {
  public:
    LinkSession() {
        link_.Attach(std::make_shared<trevane::TcpMotionClient>("127.0.0.1", Peer().Port()),
                     nullptr, "127.0.0.1");
    }
    ~LinkSession() { link_.Close(); }
    bool Exchange() {
        std::string reply = link_.SendCommand(kCommand);
        benchmark::DoNotOptimize(reply);
        return reply == "1234.0000";
    }

  private:
    trevane::ControllerLink link_;
};

void RawPingPong(benchmark::State& state) {
    RawClient raw;
    for (auto _ : state) {
        raw.Exchange();
    }
    state.SetItemsProcessed(state.iterations());
}

void SendCommandExchange(benchmark::State& state) {
    LinkSession link;
    for (auto _ : state) {
        if (!link.Exchange()) {
            state.SkipWithError("SendCommand did not return the peer's reply");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

// One raw exchange, then one through SendCommand, alternately: load from elsewhere on the
// machine changes from one moment to the next, and this way it falls on both sides alike.
void PairedExchanges(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    RawClient raw;
    LinkSession link;
    Clock::duration rawTime{};
    Clock::duration linkTime{};
    for (auto _ : state) {
        const auto start = Clock::now();
        raw.Exchange();
        const auto middle = Clock::now();
        link.Exchange();
        rawTime += middle - start;
        linkTime += Clock::now() - middle;
    }
    const double exchanges = static_cast<double>(state.iterations());
    const double rawRate = exchanges / std::chrono::duration<double>(rawTime).count();
    const double linkRate = exchanges / std::chrono::duration<double>(linkTime).count();
    state.counters["raw_per_s"] = rawRate;
    state.counters["link_per_s"] = linkRate;
    state.counters["ratio"] = linkRate / rawRate;
}

// The same exchange on two sessions, one of them seen by the traffic recorder, alternately.
void PairedTraffic(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    auto plain = std::make_shared<trevane::TcpMotionClient>("127.0.0.1", Peer().Port());
    trevane::TrafficRecorder recorder;
    const std::shared_ptr<trevane::MotionClient> recorded =
        trevane::TapSession(std::make_shared<trevane::TcpMotionClient>("127.0.0.1", Peer().Port()),
                            "command", recorder);
    Clock::duration plainTime{};
    Clock::duration recordedTime{};
    for (auto _ : state) {
        const auto start = Clock::now();
        benchmark::DoNotOptimize(plain->command(kCommand));
        const auto middle = Clock::now();
        benchmark::DoNotOptimize(recorded->command(kCommand));
        plainTime += middle - start;
        recordedTime += Clock::now() - middle;
    }
    const double exchanges = static_cast<double>(state.iterations());
    const double plainRate = exchanges / std::chrono::duration<double>(plainTime).count();
    const double recordedRate = exchanges / std::chrono::duration<double>(recordedTime).count();
    state.counters["raw_per_s"] = plainRate;
    state.counters["link_per_s"] = recordedRate;
    state.counters["ratio"] = recordedRate / plainRate;
}

// Prints the usual table, then each side's median rate and their ratio.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0) {
                continue;
            }
            const std::string name = run.run_name.function_name;
            if (name == "paired" || name == "paired_traffic") {
                rates_[name + "_raw"].push_back(run.counters.at("raw_per_s"));
                rates_[name + "_link"].push_back(run.counters.at("link_per_s"));
                rates_[name + "_ratio"].push_back(run.counters.at("ratio"));
            } else {
                rates_[name].push_back(static_cast<double>(run.iterations) /
                                       run.real_accumulated_time);
            }
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        const double raw = Median("raw_pingpong");
        const double link = Median("send_command");
        std::printf("\nexchanges per second, median of %d rounds:\n", Rounds());
        std::printf("  one after the other: raw %8.0f, SendCommand %8.0f, ratio %.3f\n", raw, link,
                    raw > 0 ? link / raw : 0.0);
        std::printf("  alternating:         raw %8.0f, SendCommand %8.0f, ratio %.3f\n",
                    Median("paired_raw"), Median("paired_link"), Median("paired_ratio"));
        std::printf("ratio SendCommand / raw (alternating): %.3f (goal >= 0.9)\n",
                    Median("paired_ratio"));
        std::printf(
            "with the traffic recorder: without %8.0f, with %8.0f, ratio %.3f (goal >= 0.98)\n",
            Median("paired_traffic_raw"), Median("paired_traffic_link"),
            Median("paired_traffic_ratio"));
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
    const double seconds = trevane::bench::SmokeRun() ? 0.01 : 0.5;
    for (int round = 0; round < Rounds(); ++round) {
        benchmark::RegisterBenchmark("raw_pingpong", RawPingPong)->MinTime(seconds)->UseRealTime();
        benchmark::RegisterBenchmark("send_command", SendCommandExchange)
            ->MinTime(seconds)
            ->UseRealTime();
        benchmark::RegisterBenchmark("paired", PairedExchanges)->MinTime(seconds)->UseRealTime();
        benchmark::RegisterBenchmark("paired_traffic", PairedTraffic)
            ->MinTime(seconds)
            ->UseRealTime();
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
