// Feeds arbitrary files to the trace reader and serves what it accepts: a damaged trace must be
// refused with an error, never crash, and an accepted one must answer its own requests.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/Clock.h"
#include "common/TraceFormat.h"
#include "sim/Replay.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    if (trevane::UnescapeBytes(trevane::EscapeBytes(bytes)) != bytes) {
        std::abort();
    }
    std::istringstream in(bytes);
    std::vector<trevane::TraceExchange> trace;
    try {
        trace = trevane::ReadTrace(in);
    } catch (const trevane::TraceError&) {
        return 0;
    }
    auto clock = std::make_shared<trevane::VirtualClock>();
    trevane::sim::Replay replay(trace, clock, 1.0);
    const int session = replay.OpenSession();
    for (const trevane::TraceExchange& exchange : trace) {
        const std::string line = exchange.request.substr(0, exchange.request.find('\r'));
        replay.Exchange(session, line);
        replay.Exchange(session, "TC1");
        clock->Advance(std::chrono::milliseconds(exchange.timeMs % 50));
    }
    replay.CloseSession(session);
    return 0;
}
