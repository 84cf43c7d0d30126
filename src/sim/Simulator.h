#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/Clock.h"
#include "controller/MotionClient.h"

// The simulated controller: one four-axis machine model, served in process (on an injectable
// clock, so tests run the automatic test in virtual time) and over TCP by trevane-sim.
namespace trevane::sim {

// A fault made on purpose, as given to `--fault` (for example "stall:Y", "delay:50").
struct Fault {
    enum class Kind { Stall, Torque, Limit, Cn, Delay, Drop, Reject, ShortRecord, Silent };
    Kind kind;
    int axis = 0;             // Stall, Torque, Limit: 0..3 for X, Y, Z, W
    bool forward = false;     // Limit: forward (true) or reverse (false) switch stuck on
    int value = 0;            // Cn: 1 or -1; Delay: milliseconds; Drop: N-th request
    std::string command;      // Reject: the exact command line answered with "?"
};

// Parses "stall:AXIS", "torque:AXIS", "limit:AXIS:forward|reverse", "cn:1", "delay:MS",
// "drop:N", "reject:COMMAND", "short-record", "silent". Throws std::invalid_argument naming the
// text when it is not a known fault.
Fault ParseFault(const std::string& text);
// The list of faults with one line of help each, for --help.
std::string FaultHelp();

// One command line as the machine received it, and on which session.
struct ReceivedCommand {
    int session;
    std::string line;
};

class Machine {
public:
    // The model steps on `clock` (a VirtualClock in tests, the real clock when served).
    explicit Machine(std::shared_ptr<Clock> clock);
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    void AddFault(const Fault& fault);
    void ClearFaults();

    // Every request line received (data-record and identity requests included), in order.
    std::vector<ReceivedCommand> Received() const;
    // The received lines without data-record ("QR ...") and identity requests.
    std::vector<std::string> ReceivedCommands() const;
    void ClearReceived();

    // The stored program returned by "UL" (lines ending "\r\n" on the wire).
    void SetStoredProgram(std::string text);

    struct Impl;
    Impl& impl() { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

// An in-process session on the machine: every exchange goes straight to the model. Honours the
// same faults as the server (a silent or dropped link throws MotionError as a timeout would).
std::shared_ptr<MotionClient> MakeInProcessClient(std::shared_ptr<Machine> machine);
SessionFactory InProcessSessionFactory(std::shared_ptr<Machine> machine);

// The TCP server: many sessions at once on one machine, served from its own thread.
class Server {
public:
    // Binds `bindAddress`:`port` (port 0 takes a free port); throws std::runtime_error naming
    // the address when it cannot.
    Server(std::shared_ptr<Machine> machine, const std::string& bindAddress, std::uint16_t port);
    ~Server();  // stops and joins
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    std::uint16_t Port() const;
    std::string Address() const;
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace trevane::sim
