#include <algorithm>
#include <cmath>
#include <vector>

#include "sim/AxisParameters.h"
#include "sim/MachineImpl.h"
#include "sim/Numbers.h"

// The controller's commands, carried out on the machine model. Each handler returns an
// ErrorCode; data it replies goes to `out`, every data line ending "\r\n".
namespace trevane::sim {
namespace {

using Impl = Machine::Impl;

// Values joined by ", ", the first with its sign column: " 25000, 25000, -3, 0".
std::string JoinValues(const std::vector<double>& values, bool whole) {
    std::string text;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) {
            text += ", ";
        }
        if (whole) {
            const long long count = ToCount32(values[i]);
            text += i == 0 ? FormatCount(count) : FormatCountUnsigned(count);
        } else {
            text += i == 0 ? FormatReal(values[i]) : FormatRealUnsigned(values[i]);
        }
    }
    return text + "\r\n";
}

bool IsOneOf(std::string_view text, std::initializer_list<std::string_view> choices) {
    return std::find(choices.begin(), choices.end(), text) != choices.end();
}

}  // namespace

int Impl::Execute(std::string_view command, Session& session, std::string& out) {
    const auto parts = SplitMnemonic(command);
    if (!parts) {
        return kUnrecognizedCommand;
    }
    const std::string_view m = parts->mnemonic;
    const std::string_view args = parts->arguments;
    if (FindParameter(m)) {
        return AxisAssignment(m, args, out);
    }
    if (IsOneOf(m, {"TP", "TE", "TT", "TV"})) {
        return Tell(m, args, out);
    }
    if (m == "MG") {
        return Message(args, out);
    }
    if (m == "BG") {
        return Begin(args);
    }
    if (m == "AB" || m == "ST" || m == "MO" || m == "SH") {
        unsigned mask = kAllAxes;
        if (m == "AB") {
            // "AB1" aborts motion only, "AB" and "AB0" the program too: no program runs here.
            if (!IsOneOf(args, {"", "0", "1"})) {
                return kInvalidArgument;
            }
        } else if (const auto parsed = ParseAxisMask(args)) {
            mask = *parsed;
        } else {
            return kInvalidArgument;
        }
        for (int k = 0; k < kAxes; ++k) {
            if ((mask >> k) & 1u) {
                SimAxis& axis = AxisOf(*this, k);
                if (m == "MO") {
                    axis.MotorOff();
                } else if (m == "SH") {
                    axis.ServoHere();
                } else {
                    axis.Stop(kStopAborted);
                }
            }
        }
        return kNoError;
    }
    if (m == "HX") {
        // Halts a running program; the simulated controller never runs one.
        return IsOneOf(args, {"", "0", "1", "2", "3", "4", "5", "6", "7"}) ? kNoError
                                                                           : kInvalidArgument;
    }
    if (m == "CN") {
        return SetCn(args);
    }
    if (m == "SB" || m == "CB") {
        return SetOutput(args, m == "SB");
    }
    if (m == "TC") {
        return TellCode(args, session, out);
    }
    if (m == "QR") {
        return DataRecord(args, session, out);
    }
    if (m == "UL") {
        return Upload(args, out);
    }
    return kUnrecognizedCommand;
}

int Impl::AxisAssignment(std::string_view mnemonic, std::string_view arguments, std::string& out) {
    const AxisParameter& parameter = *FindParameter(mnemonic);
    const auto fields = ParseAxisFields(arguments);
    if (!fields) {
        return kInvalidArgument;
    }
    std::array<double, kAxes> values{};
    for (int k = 0; k < kAxes; ++k) {
        const AxisField& field = (*fields)[static_cast<std::size_t>(k)];
        if (field.kind != AxisField::Kind::Value) {
            continue;
        }
        double value = parameter.whole ? std::round(field.value) : field.value;
        if (value < parameter.low || value > parameter.high) {
            return kNumberOutOfRange;
        }
        if (const int error = parameter.Check(*this, k, value); error != kNoError) {
            return error;
        }
        values[static_cast<std::size_t>(k)] = value;
    }
    std::vector<double> queried;
    for (int k = 0; k < kAxes; ++k) {
        const AxisField& field = (*fields)[static_cast<std::size_t>(k)];
        if (field.kind == AxisField::Kind::Value) {
            parameter.Set(*this, k, values[static_cast<std::size_t>(k)]);
        } else if (field.kind == AxisField::Kind::Query) {
            queried.push_back(parameter.Get(AxisOf(*this, k)));
        }
    }
    if (!queried.empty()) {
        out += JoinValues(queried, parameter.whole);
    }
    return kNoError;
}

int Impl::Tell(std::string_view mnemonic, std::string_view arguments, std::string& out) {
    const auto mask = ParseAxisMask(arguments);
    if (!mask) {
        return kInvalidArgument;
    }
    std::vector<double> values;
    for (int k = 0; k < kAxes; ++k) {
        if ((*mask >> k) & 1u) {
            double value = 0;
            AxisValue(mnemonic, k, value);
            values.push_back(value);
        }
    }
    out += JoinValues(values, mnemonic != "TT");
    return kNoError;
}

bool Impl::AxisValue(std::string_view name, int axis, double& value) {
    const AxisState state = AxisOf(*this, axis).State(CnMismatch());
    // A limit reading of 1 means the switch is not on.
    if (name == "LF") {
        value = state.forwardLimitOn ? 0 : 1;
    } else if (name == "LR") {
        value = state.reverseLimitOn ? 0 : 1;
    } else if (name == "TP") {
        value = static_cast<double>(state.motorPosition);
    } else if (name == "TE") {
        value = static_cast<double>(state.positionError);
    } else if (name == "TT") {
        value = state.torque;
    } else if (name == "TV") {
        value = static_cast<double>(state.velocity);
    } else if (name == "SC") {
        value = state.stopCode;
    } else if (name == "MO") {
        value = state.motorOff ? 1 : 0;
    } else if (name == "BG") {
        value = state.moving ? 1 : 0;
    } else if (const AxisParameter* parameter = FindParameter(name)) {
        value = parameter->Get(AxisOf(*this, axis));
        if (parameter->whole) {
            value = static_cast<double>(ToCount32(value));
        }
    } else {
        return false;
    }
    return true;
}

int Impl::Message(std::string_view arguments, std::string& out) {
    const auto operand = ParseMessageOperand(arguments);
    if (!operand) {
        return kInvalidArgument;
    }
    double value = 0;
    switch (operand->kind) {
        case MessageOperand::Kind::Number:
            value = operand->number;
            break;
        case MessageOperand::Kind::Cn:
            value = cn;
            break;
        case MessageOperand::Kind::Output:
            value = (outputs >> (operand->index - 1)) & 1u;
            break;
        case MessageOperand::Kind::AxisValue:
            if (!AxisValue(operand->name, operand->axis, value)) {
                return kInvalidArgument;
            }
            break;
    }
    out += FormatReal(value) + "\r\n";
    return kNoError;
}

int Impl::Begin(std::string_view arguments) {
    const auto mask = ParseAxisMask(arguments);
    if (!mask) {
        return kInvalidArgument;
    }
    // Every named axis is checked before any starts, so a refused "BG" moves nothing.
    std::array<bool, kAxes> starts{};
    for (int k = 0; k < kAxes; ++k) {
        const SimAxis& axis = AxisOf(*this, k);
        const BeginMode mode = beginMode[static_cast<std::size_t>(k)];
        if (!((*mask >> k) & 1u) || axis.settings.positionTracking) {
            continue;
        }
        const bool moves =
            (mode == BeginMode::Jog && axis.settings.jogSpeed != 0) ||
            (mode == BeginMode::Position && axis.settings.positionTarget != axis.Reference());
        if (!moves) {
            continue;
        }
        if (axis.MotorIsOff()) {
            return kNotValidMotorOff;
        }
        if (axis.Moving()) {
            return kNotValidWhileMoving;
        }
        starts[static_cast<std::size_t>(k)] = true;
    }
    for (int k = 0; k < kAxes; ++k) {
        if (!starts[static_cast<std::size_t>(k)]) {
            continue;
        }
        SimAxis& axis = AxisOf(*this, k);
        if (beginMode[static_cast<std::size_t>(k)] == BeginMode::Jog) {
            axis.StartJog(CnMismatch());
        } else {
            axis.StartMove(axis.settings.positionTarget, CnMismatch());
        }
    }
    return kNoError;
}

int Impl::SetCn(std::string_view arguments) {
    const auto value = ParseWholeNumber(arguments, -1, 1);
    if (!value || *value == 0) {
        return kInvalidArgument;
    }
    cn = static_cast<int>(*value);
    return kNoError;
}

int Impl::SetOutput(std::string_view arguments, bool on) {
    const auto number = ParseWholeNumber(arguments, 1, 16);
    if (!number) {
        return kInvalidArgument;
    }
    const auto bit = static_cast<std::uint16_t>(1u << (*number - 1));
    outputs =
        on ? static_cast<std::uint16_t>(outputs | bit) : static_cast<std::uint16_t>(outputs & ~bit);
    return kNoError;
}

int Impl::TellCode(std::string_view arguments, const Session& session, std::string& out) {
    if (!IsOneOf(arguments, {"", "0", "1"})) {
        return kInvalidArgument;
    }
    out += std::to_string(session.lastError);
    if (arguments == "1") {
        out += std::string(" ") + ErrorText(session.lastError);
    }
    out += "\r\n";
    return kNoError;
}

int Impl::DataRecord(std::string_view arguments, const Session& session, std::string& out) {
    // The record always carries every block; the letters only say which ones the caller wants.
    if (arguments.find_first_not_of("IXYZW") != std::string_view::npos) {
        return kInvalidArgument;
    }
    out += BuildRecord(session);
    return kNoError;
}

int Impl::Upload(std::string_view arguments, std::string& out) {
    if (!arguments.empty()) {
        return kInvalidArgument;
    }
    out += program;
    out += '\x1A';
    return kNoError;
}

}  // namespace trevane::sim
