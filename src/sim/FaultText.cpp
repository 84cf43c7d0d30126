#include "sim/FaultText.h"

#include <charconv>
#include <stdexcept>

#include "sim/CommandSyntax.h"

namespace trevane::sim {

void RefuseFault(const std::string& text, const std::string& why) {
    throw std::invalid_argument("unknown fault '" + text + "': " + why);
}

int ReadFaultAxis(const std::string& text, std::string_view name) {
    const int axis = name.size() == 1 ? AxisIndex(name[0]) : -1;
    if (axis < 0) {
        RefuseFault(text, "the axis must be one of X, Y, Z, W");
    }
    return axis;
}

namespace {

// Up to ten plain digits; nothing when there are none, more, or anything else.
std::optional<long long> ReadDigits(std::string_view digits) {
    if (digits.empty() || digits.size() > 10) {
        return std::nullopt;
    }
    long long value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

int ReadFaultCount(const std::string& text, std::string_view digits, long long low,
                   long long high) {
    const std::optional<long long> value = ReadDigits(digits);
    if (!value || *value < low || *value > high) {
        RefuseFault(text, "expected a whole number from " + std::to_string(low) + " to " +
                              std::to_string(high));
    }
    return static_cast<int>(*value);
}

int ReadFaultPosition(const std::string& text, std::string_view digits, const std::string& why) {
    const bool negative = digits.starts_with('-');
    const std::optional<long long> magnitude = ReadDigits(digits.substr(negative ? 1 : 0));
    const long long value = negative ? -magnitude.value_or(0) : magnitude.value_or(0);
    if (!magnitude || value < -2147483648LL || value > 2147483647LL) {
        RefuseFault(text, why);
    }
    return static_cast<int>(value);
}

double ReadFaultNumber(const std::string& text, std::string_view digits, double low, double high,
                       const std::string& why) {
    double value = 0;
    const char* end = digits.data() + digits.size();
    const auto [stop, ec] = std::from_chars(digits.data(), end, value, std::chars_format::fixed);
    if (digits.empty() || ec != std::errc{} || stop != end || !(value >= low && value <= high)) {
        RefuseFault(text, why);
    }
    return value;
}

std::vector<std::string_view> FaultArguments(std::string_view rest) {
    std::vector<std::string_view> fields;
    for (;;) {
        const auto colon = rest.find(':');
        fields.push_back(rest.substr(0, colon));
        if (colon == std::string_view::npos) {
            return fields;
        }
        rest.remove_prefix(colon + 1);
    }
}

}  // namespace trevane::sim
