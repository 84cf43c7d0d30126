#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/TraceFormat.h"
#include "sim/Responder.h"

// A recorded trace served as the controller: each session's requests get the replies recorded
// for the same text in the recorded order, data records by the time since the first poll.
//
// The trace is read one line at a time and only what it answers with is kept, packed: about the
// reply bytes and 40 bytes an exchange. A trace that would need more than kMaxHeldBytes is
// refused while it is read, so the memory a replay takes stays within that bound whatever the
// file holds.
namespace trevane::sim {

struct ReplayCounts {
    std::uint64_t matched = 0;   // got the recorded reply next in line
    std::uint64_t repeated = 0;  // past its recorded replies: the last one again
    std::uint64_t unknown = 0;   // never seen in the trace: "?"
};

class Replay final : public Responder {
  public:
    // `speed` scales the time between data records (2: twice as fast); 0.01 to 100. Throws
    // std::invalid_argument for a speed outside that range.
    Replay(const std::vector<TraceExchange>& trace, std::shared_ptr<Clock> clock,
           double speed = 1.0);
    // Reads the trace from `trace` as it goes. Throws TraceError for a damaged trace (as
    // ReadTrace does) and for one that needs more than `maxHeldBytes` ("line N: the trace is too
    // large to replay: ..."); then nothing more of it is read.
    Replay(std::istream& trace, std::shared_ptr<Clock> clock, double speed = 1.0,
           std::size_t maxHeldBytes = kMaxHeldBytes);
    Replay(const Replay&) = delete;
    Replay& operator=(const Replay&) = delete;

    int OpenSession() override;
    void CloseSession(int session) override;
    Reply Exchange(int session, std::string_view line, bool tooLong = false) override;
    void RecordOnly(int, std::string_view) override {}
    LinkFaults Link() const override { return {}; }
    const std::shared_ptr<Clock>& GetClock() const override { return clock_; }

    ReplayCounts Counts() const;
    // The distinct unknown requests, escaped, in the order first seen (at most 20).
    std::vector<std::string> UnknownRequests() const;
    // "N requests: M matched, R repeated, U unknown".
    std::string Summary() const;

    // The exchanges read from the trace, and the bytes kept of them as counted against the bound.
    std::size_t Exchanges() const { return exchanges_; }
    std::size_t HeldBytes() const { return heldBytes_; }

    static constexpr double kMinSpeed = 0.01;
    static constexpr double kMaxSpeed = 100.0;
    // 256 MiB: a day of a test every few minutes, or some hours of --trace at full speed.
    static constexpr std::size_t kMaxHeldBytes = std::size_t{256} << 20;

  private:
    // Views into pieces_: the trace's bytes are copied once into large blocks.
    struct Answer {
        std::string_view data;
        std::string_view reason;  // what "TC1" tells after a rejection
        char acceptedByte = ':';
        bool accepted = true;
        bool silent = false;
        bool closes = false;
    };
    struct Queue {
        std::vector<Answer> answers;
        std::size_t next = 0;
    };
    struct Record {
        std::int64_t timeMs = 0;  // on the trace's calendar until read, then since its first record
        std::string_view bytes;
    };
    // Which recorded session a connection plays; unknown until its first request says.
    enum class Role { Unknown, Command, Record };
    struct Connection {
        Role role = Role::Unknown;
        std::optional<std::string> reasonForTc1;
    };
    using Key = std::pair<bool, std::string>;  // record session?, request line

    void Add(const TraceExchange& exchange);
    void AddAnswer(const Key& key, Answer answer, long lineNumber);
    void AddRecord(const Key& key, const TraceExchange& exchange);
    template <typename Item>
    void Append(std::vector<Item>& items, Item item, long lineNumber);
    void FinishReading();
    std::string_view Keep(std::string_view bytes, std::string_view same, long lineNumber);
    void Count(std::size_t bytes, long lineNumber);
    Role RoleFor(std::string_view line) const;
    Reply Lookup(Connection& connection, std::string_view line);
    Reply ServeRecord(const std::vector<Record>& records);

    const std::shared_ptr<Clock> clock_;
    const double speed_;
    const std::size_t maxHeldBytes_;
    std::size_t heldBytes_ = 0;
    std::size_t exchanges_ = 0;
    std::int64_t firstRecordMs_ = 0;
    bool haveRecords_ = false;
    std::vector<std::unique_ptr<char[]>> pieces_;
    char* blockFree_ = nullptr;  // where the free room of the block being filled starts
    std::size_t blockRoom_ = 0;
    std::map<Key, Queue> queues_;
    std::map<std::string, std::vector<Record>> records_;  // by request line, in time order
    std::map<Key, bool> recordLines_;  // the lines and sessions that polled data records

    mutable std::mutex mutex_;  // guards everything below
    std::map<int, Connection> connections_;
    int nextSession_ = 1;
    std::optional<Clock::TimePoint> firstPoll_;
    ReplayCounts counts_;
    std::vector<std::string> unknown_;
};

}  // namespace trevane::sim
