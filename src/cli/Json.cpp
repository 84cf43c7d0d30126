#include "cli/Json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

namespace trevane::cli::json {

void AppendUnicodeEscape(std::string& out, unsigned char byte) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\u00";
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0f];
}

std::string Quote(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + 2);
    out += '"';
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                // DEL too: the line may end up on a terminal.
                if (byte < 0x20 || byte >= 0x7f) {
                    AppendUnicodeEscape(out, byte);
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

void Object::Key(std::string_view key) {
    if (text_.size() > 1) {
        text_ += ", ";
    }
    text_ += Quote(key);
    text_ += ": ";
}

Object& Object::Text(std::string_view key, std::string_view value) {
    Key(key);
    text_ += Quote(value);
    return *this;
}

Object& Object::Flag(std::string_view key, bool value) {
    Key(key);
    text_ += value ? "true" : "false";
    return *this;
}

Object& Object::Number(std::string_view key, long long value) {
    Key(key);
    text_ += std::to_string(value);
    return *this;
}

std::string NumberText(double value) {
    if (!std::isfinite(value)) {
        return "null";
    }
    char buffer[32];
    const auto narrow = static_cast<float>(value);
    const auto [end, ec] = static_cast<double>(narrow) == value
                               ? std::to_chars(buffer, buffer + sizeof buffer, narrow)
                               : std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc{} ? std::string(buffer, end) : std::string("null");
}

Object& Object::Number(std::string_view key, double value) {
    Key(key);
    text_ += NumberText(value);
    return *this;
}

namespace {

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.push_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    if (start < text.size()) {
        lines.push_back(text.substr(start));
    }
    return lines;
}

}  // namespace

std::string OneLine(std::string_view text) {
    std::string out;
    for (const std::string_view line : SplitLines(text)) {
        if (!line.empty()) {
            out += out.empty() ? "" : " ";
            out += line;
        }
    }
    return out;
}

std::string LinesArray(std::string_view text) {
    std::vector<std::string> quoted;
    for (const std::string_view line : SplitLines(text)) {
        quoted.push_back(Quote(line));
    }
    return Array(quoted);
}

std::string UtcTime(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto millis = floor<milliseconds>(time);
    const auto day = floor<days>(millis);
    const year_month_day date{day};
    const hh_mm_ss clock{millis - day};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(clock.hours().count()),
                  int(clock.minutes().count()), int(clock.seconds().count()),
                  int(clock.subseconds().count()));
    return text;
}

Object& Object::Null(std::string_view key) {
    Key(key);
    text_ += "null";
    return *this;
}

Object& Object::Raw(std::string_view key, std::string_view value) {
    Key(key);
    text_ += value;
    return *this;
}

std::string Array(const std::vector<std::string>& values) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        out += i == 0 ? "" : ", ";
        out += values[i];
    }
    return out + "]";
}

void WriteLine(std::ostream& out, const Object& object) {
    out << object.Str() << '\n' << std::flush;
}

}  // namespace trevane::cli::json
