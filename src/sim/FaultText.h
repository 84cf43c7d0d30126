#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/Simulator.h"

// Readers for the fields of a fault's text. Each throws std::invalid_argument naming the whole
// text and what was expected of the field.
namespace trevane::sim {

[[noreturn]] void RefuseFault(const std::string& text, const std::string& why);

// "X", "Y", "Z" or "W": 0..3.
int ReadFaultAxis(const std::string& text, std::string_view name);
// Plain digits from `low` to `high`.
int ReadFaultCount(const std::string& text, std::string_view digits, long long low, long long high);
// Digits with an optional leading minus, within the 32-bit range of a position.
int ReadFaultPosition(const std::string& text, std::string_view digits, const std::string& why);
// A plain decimal with an optional leading minus from `low` to `high`, read the same in every
// locale; `why` says what was expected.
double ReadFaultNumber(const std::string& text, std::string_view digits, double low, double high,
                       const std::string& why);

// The fields of "NAME:A:B:..." after the name, split at every colon.
std::vector<std::string_view> FaultArguments(std::string_view rest);

// The faults of an axis's mechanics, encoder or tuning ("friction:X:2", ...): the fault when
// `name` is one of theirs, nothing otherwise.
std::optional<Fault> ParsePhysicalFault(const std::string& text, std::string_view name,
                                        std::string_view rest);

}  // namespace trevane::sim
