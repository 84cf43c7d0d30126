#include "sim/Replay.h"

#include <algorithm>
#include <stdexcept>

#include "sim/MachineImpl.h"

namespace trevane::sim {
namespace {

constexpr std::size_t kUnknownKept = 20;

// The request's lines without their CRs; bytes after the last CR (another terminator) are not
// a line the server would see.
std::vector<std::string> RequestLines(const std::string& request) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t cr = request.find('\r'); cr != std::string::npos;
         cr = request.find('\r', from)) {
        lines.push_back(request.substr(from, cr - from));
        from = cr + 1;
    }
    return lines;
}

// A text reply as the caller got it (trimmed or not) made into a wire reply that the caller
// reads back the same: the acknowledgement counts only at the start or after a line feed.
std::string TextWire(std::string data) {
    if (!data.empty() && data.back() != '\n') {
        data += "\r\n";
    }
    return data;
}

// The caller's description is "ADDRESS:PORT IDENTITY"; the controller sent only the identity.
std::string IdentityOf(const std::string& description) {
    const std::size_t blank = description.find(' ');
    const std::string endpoint = description.substr(0, blank);
    const std::size_t colon = endpoint.rfind(':');
    const bool isEndpoint = colon != std::string::npos && colon > 0 &&
                            endpoint.find_first_not_of("0123456789.:") == std::string::npos;
    if (!isEndpoint) {
        return description;
    }
    return blank == std::string::npos ? std::string() : description.substr(blank + 1);
}

std::string UploadWire(const std::string& text) {
    std::string wire;
    wire.reserve(text.size() + text.size() / 16 + 1);
    for (const char c : text) {
        if (c == '\n') {
            wire += '\r';
        }
        wire += c;
    }
    return wire + '\x1A';
}

bool NeverSent(const TraceExchange& exchange) {
    // A spent session fails without sending anything.
    return exchange.acknowledgement.empty() &&
           exchange.reason.find(" is spent (") != std::string::npos;
}

}  // namespace

Replay::Replay(const std::vector<TraceExchange>& trace, std::shared_ptr<Clock> clock, double speed)
    : clock_(std::move(clock)), speed_(speed) {
    if (!(speed >= kMinSpeed && speed <= kMaxSpeed)) {
        throw std::invalid_argument("replay speed " + std::to_string(speed) +
                                    " is outside 0.01 to 100");
    }
    for (const TraceExchange& exchange : trace) {
        if (exchange.kind == TraceExchange::Kind::Record &&
            (!haveRecords_ || exchange.timeMs < firstRecordMs_)) {
            firstRecordMs_ = exchange.timeMs;
            haveRecords_ = true;
        }
    }
    for (const TraceExchange& exchange : trace) {
        Add(exchange);
    }
    for (auto& [key, records] : records_) {
        std::stable_sort(records.begin(), records.end(),
                         [](const Record& a, const Record& b) { return a.offsetMs < b.offsetMs; });
    }
}

void Replay::Add(const TraceExchange& exchange) {
    if (NeverSent(exchange)) {
        return;
    }
    const std::vector<std::string> lines = RequestLines(exchange.request);
    if (lines.empty()) {
        return;
    }
    const Key last{exchange.recordSession, lines.back()};
    Answer answer;
    answer.reply.acceptedByte =
        exchange.acknowledgement.empty() ? ':' : exchange.acknowledgement[0];
    if (exchange.acknowledgement.empty()) {
        answer.reply.silent = true;
    } else if (exchange.acknowledgement == "?") {
        answer.reply.accepted = false;
        answer.reason = exchange.reason;
    } else if (exchange.kind == TraceExchange::Kind::Record) {
        records_[last.second].push_back({exchange.timeMs - firstRecordMs_, exchange.bytes});
        recordLines_[last] = true;
        return;
    } else if (exchange.kind == TraceExchange::Kind::Upload) {
        answer.reply.data = UploadWire(exchange.bytes);
    } else if (exchange.kind == TraceExchange::Kind::Identity) {
        answer.reply.data = TextWire(IdentityOf(exchange.reply));
    } else {
        answer.reply.data = TextWire(exchange.reply);
    }
    // A request of several lines got one acknowledgement a line and the replies joined: the
    // earlier lines are acknowledged alone, the last carries the whole reply.
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        Answer plain;
        plain.reply.acceptedByte = answer.reply.acceptedByte;
        queues_[{exchange.recordSession, lines[i]}].answers.push_back(plain);
    }
    queues_[last].answers.push_back(std::move(answer));
}

int Replay::OpenSession() {
    std::lock_guard lock(mutex_);
    const int id = nextSession_++;
    connections_[id] = Connection{};
    return id;
}

void Replay::CloseSession(int session) {
    std::lock_guard lock(mutex_);
    connections_.erase(session);
}

Replay::Role Replay::RoleFor(std::string_view line) const {
    const std::string text(line);
    const auto seenOn = [&](bool recordSession) {
        return queues_.contains({recordSession, text}) ||
               recordLines_.contains({recordSession, text});
    };
    const bool command = seenOn(false);
    const bool record = seenOn(true);
    if (command != record) {
        return command ? Role::Command : Role::Record;
    }
    if (!command) {
        return Role::Unknown;
    }
    // Seen on both: the role no open connection plays yet, the command session first.
    const bool commandTaken =
        std::any_of(connections_.begin(), connections_.end(),
                    [](const auto& c) { return c.second.role == Role::Command; });
    return commandTaken ? Role::Record : Role::Command;
}

Reply Replay::Exchange(int session, std::string_view line, bool tooLong) {
    std::lock_guard lock(mutex_);
    Connection& connection = connections_[session];
    if (tooLong) {
        ++counts_.unknown;
        connection.reasonForTc1 =
            std::to_string(kRequestTooLong) + " " + ErrorText(kRequestTooLong);
        return Reply{{}, false};
    }
    if (connection.role == Role::Unknown) {
        connection.role = RoleFor(line);
    }
    return Lookup(connection, line);
}

Reply Replay::Lookup(Connection& connection, std::string_view line) {
    const std::optional<std::string> reason = std::move(connection.reasonForTc1);
    connection.reasonForTc1.reset();
    if (reason && line == "TC1") {
        ++counts_.matched;
        return Reply{TextWire(*reason), true};
    }
    Key key{connection.role == Role::Record, std::string(line)};
    if (!recordLines_.contains(key) && !queues_.contains(key)) {
        // Recorded on the other session only: still a request the trace saw.
        key.first = !key.first;
    }
    if (recordLines_.contains(key)) {
        return ServeRecord(records_.at(key.second));
    }
    const auto queue = queues_.find(key);
    if (queue == queues_.end()) {
        ++counts_.unknown;
        const std::string shown = EscapeBytes(line);
        if (unknown_.size() < kUnknownKept &&
            std::find(unknown_.begin(), unknown_.end(), shown) == unknown_.end()) {
            unknown_.push_back(shown);
        }
        connection.reasonForTc1 =
            std::to_string(kUnrecognizedCommand) + " " + ErrorText(kUnrecognizedCommand);
        return Reply{{}, false};
    }
    Queue& answers = queue->second;
    const bool fresh = answers.next < answers.answers.size();
    ++(fresh ? counts_.matched : counts_.repeated);
    const Answer& answer = answers.answers[fresh ? answers.next++ : answers.answers.size() - 1];
    if (!answer.reply.accepted) {
        connection.reasonForTc1 = answer.reason;
    }
    return answer.reply;
}

Reply Replay::ServeRecord(const std::vector<Record>& records) {
    const Clock::TimePoint now = clock_->Now();
    if (!firstPoll_) {
        firstPoll_ = now;
    }
    const double elapsedMs =
        std::chrono::duration<double, std::milli>(now - *firstPoll_).count() * speed_;
    const auto after = std::lower_bound(
        records.begin(), records.end(), elapsedMs,
        [](const Record& record, double ms) { return static_cast<double>(record.offsetMs) < ms; });
    auto nearest = after == records.end() ? std::prev(after) : after;
    if (after != records.begin() && after != records.end() &&
        elapsedMs - static_cast<double>(std::prev(after)->offsetMs) <
            static_cast<double>(after->offsetMs) - elapsedMs) {
        nearest = std::prev(after);
    }
    ++(after == records.end() ? counts_.repeated : counts_.matched);
    return Reply{nearest->bytes, true};
}

ReplayCounts Replay::Counts() const {
    std::lock_guard lock(mutex_);
    return counts_;
}

std::vector<std::string> Replay::UnknownRequests() const {
    std::lock_guard lock(mutex_);
    return unknown_;
}

std::string Replay::Summary() const {
    const ReplayCounts counts = Counts();
    return std::to_string(counts.matched + counts.repeated + counts.unknown) +
           " requests: " + std::to_string(counts.matched) + " matched, " +
           std::to_string(counts.repeated) + " repeated, " + std::to_string(counts.unknown) +
           " unknown";
}

}  // namespace trevane::sim
