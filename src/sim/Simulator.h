#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/Clock.h"
#include "protocol/MotionClient.h"
#include "sim/Responder.h"

// The simulated controller: one four-axis machine model, served in process (on an injectable
// clock, so tests run the automatic test in virtual time) and over TCP by trevane-sim.
namespace trevane::sim {

// The line the machine answers to the identity request.
inline constexpr const char* kIdentityLine = "Trevane simulated controller, 4 axes, firmware 1.0";
// Requests longer than this are answered "?" without being kept, on every path.
inline constexpr std::size_t kMaxRequestBytes = 64 * 1024;
// trevane-sim's port unless --port says otherwise (port 23 needs root on most systems).
inline constexpr std::uint16_t kDefaultSimulatorPort = 5023;

// A fault made on purpose, as given to `--fault` (for example "stall:Y", "delay:50").
struct Fault {
    // From Friction on: faults of the axis's mechanics, encoder or tuning.
    enum class Kind {
        Stall,
        Torque,
        Load,
        Limit,
        Cn,
        Delay,
        Drop,
        Cut,
        Reject,
        ShortRecord,
        Silent,
        Friction,
        Gravity,
        Bind,
        Backlash,
        Noise,
        Gain
    };
    Kind kind;
    int axis = 0;          // every fault of one axis: 0..3 for X, Y, Z, W
    bool forward = false;  // Limit: forward (true) or reverse (false) switch stuck on
    // Cn: 1 or -1; Delay: milliseconds; Drop, Cut: N-th request; Backlash, Noise: counts
    int value = 0;
    std::string command;  // Reject: the exact command line answered with "?"
    double factor = 1.0;  // Load, Friction: 1.0 to 10.0; Gain: 0.1 to 10.0
    double volts = 0;     // Gravity: the holding torque, -9.9982 to 9.9982
    int from = 0;         // Bind: the range of positions, from < to
    int to = 0;
};

// Parses the forms that FaultForms lists ("stall:AXIS", "load:AXIS:FACTOR", "delay:MS", ...).
// Throws std::invalid_argument naming the text and what is wrong with it.
Fault ParseFault(const std::string& text);
// Every form ParseFault takes ("load:AXIS:FACTOR"), an example of it ("load:Y:2.5") and what it
// does: the one list that --help, the manual page's check and ParseFault's tests read.
struct FaultForm {
    const char* form;
    const char* example;
    const char* description;  // may hold line breaks
};
const std::vector<FaultForm>& FaultForms();
// The list of faults with their help, for --help.
std::string FaultHelp();
// The stop codes, status-word bits, switch-byte bits and record header fields, for --help.
std::string RecordHelp();
// The power-on settings of the machine, for --help.
std::string PowerOnHelp();

// One command line as the machine received it, and on which session.
struct ReceivedCommand {
    int session;
    std::string line;
};

// Stop codes of the data record (byte 3 of an axis block) and of "MG _SC" + axis.
enum StopCode : int {
    kStopNone = 0,              // moving, or no motion since power-on
    kStopFinished = 1,          // a position move reached its target (or a jog slowed to 0)
    kStopForwardLimit = 2,      // stopped by the forward limit switch
    kStopReverseLimit = 3,      // stopped by the reverse limit switch
    kStopAborted = 4,           // stopped by "AB" or "ST"
    kStopForwardSoftLimit = 5,  // stopped at the forward software limit ("FL")
    kStopReverseSoftLimit = 6,  // stopped at the reverse software limit ("BL")
    kStopMotorOff = 8,          // stopped because the motor was switched off
};

// One axis as the record would show it, for tests.
struct AxisState {
    long long referencePosition = 0;
    long long motorPosition = 0;
    long long positionError = 0;  // reference - motor, as "TE" reports it
    long long velocity = 0;       // counts per second
    double torque = 0;            // volts, as "TT" reports it
    bool moving = false;          // status bit 15
    bool stopped = false;         // status bit 4
    bool motorOff = false;        // status bit 0
    bool forwardLimitOn = false;  // switch bit 3: the forward switch reads as on
    bool reverseLimitOn = false;  // switch bit 2
    int stopCode = kStopNone;
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
    // The history keeps the most recent lines only (see kReceivedHistoryLimit).
    std::vector<ReceivedCommand> Received() const;
    // The received lines without data-record ("QR ...") and identity requests.
    std::vector<std::string> ReceivedCommands() const;
    void ClearReceived();
    static constexpr std::size_t kReceivedHistoryLimit = 100000;

    // Sessions open on the machine, in process or over the server: how a test sees that the
    // controller has closed one.
    std::size_t OpenSessions() const;

    // The stored program returned by "UL" (lines ending "\r\n" on the wire).
    void SetStoredProgram(std::string text);

    // The state of axis 0..3 (X, Y, Z, W) at the clock's present time.
    AxisState ReadAxis(int axis);
    // Digital output 1..16.
    bool Output(int number);
    // The limit-switch configuration value set by "CN" (-1 or 1).
    int Cn();

    struct Impl;
    Impl& impl() { return *impl_; }

  private:
    std::unique_ptr<Impl> impl_;
};

// The machine as the transports serve it (nullptr for none).
std::shared_ptr<Responder> AsResponder(std::shared_ptr<Machine> machine);

// What an in-process session does beyond the machine's faults.
struct InProcessOptions {
    // The controller closes a session that sent no request for this long on the simulator's
    // clock, as the server does (--idle-timeout); none: never. Must be positive.
    std::optional<std::chrono::milliseconds> idleTimeout;
};

// An in-process session on the machine: every exchange goes straight to the model. Honours the
// same faults as the server and fails the way the TCP client does (a silent controller times
// out; a dropped or idle-closed session throws MotionError::ClosedByController).
// `address` and `port` only appear in the connection description and error texts.
std::shared_ptr<MotionClient> MakeInProcessClient(std::shared_ptr<Machine> machine,
                                                  const std::string& address = "127.0.0.1",
                                                  std::uint16_t port = 23,
                                                  InProcessOptions options = {});
SessionFactory InProcessSessionFactory(std::shared_ptr<Machine> machine,
                                       InProcessOptions options = {});
// The same on any responder (a replayed trace).
std::shared_ptr<MotionClient> MakeInProcessClient(std::shared_ptr<Responder> responder,
                                                  const std::string& address, std::uint16_t port,
                                                  InProcessOptions options = {});
SessionFactory InProcessSessionFactory(std::shared_ptr<Responder> responder,
                                       InProcessOptions options = {});

// The TCP server: many sessions at once on one machine, served from its own thread.
class Server {
  public:
    struct Options {
        // A connection that sends no request for this long is closed.
        std::chrono::milliseconds idleTimeout{std::chrono::seconds(60)};
        // Past this, the longest-idle connection makes room for a new one.
        std::size_t maxConnections = 256;
    };

    // Binds `bindAddress`:`port` (port 0 takes a free port); throws std::runtime_error naming
    // the address when it cannot, or on options out of range.
    Server(std::shared_ptr<Machine> machine, const std::string& bindAddress, std::uint16_t port);
    Server(std::shared_ptr<Machine> machine, const std::string& bindAddress, std::uint16_t port,
           Options options);
    Server(std::shared_ptr<Responder> responder, const std::string& bindAddress, std::uint16_t port,
           Options options);
    ~Server();  // stops and joins
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    std::uint16_t Port() const;
    std::string Address() const;
    void Stop();

    // Limits that keep one misbehaving client from growing the server's memory.
    static constexpr std::size_t kMaxPendingOutputBytes = 256 * 1024;  // unread replies
    // Requests framed but not yet answered (a delayed controller), counted in bytes.
    static constexpr std::size_t kMaxQueuedRequestBytes = 1024 * 1024;
    static constexpr std::size_t kMaxConnections = 256;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace trevane::sim
