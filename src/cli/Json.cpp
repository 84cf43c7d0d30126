#include "cli/Json.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace trevane::cli::json {
namespace {

void AppendUnicodeEscape(std::string& out, unsigned char byte) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\u00";
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0f];
}

}  // namespace

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

Object& Object::Number(std::string_view key, double value) {
    Key(key);
    if (!std::isfinite(value)) {
        text_ += "null";
        return *this;
    }
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    text_.append(buffer, ec == std::errc{} ? end : buffer);
    return *this;
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
