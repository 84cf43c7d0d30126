#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "sim/MachineImpl.h"
#include "sim/Numbers.h"

#include "common/RecordLayout.h"

namespace trevane::sim {
namespace {

constexpr const char* kPowerOnProgram =
    "#AUTO\r\n"
    "MG \"READY\"\r\n"
    "SB7\r\n"
    "EN\r\n";

// The history of received lines keeps at most this many bytes besides its line limit.
constexpr std::size_t kReceivedHistoryBytes = 16 * 1024 * 1024;
constexpr std::size_t kShortRecordBytes = 100;

bool IsIdentityRequest(std::string_view line) {
    return TrimBlanks(line) == "\x12\x16";
}

bool IsRecordRequest(std::string_view line) {
    return TrimBlanks(line).substr(0, 2) == "QR";
}

void Put16(std::string& bytes, std::size_t offset, unsigned value) {
    bytes[offset] = static_cast<char>(value & 0xFF);
    bytes[offset + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& bytes, std::size_t offset, long long value) {
    const auto raw = static_cast<std::uint32_t>(value);
    Put16(bytes, offset, raw & 0xFFFF);
    Put16(bytes, offset + 2, raw >> 16);
}

std::string NormaliseProgram(std::string_view text) {
    // The wire carries CR LF line ends and the upload ends at 0x1A, so the text holds neither
    // a bare line end nor that byte.
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\x1A' || c == '\r') {
            continue;
        }
        if (c == '\n') {
            out += "\r\n";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

}  // namespace

const char* ErrorText(int code) {
    switch (code) {
        case kNoError:
            return "No error";
        case kUnrecognizedCommand:
            return "Unrecognized command";
        case kInvalidArgument:
            return "Invalid argument";
        case kNumberOutOfRange:
            return "Number out of range";
        case kNotValidMotorOff:
            return "Not valid while the motor is off";
        case kNotValidWhileMoving:
            return "Not valid while the axis moves";
        case kRequestTooLong:
            return "Request too long";
        case kCommandRejected:
            return "Command rejected";
        default:
            return "Unknown error";
    }
}

Machine::Impl::Impl(std::shared_ptr<Clock> clockToUse)
    : clock(std::move(clockToUse)), start(clock->Now()), program(kPowerOnProgram) {}

int Machine::Impl::OpenSession() {
    std::lock_guard lock(mutex);
    const int id = nextSession++;
    sessions[id] = Session{};
    return id;
}

void Machine::Impl::CloseSession(int session) {
    std::lock_guard lock(mutex);
    sessions.erase(session);
}

LinkFaults Machine::Impl::Link() const {
    std::lock_guard lock(mutex);
    LinkFaults link;
    for (const Fault& fault : faults) {
        switch (fault.kind) {
            case Fault::Kind::Delay:
                link.delayMs = fault.value;
                break;
            case Fault::Kind::Drop:
                link.dropAfter =
                    link.dropAfter == 0 ? fault.value : std::min(link.dropAfter, fault.value);
                break;
            case Fault::Kind::Cut:
                link.cutAt = link.cutAt == 0 ? fault.value : std::min(link.cutAt, fault.value);
                break;
            case Fault::Kind::Silent:
                link.silent = true;
                break;
            default:
                break;
        }
    }
    return link;
}

void Machine::Impl::Record(int session, std::string_view line) {
    received.push_back(ReceivedCommand{session, std::string(line)});
    receivedBytes += line.size();
    while (received.size() > Machine::kReceivedHistoryLimit ||
           (receivedBytes > kReceivedHistoryBytes && received.size() > 1)) {
        receivedBytes -= received.front().line.size();
        received.pop_front();
    }
}

void Machine::Impl::RecordOnly(int session, std::string_view line) {
    std::lock_guard lock(mutex);
    if (line.size() <= kMaxRequestBytes) {
        Record(session, line);
    }
}

void Machine::Impl::StepToNow() {
    const auto elapsed = clock->Now() - start;
    const long long nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
    // Fixed 1 ms steps: what a query sees does not depend on how often anyone asked before.
    constexpr double kStepSeconds = 0.001;
    const bool mismatch = CnMismatch();
    while (modelMs < nowMs) {
        if (std::all_of(axes.begin(), axes.end(), [](const SimAxis& a) { return a.Quiescent(); })) {
            modelMs = nowMs;
            break;
        }
        for (SimAxis& axis : axes) {
            axis.Step(kStepSeconds, mismatch);
        }
        ++modelMs;
    }
    for (SimAxis& axis : axes) {
        axis.SetSampleTime(modelMs);
    }
}

void Machine::Impl::ApplyAxisFaults() {
    for (std::size_t k = 0; k < axes.size(); ++k) {
        SimAxis& axis = axes[k];
        axis.stall = axis.torqueSpike = axis.forwardStuck = axis.reverseStuck = false;
        axis.load = 1.0;
        axis.physical = PhysicalFaults{};
        axis.physical.noiseSeed = k + 1;
    }
    wiring = -1;
    for (const Fault& fault : faults) {
        const auto index = static_cast<std::size_t>(std::clamp(fault.axis, 0, kAxes - 1));
        if (axes[index].physical.Take(fault)) {
            continue;
        }
        switch (fault.kind) {
            case Fault::Kind::Stall:
                axes[index].stall = true;
                break;
            case Fault::Kind::Torque:
                axes[index].torqueSpike = true;
                break;
            case Fault::Kind::Load:
                axes[index].load = fault.factor;
                break;
            case Fault::Kind::Limit:
                (fault.forward ? axes[index].forwardStuck : axes[index].reverseStuck) = true;
                break;
            case Fault::Kind::Cn:
                wiring = fault.value;
                break;
            default:
                break;
        }
    }
}

bool Machine::Impl::RejectedByFault(std::string_view command) const {
    return std::any_of(faults.begin(), faults.end(), [&](const Fault& fault) {
        return fault.kind == Fault::Kind::Reject && TrimBlanks(fault.command) == command;
    });
}

Reply Machine::Impl::Exchange(int session, std::string_view line, bool tooLong) {
    std::lock_guard lock(mutex);
    StepToNow();
    Session& state = sessions[session];
    if (tooLong || line.size() > kMaxRequestBytes) {
        state.lastError = kRequestTooLong;
        return Reply{{}, false};
    }
    Record(session, line);
    if (IsIdentityRequest(line)) {
        return Reply{std::string(kIdentityLine) + "\r\n", true};
    }
    Reply reply;
    if (RejectedByFault(TrimBlanks(line))) {
        state.lastError = kCommandRejected;
        reply.accepted = false;
        return reply;
    }
    for (std::string_view command : SplitCommands(line)) {
        const int error =
            RejectedByFault(command) ? kCommandRejected : Execute(command, state, reply.data);
        if (error != kNoError) {
            // Like the controller, the line stops at its first rejected command.
            state.lastError = error;
            reply.accepted = false;
            return reply;
        }
    }
    return reply;
}

std::string Machine::Impl::BuildRecord(const Session& session) const {
    namespace r = record;
    std::string bytes(r::kMinimumSize, '\0');
    // Header: which blocks follow (I/O block and the four axes), the total length, the model's
    // sample time in ms; then the I/O block: inputs, outputs, last error, CN.
    bytes[0] = static_cast<char>(0x80 | 0x0F);
    Put16(bytes, r::kLengthOffset, static_cast<unsigned>(r::kMinimumSize));
    Put32(bytes, 4, modelMs);
    Put16(bytes, 8, 0);
    Put16(bytes, 10, outputs);
    bytes[12] = static_cast<char>(session.lastError);
    bytes[13] = static_cast<char>(cn);
    const bool mismatch = CnMismatch();
    for (std::size_t k = 0; k < r::kAxisCount; ++k) {
        const AxisState state = axes[k].State(mismatch);
        const std::size_t base = r::AxisBlockOffset(k);
        unsigned status = 0;
        status |= state.moving ? r::kStatusMoving : 0;
        status |= state.stopped ? r::kStatusStopped : 0;
        status |= state.motorOff ? r::kStatusMotorOff : 0;
        unsigned switches = 0;
        switches |= state.forwardLimitOn ? r::kSwitchForwardLimit : 0;
        switches |= state.reverseLimitOn ? r::kSwitchReverseLimit : 0;
        Put16(bytes, base + r::kStatusWord, status);
        bytes[base + r::kSwitches] = static_cast<char>(switches);
        bytes[base + r::kStopCode] = static_cast<char>(state.stopCode);
        Put32(bytes, base + r::kReferencePosition, state.referencePosition);
        Put32(bytes, base + r::kMotorPosition, state.motorPosition);
        Put32(bytes, base + r::kPositionError, state.positionError);
        Put32(bytes, base + r::kAuxPosition, 0);
        Put32(bytes, base + r::kVelocity, state.velocity);
        const double torqueCounts = std::clamp(state.torque * r::kCountsPerVolt, -32768.0, 32767.0);
        Put16(bytes, base + r::kTorque,
              static_cast<unsigned>(static_cast<int>(std::lround(torqueCounts))));
        Put16(bytes, base + r::kAnalog, 0);
    }
    const bool shortRecord = std::any_of(faults.begin(), faults.end(), [](const Fault& f) {
        return f.kind == Fault::Kind::ShortRecord;
    });
    if (shortRecord) {
        bytes.resize(kShortRecordBytes);
        Put16(bytes, r::kLengthOffset, kShortRecordBytes);
    }
    return bytes;
}

// --- Machine ---

Machine::Machine(std::shared_ptr<Clock> clock) {
    if (!clock) {
        throw std::invalid_argument("the simulated machine needs a clock");
    }
    impl_ = std::make_unique<Impl>(std::move(clock));
}

Machine::~Machine() = default;

void Machine::AddFault(const Fault& fault) {
    std::lock_guard lock(impl_->mutex);
    impl_->StepToNow();
    impl_->faults.push_back(fault);
    impl_->ApplyAxisFaults();
}

void Machine::ClearFaults() {
    std::lock_guard lock(impl_->mutex);
    impl_->StepToNow();
    impl_->faults.clear();
    impl_->ApplyAxisFaults();
}

std::vector<ReceivedCommand> Machine::Received() const {
    std::lock_guard lock(impl_->mutex);
    return {impl_->received.begin(), impl_->received.end()};
}

std::vector<std::string> Machine::ReceivedCommands() const {
    std::lock_guard lock(impl_->mutex);
    std::vector<std::string> lines;
    for (const ReceivedCommand& command : impl_->received) {
        if (!IsRecordRequest(command.line) && !IsIdentityRequest(command.line)) {
            lines.push_back(command.line);
        }
    }
    return lines;
}

void Machine::ClearReceived() {
    std::lock_guard lock(impl_->mutex);
    impl_->received.clear();
    impl_->receivedBytes = 0;
}

std::size_t Machine::OpenSessions() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->sessions.size();
}

void Machine::SetStoredProgram(std::string text) {
    std::lock_guard lock(impl_->mutex);
    impl_->program = NormaliseProgram(text);
}

AxisState Machine::ReadAxis(int axis) {
    if (axis < 0 || axis >= kAxes) {
        throw std::out_of_range("axis " + std::to_string(axis) + " is not one of 0..3");
    }
    std::lock_guard lock(impl_->mutex);
    impl_->StepToNow();
    return impl_->axes[static_cast<std::size_t>(axis)].State(impl_->CnMismatch());
}

bool Machine::Output(int number) {
    if (number < 1 || number > 16) {
        throw std::out_of_range("output " + std::to_string(number) + " is not one of 1..16");
    }
    std::lock_guard lock(impl_->mutex);
    return (impl_->outputs >> (number - 1)) & 1u;
}

int Machine::Cn() {
    std::lock_guard lock(impl_->mutex);
    return impl_->cn;
}

std::shared_ptr<Responder> AsResponder(std::shared_ptr<Machine> machine) {
    if (!machine) {
        return nullptr;
    }
    Machine::Impl& impl = machine->impl();
    return std::shared_ptr<Responder>(std::move(machine), &impl);
}

}  // namespace trevane::sim
