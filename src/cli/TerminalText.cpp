#include "cli/TerminalText.h"

#include "common/Platform.h"

namespace trevane::cli {
namespace {

void AppendEscaped(std::string& out, std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        out += "\\x";
        out += kHex[byte >> 4];
        out += kHex[byte & 0x0f];
    }
}

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0: no overlong forms,
// no surrogates, nothing above U+10FFFF.
std::size_t SequenceLength(std::string_view text) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = at(0);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length || at(1) < low || at(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (!IsContinuation(at(i))) {
            return 0;
        }
    }
    return length;
}

}  // namespace

std::string EscapeForTerminal(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const auto byte = static_cast<unsigned char>(text[0]);
        std::size_t length = 1;
        if (byte < 0x80) {
            // A CR that ends a line is harmless; one inside a line could overwrite it.
            const bool lineEnd = byte == '\r' && (text.size() == 1 || text[1] == '\n');
            if ((byte < 0x20 && byte != '\n' && byte != '\t' && !lineEnd) || byte == 0x7f) {
                AppendEscaped(out, text.substr(0, 1));
            } else {
                out += text[0];
            }
        } else if ((length = SequenceLength(text)) == 0) {
            length = 1;
            AppendEscaped(out, text.substr(0, 1));
        } else if (byte == 0xC2 && static_cast<unsigned char>(text[1]) < 0xA0) {
            AppendEscaped(out, text.substr(0, 2));  // a C1 control
        } else {
            out.append(text.substr(0, length));
        }
        text.remove_prefix(length);
    }
    return out;
}

std::string ForStandardOutput(std::string_view text) {
    static const bool terminal = StandardOutputIsTerminal();
    return terminal ? EscapeForTerminal(text) : std::string(text);
}

std::string ForStandardError(std::string_view text) {
    static const bool terminal = StandardErrorIsTerminal();
    return terminal ? EscapeForTerminal(text) : std::string(text);
}

}  // namespace trevane::cli
