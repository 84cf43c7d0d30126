#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "sim/CommandSyntax.h"
#include "sim/Responder.h"
#include "sim/SimAxis.h"
#include "sim/Simulator.h"

namespace trevane::sim {

// Error numbers that "TC1" reports with their texts.
enum ErrorCode : int {
    kNoError = 0,
    kUnrecognizedCommand = 1,
    kInvalidArgument = 2,
    kNumberOutOfRange = 3,
    kNotValidMotorOff = 4,
    kNotValidWhileMoving = 5,
    kRequestTooLong = 6,
    kCommandRejected = 7,
};
const char* ErrorText(int code);

struct Machine::Impl final : Responder {
    explicit Impl(std::shared_ptr<Clock> clockToUse);

    // --- Used by the transports (thread-safe) ---
    int OpenSession() override;
    void CloseSession(int session) override;
    Reply Exchange(int session, std::string_view line, bool tooLong = false) override;
    void RecordOnly(int session, std::string_view line) override;
    LinkFaults Link() const override;
    const std::shared_ptr<Clock>& GetClock() const override { return clock; }

    // --- Everything below runs with `mutex` held ---
    struct Session {
        int lastError = kNoError;
    };
    enum class BeginMode { None, Position, Jog };

    void StepToNow();
    bool CnMismatch() const { return cn != wiring; }
    void ApplyAxisFaults();
    void Record(int session, std::string_view line);
    bool RejectedByFault(std::string_view command) const;
    // Carries out one command; returns an ErrorCode.
    int Execute(std::string_view command, Session& session, std::string& out);
    std::string BuildRecord(const Session& session) const;

    // Command handlers (Commands.cpp); each returns an ErrorCode.
    int AxisAssignment(std::string_view mnemonic, std::string_view arguments, std::string& out);
    int Begin(std::string_view arguments);
    int Message(std::string_view arguments, std::string& out);
    int Tell(std::string_view mnemonic, std::string_view arguments, std::string& out);
    int SetCn(std::string_view arguments);
    int SetOutput(std::string_view arguments, bool on);
    int Upload(std::string_view arguments, std::string& out);
    int DataRecord(std::string_view arguments, const Session& session, std::string& out);
    int TellCode(std::string_view arguments, const Session& session, std::string& out);
    bool AxisValue(std::string_view name, int axis, double& value);

    mutable std::mutex mutex;
    const std::shared_ptr<Clock> clock;
    const Clock::TimePoint start;
    long long modelMs = 0;

    std::array<SimAxis, kAxes> axes;
    std::array<BeginMode, kAxes> beginMode{};
    int cn = -1;
    int wiring = -1;
    std::uint16_t outputs = 0;  // bit n-1: output n
    std::string program;

    std::vector<Fault> faults;
    std::deque<ReceivedCommand> received;
    std::size_t receivedBytes = 0;
    std::map<int, Session> sessions;
    int nextSession = 1;
};

}  // namespace trevane::sim
