#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "common/Clock.h"

// What a transport (the TCP server, the in-process client) serves: the simulated machine, or a
// recorded trace played back.
namespace trevane::sim {

// The faults that act on the link rather than on the machine.
struct LinkFaults {
    int delayMs = 0;    // every reply this much later
    int dropAfter = 0;  // close each connection after this many requests (0: never)
    int cutAt = 0;      // close each connection on this request, unanswered (0: never)
    bool silent = false;
};

// One reply: the data bytes and whether the acknowledgement is ":" or "?". A silent reply sends
// nothing at all (the caller's wait runs out, as it did when the reply was recorded); a closing
// one sends nothing either, and the transport closes the connection instead, as the controller
// did when it was recorded.
struct Reply {
    std::string data;
    bool accepted = true;
    bool silent = false;
    bool closes = false;
    char acceptedByte = ':';
    std::string Wire() const {
        return silent || closes ? std::string() : data + (accepted ? acceptedByte : '?');
    }
};

class Responder {
  public:
    virtual ~Responder() = default;

    // Thread-safe: every transport calls from its own threads.
    virtual int OpenSession() = 0;
    virtual void CloseSession(int session) = 0;
    // Carries out one request line (without its CR). `tooLong` marks a line that was cut off
    // at kMaxRequestBytes by the framing.
    virtual Reply Exchange(int session, std::string_view line, bool tooLong = false) = 0;
    // Keeps a line that a silent controller swallowed.
    virtual void RecordOnly(int session, std::string_view line) = 0;
    virtual LinkFaults Link() const = 0;
    virtual const std::shared_ptr<Clock>& GetClock() const = 0;
};

}  // namespace trevane::sim
