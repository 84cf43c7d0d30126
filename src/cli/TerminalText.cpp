#include "cli/TerminalText.h"

#include "common/Platform.h"

namespace trevane::cli {

std::string EscapeControlBytes(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\r' && c != '\n' && c != '\t') || byte == 0x7f) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0f];
        } else {
            out += c;
        }
    }
    return out;
}

std::string ForStandardOutput(std::string_view text) {
    static const bool terminal = StandardOutputIsTerminal();
    return terminal ? EscapeControlBytes(text) : std::string(text);
}

}  // namespace trevane::cli
