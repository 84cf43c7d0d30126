#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace trevane::testing {

struct PeerReply {
    std::string bytes;        // written exactly as they stand
    bool closeAfter = false;  // then the peer closes the connection
};

// Decides the answer to one request line (its bytes without the CR). std::nullopt: say nothing.
using PeerScript = std::function<std::optional<PeerReply>(const std::string& request)>;

// A controller stand-in on 127.0.0.1 that answers each CR-terminated request by a script.
// Serves any number of connections from one thread of its own.
class ScriptedPeer {
  public:
    explicit ScriptedPeer(PeerScript script);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    std::uint16_t Port() const;
    // Every request line received so far, on all connections, in order.
    std::vector<std::string> Requests() const;
    int ConnectionsAccepted() const;
    // Writes `bytes` on every open connection, unasked; returns once they are written.
    void PushToAll(const std::string& bytes);

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

// The answers a well-behaved controller gives to the link's own requests: the identity line,
// ":" for "HX", a reason for "TC1". Other requests get `otherwise(request)`, or ":" by default.
PeerScript ControllerScript(PeerScript otherwise = {});

inline constexpr const char* kPeerIdentity = "Scripted controller, firmware 9.9";

// A loopback port on which nothing listens (bound, then closed again).
std::uint16_t UnusedLoopbackPort();

}  // namespace trevane::testing
