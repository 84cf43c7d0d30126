#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "protocol/Limits.h"
#include "protocol/MotionClient.h"

namespace trevane {

// A controller session over TCP/IPv4 speaking the controller's text protocol. Exchanges on one
// session are serialised. After a timeout or a broken connection the session is spent: every
// later call throws MotionError at once. So is a session whose reply passed 1 MiB or did not
// frame, since the rest of it may still be on its way and would answer the next request.
// A rejected request ("?") throws too, with the controller's reason ("TC1") in the text; the
// session goes on. A session the controller ended (end of stream or reset) throws
// MotionError::ClosedByController: unsent when found before the request went out (a session
// closed for being idle), sent when found while the reply was awaited.
class TcpMotionClient final : public MotionClient {
  public:
    // Connects to `address` (dotted IPv4 only) and `port`; throws MotionError naming the address
    // when it cannot.
    TcpMotionClient(const std::string& address, std::uint16_t port, TcpTimeouts timeouts = {});
    ~TcpMotionClient() override;

    std::string command(const std::string& command, const std::string& terminator = "\r",
                        const std::string& acknowledgement = ":", bool trim = true) override;
    std::string connection() override;
    std::string programUpload() override;
    std::vector<char> record(const std::string& query) override;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Sessions to the given port (port 23 unless configured otherwise).
SessionFactory MakeTcpSessionFactory(std::uint16_t port, TcpTimeouts timeouts = {});

}  // namespace trevane
