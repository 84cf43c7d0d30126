// Feeds arbitrary request lines to the machine model on a virtual clock. Besides crashes and
// undefined behaviour it checks that every text reply frames exactly as the client reads it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "protocol/Protocol.h"
#include "sim/CommandSyntax.h"
#include "sim/MachineImpl.h"

namespace {

using namespace trevane;

void CheckReplyFrames(std::string_view line, const sim::Reply& reply) {
    // Records and uploads carry raw bytes that a text reply never would.
    if (line.find("QR") != std::string_view::npos || line.find("UL") != std::string_view::npos) {
        return;
    }
    const std::string wire = reply.Wire();
    protocol::ReplyParser parser(protocol::ReplyKind::Text);
    if (parser.Feed(wire) != wire.size() || !parser.Done() || parser.Rejected() == reply.accepted) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    try {
        sim::ParseFault(std::string(input));
    } catch (const std::invalid_argument&) {
    }

    auto clock = std::make_shared<VirtualClock>();
    sim::Machine machine(clock);
    sim::Machine::Impl& impl = machine.impl();
    const int session = impl.OpenSession();
    std::string_view rest = input;
    while (!rest.empty()) {
        const auto cr = rest.find('\r');
        const std::string_view line = rest.substr(0, cr);
        const sim::Reply reply = impl.Exchange(session, line);
        CheckReplyFrames(line, reply);
        // Let the model run a little between requests; the line's length picks how long.
        clock->Advance(std::chrono::milliseconds(line.size() % 97));
        if (cr == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(cr + 1);
    }
    for (int axis = 0; axis < sim::kAxes; ++axis) {
        machine.ReadAxis(axis);
    }
    impl.CloseSession(session);
    return 0;
}
