#pragma once

#include <optional>
#include <string>
#include <string_view>

// Number texts of the controller's replies and arguments. Always the "C" rules: the tests run
// under a decimal-comma locale and the wire must not change with it.
namespace trevane::sim {

// A blank or a minus sign, then the number with four decimals: " 1.0000", "-3.5000".
std::string FormatReal(double value);
// A blank or a minus sign, then the whole number: " 5", "-20000".
std::string FormatCount(long long value);
// The same texts without the leading blank of a non-negative number (for later list entries).
std::string FormatRealUnsigned(double value);
std::string FormatCountUnsigned(long long value);

// A decimal argument: optional sign, digits with an optional fraction ("5.0", "-20000", ".5").
// Nothing else may surround it. Returns nothing for anything malformed or not finite.
std::optional<double> ParseDecimal(std::string_view text);

// Rounds to the nearest whole count and clamps into the signed 32-bit range of the record.
long long ToCount32(double value);

}  // namespace trevane::sim
