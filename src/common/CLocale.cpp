#include "common/CLocale.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace trevane {
namespace {

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) {
            return false;
        }
    }
    return true;
}

void AppendTwoDigits(std::string& out, int value) {
    out.push_back(static_cast<char>('0' + (value / 10) % 10));
    out.push_back(static_cast<char>('0' + value % 10));
}

// from_chars leaves `value` untouched when the result is out of range; strtod gives HUGE_VAL on
// overflow and (next to) zero on underflow, which a negative exponent tells apart.
double OutOfRange(const char* first, const char* last, char exponentMark) {
    for (const char* p = first; p + 1 < last; ++p) {
        if (std::tolower(static_cast<unsigned char>(*p)) == exponentMark && p[1] == '-') {
            return 0.0;
        }
    }
    return HUGE_VAL;
}

}  // namespace

double ReadNumberAsDouble(std::string_view text) {
    size_t pos = 0;
    while (pos < text.size() && IsCSpace(text[pos])) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    std::string_view rest = text.substr(pos);
    // One sign only: from_chars would take a second '-' as the number's own.
    if (!rest.empty() && (rest[0] == '+' || rest[0] == '-')) {
        return 0.0;
    }
    double value = 0.0;
    if (StartsWithNoCase(rest, "0x")) {
        // strtod reads hexadecimal floats; "0x" without digits reads as the 0 before the x.
        const char* first = rest.data() + 2;
        const char* last = rest.data() + rest.size();
        if (first != last && (*first == '+' || *first == '-')) {
            return negative ? -0.0 : 0.0;
        }
        auto result = std::from_chars(first, last, value, std::chars_format::hex);
        if (result.ec == std::errc::result_out_of_range) {
            value = OutOfRange(first, result.ptr, 'p');
        } else if (result.ec != std::errc{}) {
            value = 0.0;
        }
    } else {
        // from_chars reads "inf", "infinity" and "nan" as strtod does; it never looks at the
        // locale, so a decimal comma in the environment cannot change the result.
        auto result = std::from_chars(rest.data(), rest.data() + rest.size(), value,
                                      std::chars_format::general);
        if (result.ec == std::errc::result_out_of_range) {
            value = OutOfRange(rest.data(), result.ptr, 'e');
        } else if (result.ec != std::errc{}) {
            return 0.0;  // no number at all, so no sign either
        }
    }
    return negative ? -value : value;
}

float ReadNumber(std::string_view text) {
    return static_cast<float>(ReadNumberAsDouble(text));
}

bool IsOneNumber(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    std::size_t pos = 0;
    const auto digits = [&] {
        const std::size_t first = pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            ++pos;
        }
        return pos - first;
    };
    const auto sign = [&] {
        if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
            ++pos;
        }
    };
    sign();
    std::size_t mantissa = digits();
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        mantissa += digits();
    }
    if (mantissa == 0) {
        return false;
    }
    if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
        ++pos;
        sign();
        if (digits() == 0) {
            return false;
        }
    }
    return pos == text.size();
}

std::string FormatFixed(double value) {
    char buffer[512];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    return std::string(buffer, result.ptr);
}

std::string FormatInt(long long value) {
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string FormatShortest(float value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string FormatShortest(double value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string FormatTimeC(std::string_view pattern, const std::tm& time) {
    std::string out;
    out.reserve(pattern.size() + 16);
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%' || i + 1 == pattern.size()) {
            out.push_back(pattern[i]);
            continue;
        }
        char conversion = pattern[++i];
        switch (conversion) {
            case 'x':
                AppendTwoDigits(out, time.tm_mon + 1);
                out.push_back('/');
                AppendTwoDigits(out, time.tm_mday);
                out.push_back('/');
                AppendTwoDigits(out, ((time.tm_year % 100) + 100) % 100);
                break;
            case 'X':
                AppendTwoDigits(out, time.tm_hour);
                out.push_back(':');
                AppendTwoDigits(out, time.tm_min);
                out.push_back(':');
                AppendTwoDigits(out, time.tm_sec);
                break;
            case 'm':
                AppendTwoDigits(out, time.tm_mon + 1);
                break;
            case 'd':
                AppendTwoDigits(out, time.tm_mday);
                break;
            case 'y':
                AppendTwoDigits(out, ((time.tm_year % 100) + 100) % 100);
                break;
            case 'Y':
                out += FormatInt(time.tm_year + 1900);
                break;
            case 'H':
                AppendTwoDigits(out, time.tm_hour);
                break;
            case 'M':
                AppendTwoDigits(out, time.tm_min);
                break;
            case 'S':
                AppendTwoDigits(out, time.tm_sec);
                break;
            case '%':
                out.push_back('%');
                break;
            default:
                out.push_back('%');
                out.push_back(conversion);
                break;
        }
    }
    return out;
}

std::tm ToLocalTime(std::chrono::system_clock::time_point time) {
    std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    return local;
}

}  // namespace trevane
