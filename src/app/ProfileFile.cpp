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

}  // namespace

std::string ReadProfileString(std::string_view contents, std::string_view section,
                              std::string_view key, std::string_view defaultValue,
                              std::size_t limit) {
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
