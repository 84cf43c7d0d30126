#include "cli/JsonFields.h"

#include <nlohmann/json.hpp>

#include "cli/Json.h"

namespace trevane::cli::json {
namespace {

// Raw bytes above 0x7F as \u00XX, so that a line that is not UTF-8 still parses and each such
// byte comes back as itself; Quote writes none, but a child's line is read as it is.
std::string EscapeHighBytes(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    for (const char c : line) {
        if (static_cast<unsigned char>(c) < 0x80) {
            out += c;
        } else {
            AppendUnicodeEscape(out, static_cast<unsigned char>(c));
        }
    }
    return out;
}

// The UTF-8 that the parser made back into the bytes that Quote was given: a code point up to
// U+00FF is its byte, anything above shows as "?".
std::string Bytes(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            out += utf8[i++];
            continue;
        }
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if (length == 2 && lead <= 0xC3 && i + 1 < utf8.size()) {
            const auto next = static_cast<unsigned char>(utf8[i + 1]);
            out += static_cast<char>(((lead & 0x03) << 6) | (next & 0x3F));
        } else {
            out += '?';
        }
        i += length;
    }
    return out;
}

void AddTextMembers(const nlohmann::json& object, const std::string& prefix,
                    std::map<std::string, std::string>& members) {
    for (const auto& [key, value] : object.items()) {
        if (value.is_string()) {
            members[prefix + Bytes(key)] = Bytes(value.get_ref<const std::string&>());
        } else if (value.is_object()) {
            // One level down, as "error.message": our error objects nest their text.
            AddTextMembers(value, prefix + Bytes(key) + ".", members);
        }
    }
}

}  // namespace

std::map<std::string, std::string> TextMembers(std::string_view line) {
    const nlohmann::json parsed = nlohmann::json::parse(EscapeHighBytes(line), nullptr, false);
    std::map<std::string, std::string> members;
    if (parsed.is_object()) {
        AddTextMembers(parsed, "", members);
    }
    return members;
}

bool HasItems(std::string_view line, std::string_view key) {
    const nlohmann::json parsed = nlohmann::json::parse(EscapeHighBytes(line), nullptr, false);
    if (!parsed.is_object()) {
        return false;
    }
    const auto found = parsed.find(std::string(key));
    return found != parsed.end() && found->is_array() && !found->empty();
}

}  // namespace trevane::cli::json
