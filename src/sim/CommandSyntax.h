#pragma once

#include <array>
#include <optional>
#include <string_view>
#include <vector>

// The shapes of the controller's command language, free of any machine state so that the
// parser can be fuzzed on its own.
namespace trevane::sim {

inline constexpr int kAxes = 4;  // X, Y, Z, W

// Axis letter to index 0..3, or -1.
int AxisIndex(char letter);

// Blanks, tabs and line feeds (a line feed inside a request is white space).
bool IsBlank(char c);
std::string_view TrimBlanks(std::string_view text);

// The commands of one request line, split at ";" (trimmed; empty ones dropped).
std::vector<std::string_view> SplitCommands(std::string_view line);

// A command's two-letter mnemonic and the rest, trimmed. Nothing when it does not start with
// two capital letters.
struct CommandParts {
    std::string_view mnemonic;
    std::string_view arguments;
};
std::optional<CommandParts> SplitMnemonic(std::string_view command);

// One axis field of an assignment: left out, a value, or "?".
struct AxisField {
    enum class Kind { Empty, Value, Query };
    Kind kind = Kind::Empty;
    double value = 0;
};
using AxisFields = std::array<AxisField, kAxes>;

// "*=V", "*=?", "X=V", "X=?", or a value list "V1,V2,V3,V4" (fields may be empty or "?").
// Nothing when the text fits none of these forms.
std::optional<AxisFields> ParseAxisFields(std::string_view arguments);

// "" (every axis) or axis letters such as "X", "XZ", "XYZW". Bit k stands for axis k.
std::optional<unsigned> ParseAxisMask(std::string_view arguments);
inline constexpr unsigned kAllAxes = 0xF;

// A whole number from `low` to `high`, nothing else.
std::optional<long long> ParseWholeNumber(std::string_view text, long long low, long long high);

// An "MG" operand: "_CN", "_LFX", "@OUT[3]", "_TPX" and so on, or a plain number.
struct MessageOperand {
    enum class Kind { Number, Cn, AxisValue, Output };
    Kind kind = Kind::Number;
    std::string_view name;  // AxisValue: the two letters after "_" ("LF", "TP", "SP" ...)
    int axis = 0;           // AxisValue
    int index = 0;          // Output: 1..16
    double number = 0;      // Number
};
std::optional<MessageOperand> ParseMessageOperand(std::string_view arguments);

}  // namespace trevane::sim
