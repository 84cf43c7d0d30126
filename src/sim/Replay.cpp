#include "sim/Replay.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "protocol/Protocol.h"
#include "sim/MachineImpl.h"

namespace trevane::sim {
namespace {

constexpr std::size_t kUnknownKept = 20;

// The trace's bytes are kept in blocks, from 64 KiB doubling up to 1 MiB so that a short trace
// takes little; a piece larger than a quarter of the largest gets a block of its own, so little
// of a block is ever left unused.
constexpr std::size_t kFirstBlockBytes = std::size_t{64} << 10;
constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
constexpr std::size_t kOwnBlockBytes = kBlockBytes / 4;
// What a map node costs besides its value: the tree's links and the allocator's own.
constexpr std::size_t kNodeOverheadBytes = 48;

// Heap bytes a string of this many characters takes beyond its own object.
std::size_t HeapBytes(const std::string& text) {
    return text.size() < sizeof(std::string) / 2 ? 0 : text.size() + 1;
}

std::string SizeText(std::size_t bytes) {
    return bytes % (std::size_t{1} << 20) == 0 ? std::to_string(bytes >> 20) + " MiB"
                                                : std::to_string(bytes) + " bytes";
}

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

// The site's controller ended the session under the request: the site's client said so, and
// the replay does the same rather than leave the request unanswered, which would read as a
// controller too slow for the timeout.
bool ClosedByTheController(const TraceExchange& exchange) {
    return exchange.acknowledgement.empty() &&
           (exchange.reason.find(protocol::kClosedTheConnection) != std::string::npos ||
            exchange.reason.find(protocol::kClosedTheSession) != std::string::npos);
}

bool NeverSent(const TraceExchange& exchange) {
    // A spent session fails without sending anything.
    return exchange.acknowledgement.empty() &&
           exchange.reason.find(" is spent (") != std::string::npos;
}

}  // namespace

Replay::Replay(const std::vector<TraceExchange>& trace, std::shared_ptr<Clock> clock, double speed)
    : clock_(std::move(clock)), speed_(speed), maxHeldBytes_(kMaxHeldBytes) {
    if (!(speed >= kMinSpeed && speed <= kMaxSpeed)) {
        throw std::invalid_argument("replay speed " + std::to_string(speed) +
                                    " is outside 0.01 to 100");
    }
    for (const TraceExchange& exchange : trace) {
        Add(exchange);
    }
    FinishReading();
}

Replay::Replay(std::istream& trace, std::shared_ptr<Clock> clock, double speed,
               std::size_t maxHeldBytes)
    : clock_(std::move(clock)), speed_(speed), maxHeldBytes_(maxHeldBytes) {
    if (!(speed >= kMinSpeed && speed <= kMaxSpeed)) {
        throw std::invalid_argument("replay speed " + std::to_string(speed) +
                                    " is outside 0.01 to 100");
    }
    TraceReader reader(trace);
    while (const std::optional<TraceExchange> exchange = reader.Next()) {
        Add(*exchange);
    }
    FinishReading();
}

void Replay::Count(std::size_t bytes, long lineNumber) {
    heldBytes_ += bytes;
    if (heldBytes_ > maxHeldBytes_) {
        throw TraceError("line " + std::to_string(lineNumber) +
                         ": the trace is too large to replay: it would take more than " +
                         SizeText(maxHeldBytes_) + " of memory; replay a shorter part of it");
    }
}

// A copy of `bytes` that lives as long as the replay; the same bytes as `same` (the answer before
// to the same request, most often) are not copied again.
std::string_view Replay::Keep(std::string_view bytes, std::string_view same, long lineNumber) {
    if (bytes.empty() || bytes == same) {
        return bytes.empty() ? std::string_view() : same;
    }
    if (bytes.size() > kOwnBlockBytes) {
        Count(bytes.size() + sizeof(pieces_[0]), lineNumber);
        pieces_.push_back(std::make_unique<char[]>(bytes.size()));
        std::memcpy(pieces_.back().get(), bytes.data(), bytes.size());
        return {pieces_.back().get(), bytes.size()};
    }
    if (bytes.size() > blockRoom_) {
        const std::size_t size =
            pieces_.size() < 4 ? kFirstBlockBytes << pieces_.size() : kBlockBytes;
        Count(size + sizeof(pieces_[0]), lineNumber);
        pieces_.push_back(std::make_unique<char[]>(size));
        blockFree_ = pieces_.back().get();
        blockRoom_ = size;
    }
    std::memcpy(blockFree_, bytes.data(), bytes.size());
    const std::string_view kept(blockFree_, bytes.size());
    blockFree_ += bytes.size();
    blockRoom_ -= bytes.size();
    return kept;
}

// Grows like push_back and counts what the vector took more (it doubles; less where it grows by
// half, so the count never falls short).
template <typename Item>
void Replay::Append(std::vector<Item>& items, Item item, long lineNumber) {
    const std::size_t before = items.capacity();
    if (items.size() == before) {
        Count(std::max<std::size_t>(before, 1) * sizeof(Item), lineNumber);
    }
    items.push_back(std::move(item));
}

void Replay::AddAnswer(const Key& key, Answer answer, long lineNumber) {
    auto [queue, added] = queues_.try_emplace(key);
    if (added) {
        Count(sizeof(*queue) + kNodeOverheadBytes + HeapBytes(key.second), lineNumber);
    }
    std::vector<Answer>& answers = queue->second.answers;
    const Answer* before = answers.empty() ? nullptr : &answers.back();
    answer.data = Keep(answer.data, before ? before->data : std::string_view(), lineNumber);
    answer.reason = Keep(answer.reason, before ? before->reason : std::string_view(), lineNumber);
    Append(answers, answer, lineNumber);
}

void Replay::Add(const TraceExchange& exchange) {
    ++exchanges_;
    if (NeverSent(exchange)) {
        return;
    }
    const std::vector<std::string> lines = RequestLines(exchange.request);
    if (lines.empty()) {
        return;
    }
    const long at = exchange.lineNumber;
    const Key last{exchange.recordSession, lines.back()};
    Answer answer;
    answer.acceptedByte = exchange.acknowledgement.empty() ? ':' : exchange.acknowledgement[0];
    // The answer's views point here until AddAnswer keeps them.
    std::string data;
    if (ClosedByTheController(exchange)) {
        answer.closes = true;
    } else if (exchange.acknowledgement.empty()) {
        answer.silent = true;
    } else if (exchange.acknowledgement == "?") {
        answer.accepted = false;
        answer.reason = exchange.reason;
    } else if (exchange.kind == TraceExchange::Kind::Record) {
        AddRecord(last, exchange);
        return;
    } else if (exchange.kind == TraceExchange::Kind::Upload) {
        data = UploadWire(exchange.bytes);
    } else if (exchange.kind == TraceExchange::Kind::Identity) {
        data = TextWire(IdentityOf(exchange.reply));
    } else {
        data = TextWire(exchange.reply);
    }
    answer.data = data;
    // A request of several lines got one acknowledgement a line and the replies joined: the
    // earlier lines are acknowledged alone, the last carries the whole reply.
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        Answer plain;
        plain.acceptedByte = answer.acceptedByte;
        AddAnswer({exchange.recordSession, lines[i]}, plain, at);
    }
    AddAnswer(last, answer, at);
}

void Replay::AddRecord(const Key& key, const TraceExchange& exchange) {
    const long at = exchange.lineNumber;
    auto [records, added] = records_.try_emplace(key.second);
    if (added) {
        Count(sizeof(*records) + kNodeOverheadBytes + HeapBytes(key.second), at);
    }
    if (recordLines_.try_emplace(key, true).second) {
        Count(sizeof(std::pair<const Key, bool>) + kNodeOverheadBytes + HeapBytes(key.second), at);
    }
    std::vector<Record>& kept = records->second;
    const std::string_view same = kept.empty() ? std::string_view() : kept.back().bytes;
    Append(kept, Record{exchange.timeMs, Keep(exchange.bytes, same, at)}, at);
    if (!haveRecords_ || exchange.timeMs < firstRecordMs_) {
        firstRecordMs_ = exchange.timeMs;
        haveRecords_ = true;
    }
}

void Replay::FinishReading() {
    const auto earlier = [](const Record& a, const Record& b) { return a.timeMs < b.timeMs; };
    for (auto& [line, records] : records_) {
        // Recorded in time order as a rule; sorting would want room for half of them again.
        if (!std::is_sorted(records.begin(), records.end(), earlier)) {
            std::stable_sort(records.begin(), records.end(), earlier);
        }
        for (Record& record : records) {
            record.timeMs -= firstRecordMs_;
        }
    }
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
    if (!answer.accepted) {
        connection.reasonForTc1 = std::string(answer.reason);
    }
    Reply reply;
    reply.data = std::string(answer.data);
    reply.accepted = answer.accepted;
    reply.silent = answer.silent;
    reply.closes = answer.closes;
    reply.acceptedByte = answer.acceptedByte;
    return reply;
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
        [](const Record& record, double ms) { return static_cast<double>(record.timeMs) < ms; });
    auto nearest = after == records.end() ? std::prev(after) : after;
    if (after != records.begin() && after != records.end() &&
        elapsedMs - static_cast<double>(std::prev(after)->timeMs) <
            static_cast<double>(after->timeMs) - elapsedMs) {
        nearest = std::prev(after);
    }
    ++(after == records.end() ? counts_.repeated : counts_.matched);
    return Reply{std::string(nearest->bytes), true};
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
