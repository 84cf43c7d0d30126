#include "cli/TerminalText.h"

#include "common/Utf8.h"

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
        } else if ((length = Utf8SequenceLength(text)) == 0) {
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

}  // namespace trevane::cli
