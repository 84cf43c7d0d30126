// Cuts arbitrary bytes into requests in arbitrary read sizes and compares the result with the
// same stream cut all at once: framing must not depend on how the bytes arrive, and must never
// hold more than its limit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "sim/RequestFramer.h"

namespace {

constexpr std::size_t kLimit = 32;

std::vector<trevane::sim::Request> Reference(std::string_view stream) {
    std::vector<trevane::sim::Request> requests;
    while (true) {
        const auto cr = stream.find('\r');
        if (cr == std::string_view::npos) {
            return requests;
        }
        trevane::sim::Request request;
        request.tooLong = cr > kLimit;
        if (!request.tooLong) {
            request.line = std::string(stream.substr(0, cr));
        }
        requests.push_back(std::move(request));
        stream.remove_prefix(cr + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte seeds the read sizes; the rest is the stream.
    unsigned seed = data[0];
    const std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);
    trevane::sim::RequestFramer framer(kLimit);
    std::vector<trevane::sim::Request> requests;
    for (std::size_t at = 0; at < stream.size();) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t chunk = 1 + (seed >> 16) % 40;
        framer.Feed(stream.substr(at, chunk), requests);
        at += chunk;
        if (framer.Buffered() > kLimit) {
            std::abort();
        }
    }
    const std::vector<trevane::sim::Request> expected = Reference(stream);
    if (requests.size() != expected.size()) {
        std::abort();
    }
    for (std::size_t i = 0; i < requests.size(); ++i) {
        if (requests[i].tooLong != expected[i].tooLong || requests[i].line != expected[i].line) {
            std::abort();
        }
    }
    return 0;
}
