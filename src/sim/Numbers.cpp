#include "sim/Numbers.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace trevane::sim {
namespace {

std::string ToFixed4(double value) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 4);
    if (result.ec != std::errc{}) {
        return "0.0000";  // only a value beyond 1e59 gets here, and no setting allows one
    }
    std::string text(buffer, result.ptr);
    // "-0.0000" would show a sign for a value that reads as zero.
    if (text.find_first_not_of("-0.") == std::string::npos && text.front() == '-') {
        text.erase(0, 1);
    }
    return text;
}

std::string ToDecimal(long long value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string WithSignColumn(std::string text) {
    return text.front() == '-' ? text : " " + text;
}

}  // namespace

std::string FormatReal(double value) {
    return WithSignColumn(ToFixed4(value));
}
std::string FormatCount(long long value) {
    return WithSignColumn(ToDecimal(value));
}
std::string FormatRealUnsigned(double value) {
    return ToFixed4(value);
}
std::string FormatCountUnsigned(long long value) {
    return ToDecimal(value);
}

std::optional<double> ParseDecimal(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    bool sawDigit = false;
    bool sawPoint = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            sawDigit = true;
        } else if (c == '.' && !sawPoint) {
            sawPoint = true;
        } else {
            return std::nullopt;
        }
    }
    if (!sawDigit) {
        return std::nullopt;
    }
    double value = 0;
    const auto result =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (result.ec != std::errc{} || result.ptr != text.data() + text.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

long long ToCount32(double value) {
    constexpr double kLow = std::numeric_limits<std::int32_t>::min();
    constexpr double kHigh = std::numeric_limits<std::int32_t>::max();
    if (!(value >= kLow)) {  // NaN lands here too
        return static_cast<long long>(kLow);
    }
    if (value >= kHigh) {
        return static_cast<long long>(kHigh);
    }
    return std::llround(value);
}

}  // namespace trevane::sim
