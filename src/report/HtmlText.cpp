#include "report/HtmlText.h"

#include <cctype>

#include "common/Utf8.h"

namespace trevane::html {

// Text from the controller goes into the page as characters only: markup is escaped, a byte that
// is not part of UTF-8 is read as Latin-1 (what an 8-bit code page most likely meant), and
// control characters show as U+FFFD.
void AppendEscaped(std::string& out, std::string_view text) {
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            switch (byte) {
                case '&':
                    out += "&amp;";
                    break;
                case '<':
                    out += "&lt;";
                    break;
                case '>':
                    out += "&gt;";
                    break;
                case '"':
                    out += "&quot;";
                    break;
                case '\'':
                    out += "&#39;";
                    break;
                default:
                    if ((byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') ||
                        byte == 0x7F) {
                        out += kReplacement;
                    } else {
                        out += static_cast<char>(byte);
                    }
            }
            ++i;
            continue;
        }
        const std::size_t length = Utf8SequenceLength(text.substr(i));
        if (length == 0) {
            if (byte < 0xA0) {
                out += kReplacement;
            } else {
                static constexpr const char* kHex = "0123456789ABCDEF";
                out += "&#x";
                out += kHex[byte >> 4];
                out += kHex[byte & 0xF];
                out += ';';
            }
            ++i;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
}

std::string Escaped(std::string_view text) {
    std::string out;
    AppendEscaped(out, text);
    return out;
}

// A file name as a relative link: every byte outside the unreserved set is percent-encoded.
std::string LinkTo(std::string_view name) {
    static constexpr const char* kHex = "0123456789ABCDEF";
    std::string link;
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) != 0 && byte < 0x80) {
            link += c;
        } else if (c == '-' || c == '.' || c == '_' || c == '~') {
            link += c;
        } else {
            link += '%';
            link += kHex[byte >> 4];
            link += kHex[byte & 0xF];
        }
    }
    return link;
}

}  // namespace trevane::html
