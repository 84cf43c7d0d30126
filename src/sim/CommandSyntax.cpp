#include "sim/CommandSyntax.h"

#include <cmath>

#include "sim/Numbers.h"

namespace trevane::sim {

int AxisIndex(char letter) {
    switch (letter) {
        case 'X':
            return 0;
        case 'Y':
            return 1;
        case 'Z':
            return 2;
        case 'W':
            return 3;
        default:
            return -1;
    }
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::vector<std::string_view> SplitCommands(std::string_view line) {
    std::vector<std::string_view> commands;
    while (true) {
        const auto end = line.find(';');
        const std::string_view command = TrimBlanks(line.substr(0, end));
        if (!command.empty()) {
            commands.push_back(command);
        }
        if (end == std::string_view::npos) {
            return commands;
        }
        line.remove_prefix(end + 1);
    }
}

std::optional<CommandParts> SplitMnemonic(std::string_view command) {
    command = TrimBlanks(command);
    if (command.size() < 2 || command[0] < 'A' || command[0] > 'Z' || command[1] < 'A' ||
        command[1] > 'Z') {
        return std::nullopt;
    }
    return CommandParts{command.substr(0, 2), TrimBlanks(command.substr(2))};
}

namespace {

std::optional<AxisField> ParseField(std::string_view text) {
    text = TrimBlanks(text);
    if (text.empty()) {
        return AxisField{};
    }
    if (text == "?") {
        return AxisField{AxisField::Kind::Query, 0};
    }
    const auto value = ParseDecimal(text);
    if (!value) {
        return std::nullopt;
    }
    return AxisField{AxisField::Kind::Value, *value};
}

// "=V" or "=?" after "*" or an axis letter.
std::optional<AxisField> ParseAssignedField(std::string_view rest) {
    rest = TrimBlanks(rest);
    if (rest.empty() || rest.front() != '=') {
        return std::nullopt;
    }
    const auto field = ParseField(rest.substr(1));
    if (!field || field->kind == AxisField::Kind::Empty) {
        return std::nullopt;
    }
    return field;
}

}  // namespace

std::optional<AxisFields> ParseAxisFields(std::string_view arguments) {
    arguments = TrimBlanks(arguments);
    if (arguments.empty()) {
        return std::nullopt;
    }
    AxisFields fields{};
    if (arguments.front() == '*' || AxisIndex(arguments.front()) >= 0) {
        const auto field = ParseAssignedField(arguments.substr(1));
        if (!field) {
            return std::nullopt;
        }
        if (arguments.front() == '*') {
            fields.fill(*field);
        } else {
            fields[static_cast<std::size_t>(AxisIndex(arguments.front()))] = *field;
        }
        return fields;
    }
    std::size_t axis = 0;
    while (true) {
        if (axis >= fields.size()) {
            return std::nullopt;  // more values than axes
        }
        const auto comma = arguments.find(',');
        const auto field = ParseField(arguments.substr(0, comma));
        if (!field) {
            return std::nullopt;
        }
        fields[axis++] = *field;
        if (comma == std::string_view::npos) {
            return fields;
        }
        arguments.remove_prefix(comma + 1);
    }
}

std::optional<unsigned> ParseAxisMask(std::string_view arguments) {
    arguments = TrimBlanks(arguments);
    if (arguments.empty()) {
        return kAllAxes;
    }
    unsigned mask = 0;
    for (char c : arguments) {
        const int axis = AxisIndex(c);
        if (axis < 0) {
            return std::nullopt;
        }
        mask |= 1u << axis;
    }
    return mask;
}

std::optional<long long> ParseWholeNumber(std::string_view text, long long low, long long high) {
    const auto value = ParseDecimal(TrimBlanks(text));
    // Range first: converting an out-of-range double to an integer is undefined.
    if (!value || *value < static_cast<double>(low) || *value > static_cast<double>(high) ||
        std::trunc(*value) != *value) {
        return std::nullopt;
    }
    return static_cast<long long>(*value);
}

std::optional<MessageOperand> ParseMessageOperand(std::string_view arguments) {
    arguments = TrimBlanks(arguments);
    MessageOperand operand;
    if (arguments == "_CN") {
        operand.kind = MessageOperand::Kind::Cn;
        return operand;
    }
    if (arguments.size() == 4 && arguments[0] == '_' && AxisIndex(arguments[3]) >= 0) {
        operand.kind = MessageOperand::Kind::AxisValue;
        operand.name = arguments.substr(1, 2);
        operand.axis = AxisIndex(arguments[3]);
        return operand;
    }
    constexpr std::string_view kOutput = "@OUT[";
    if (arguments.substr(0, kOutput.size()) == kOutput && arguments.back() == ']') {
        const auto index = ParseWholeNumber(
            arguments.substr(kOutput.size(), arguments.size() - kOutput.size() - 1), 1, 16);
        if (!index) {
            return std::nullopt;
        }
        operand.kind = MessageOperand::Kind::Output;
        operand.index = static_cast<int>(*index);
        return operand;
    }
    if (const auto number = ParseDecimal(arguments)) {
        operand.number = *number;
        return operand;
    }
    return std::nullopt;
}

}  // namespace trevane::sim
