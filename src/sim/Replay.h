#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/TraceFormat.h"
#include "sim/Responder.h"

// A recorded trace served as the controller: each session's requests get the replies recorded
// for the same text in the recorded order, data records by the time since the first poll.
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

    static constexpr double kMinSpeed = 0.01;
    static constexpr double kMaxSpeed = 100.0;

  private:
    struct Answer {
        Reply reply;
        std::string reason;  // what "TC1" tells after a rejection
    };
    struct Queue {
        std::vector<Answer> answers;
        std::size_t next = 0;
    };
    struct Record {
        std::int64_t offsetMs = 0;  // since the trace's first data record
        std::string bytes;
    };
    // Which recorded session a connection plays; unknown until its first request says.
    enum class Role { Unknown, Command, Record };
    struct Connection {
        Role role = Role::Unknown;
        std::optional<std::string> reasonForTc1;
    };
    using Key = std::pair<bool, std::string>;  // record session?, request line

    void Add(const TraceExchange& exchange);
    Role RoleFor(std::string_view line) const;
    Reply Lookup(Connection& connection, std::string_view line);
    Reply ServeRecord(const std::vector<Record>& records);

    const std::shared_ptr<Clock> clock_;
    const double speed_;
    std::int64_t firstRecordMs_ = 0;
    bool haveRecords_ = false;
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
