// Feeds what a hostile controller might send to the client's reply parser, once whole and once
// cut at points taken from the input: the outcome must not depend on how the bytes arrive, and
// no reply may hold more data than its bound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/RecordLayout.h"
#include "protocol/Protocol.h"

namespace {

using trevane::protocol::ReplyFormatError;
using trevane::protocol::ReplyKind;
using trevane::protocol::ReplyParser;

struct Outcome {
    std::size_t used = 0;
    bool done = false;
    bool rejected = false;
    bool failed = false;
    std::size_t acks = 0;
    std::string data;

    bool operator==(const Outcome&) const = default;
};

struct Setup {
    ReplyKind kind;
    std::size_t acks;
    char accepted;
    std::size_t maxBytes;
};

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Checks what must hold of any reply the parser says is complete.
void CheckFinished(const Setup& setup, const ReplyParser& parser) {
    Check(parser.Data().size() <= setup.maxBytes);
    Check(parser.AcknowledgementsSeen() <= (setup.kind == ReplyKind::Text ? setup.acks : 1));
    if (!parser.Done() || parser.Rejected()) {
        return;
    }
    const std::string& data = parser.Data();
    if (setup.kind == ReplyKind::Record) {
        constexpr std::size_t at = trevane::record::kLengthOffset;
        Check(data.size() >= at + 2);
        const std::size_t length =
            static_cast<unsigned char>(data[at]) |
            (static_cast<std::size_t>(static_cast<unsigned char>(data[at + 1])) << 8);
        Check(data.size() == length);
    } else if (setup.kind == ReplyKind::Upload) {
        Check(data.find(trevane::protocol::kEndOfUpload) == std::string::npos);
    }
}

Outcome Run(const Setup& setup, std::string_view stream, const std::vector<std::size_t>& cuts) {
    ReplyParser parser(setup.kind, setup.acks, setup.accepted, setup.maxBytes);
    Outcome outcome;
    std::size_t at = 0;
    try {
        for (std::size_t i = 0; i <= cuts.size() && !parser.Done(); ++i) {
            const std::size_t end =
                i < cuts.size() ? std::min(cuts[i], stream.size()) : stream.size();
            const std::string_view chunk = stream.substr(at, end - at);
            const std::size_t used = parser.Feed(chunk);
            Check(used <= chunk.size());
            // Short of the end of a chunk only when the reply is complete.
            Check(used == chunk.size() || parser.Done());
            outcome.used += used;
            at = end;
        }
    } catch (const ReplyFormatError&) {
        // What a failed Feed took is not reported; only the failure and the data must agree.
        outcome.failed = true;
        outcome.used = 0;
    }
    outcome.done = parser.Done();
    outcome.rejected = parser.Rejected();
    outcome.acks = parser.AcknowledgementsSeen();
    outcome.data = parser.Data();
    if (!outcome.failed) {
        CheckFinished(setup, parser);
    }
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Header: kind and ack count, accepted byte, bound, number of cuts, then one byte per cut.
    if (size < 4) {
        return 0;
    }
    Setup setup{};
    setup.kind = static_cast<ReplyKind>(data[0] % 3);
    setup.acks = 1 + (data[0] >> 2) % 4;
    setup.accepted =
        (data[1] & 1) != 0 ? static_cast<char>(data[1] >> 1) : trevane::protocol::kAccepted;
    // Zero keeps the client's real bound; anything else a small one the input can reach.
    setup.maxBytes = data[2] == 0 ? std::size_t{1024 * 1024} : std::size_t{data[2]};
    const std::size_t cutCount = std::min<std::size_t>(data[3] % 16, size - 4);
    std::vector<std::size_t> cuts;
    std::size_t position = 0;
    for (std::size_t i = 0; i < cutCount; ++i) {
        position += data[4 + i];
        cuts.push_back(position);
    }
    const std::string_view stream(reinterpret_cast<const char*>(data + 4 + cutCount),
                                  size - 4 - cutCount);

    const Outcome whole = Run(setup, stream, {});
    Check(Run(setup, stream, cuts) == whole);
    // Every byte on its own, the harshest split.
    std::vector<std::size_t> single;
    for (std::size_t i = 1; i < stream.size(); ++i) {
        single.push_back(i);
    }
    Check(Run(setup, stream, single) == whole);
    return 0;
}
