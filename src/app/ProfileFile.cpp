#include "app/ProfileFile.h"

#include <fstream>
#include <iterator>
#include <system_error>

namespace trevane {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// ASCII only: the process locale must not change which key matches.
char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) {
            return false;
        }
    }
    return true;
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Notepad's "Unicode" files: UTF-16 little-endian after the mark FF FE. Read as UTF-8; a lone
// surrogate becomes U+FFFD and an odd last byte is dropped.
std::string Utf16LeToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() / 2);
    auto unit = [&](std::size_t i) {
        return static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                     (static_cast<unsigned char>(bytes[i + 1]) << 8));
    };
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t first = unit(i);
        if (first >= 0xD800 && first <= 0xDBFF && i + 3 < bytes.size()) {
            const char16_t second = unit(i + 2);
            if (second >= 0xDC00 && second <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(first) - 0xD800) << 10) +
                                    (static_cast<char32_t>(second) - 0xDC00));
                i += 2;
                continue;
            }
        }
        AppendUtf8(out, (first >= 0xD800 && first <= 0xDFFF) ? U'\uFFFD' : first);
    }
    return out;
}

// Cuts at `limit` bytes without leaving half a UTF-8 sequence behind.
std::string CutUtf8(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) {
        return std::string(text);
    }
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return std::string(text.substr(0, end));
}

}  // namespace

std::string ReadProfileString(std::string_view contents, std::string_view section,
                              std::string_view key, std::string_view defaultValue,
                              std::size_t limit) {
    constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
    if (contents.substr(0, kUtf16LeBom.size()) == kUtf16LeBom) {
        const std::string decoded = Utf16LeToUtf8(contents.substr(kUtf16LeBom.size()));
        const std::string value =
            ReadProfileString(decoded, section, key, defaultValue, std::string_view::npos);
        return CutUtf8(value, limit);
    }
    constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
    if (contents.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
        contents.remove_prefix(kUtf8Bom.size());
    }
    bool inSection = false;
    while (!contents.empty()) {
        const std::size_t end = contents.find('\n');
        std::string_view line = Trim(contents.substr(0, end));
        contents.remove_prefix(end == std::string_view::npos ? contents.size() : end + 1);

        if (!line.empty() && line.front() == '[') {
            const std::size_t close = line.find(']');
            const std::string_view name = line.substr(
                1, close == std::string_view::npos ? std::string_view::npos : close - 1);
            inSection = SameName(Trim(name), section);
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inSection || equals == std::string_view::npos) {
            continue;
        }
        if (SameName(Trim(line.substr(0, equals)), key)) {
            const std::string_view value = Unquote(Trim(line.substr(equals + 1)));
            return std::string(value.substr(0, limit));
        }
    }
    return std::string(defaultValue.substr(0, limit));
}

std::string ReadProfileFile(const std::filesystem::path& file, std::string_view section,
                            std::string_view key, std::string_view defaultValue,
                            std::size_t limit) {
    std::string contents;
    try {
        std::error_code error;
        if (!std::filesystem::is_regular_file(file, error)) {
            return std::string(defaultValue.substr(0, limit));
        }
        std::ifstream in(file, std::ios::binary);
        contents.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } catch (const std::exception&) {
        // A file that cannot be read configures nothing, as a missing one.
        return std::string(defaultValue.substr(0, limit));
    }
    return ReadProfileString(contents, section, key, defaultValue, limit);
}

std::filesystem::path ConfigFilePath() {
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::current_path(error);
    // Without a working directory the relative name still finds nothing, which reads as defaults.
    return error ? std::filesystem::path(kConfigFileName) : folder / kConfigFileName;
}

std::string ConfiguredAddress(const std::filesystem::path& file) {
    return ReadProfileFile(file, kConfigSection, kAddressKey, "");
}

std::uint16_t ConfiguredPort(const std::filesystem::path& file, std::uint16_t fallback) {
    const std::string text = ReadProfileFile(file, kConfigSection, kPortKey, "");
    if (text.empty() || text.size() > 5) {
        return fallback;
    }
    unsigned long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return fallback;
        }
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    return (value >= 1 && value <= 65535) ? static_cast<std::uint16_t>(value) : fallback;
}

}  // namespace trevane

namespace trevane {

std::string ConfiguredHistoryServer(const std::filesystem::path& file) {
    // A URL with its TLS parameters outgrows the address's 254 characters.
    return ReadProfileFile(file, kHistorySection, kHistoryServerKey, "", 4096);
}

}  // namespace trevane
