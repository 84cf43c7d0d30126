#include "cli/JsonFields.h"

#include <optional>

namespace trevane::cli::json {
namespace {

class Reader {
  public:
    explicit Reader(std::string_view text) : text_(text) {}

    void Blanks() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t')) {
            ++at_;
        }
    }
    bool Take(char c) {
        Blanks();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool AtString() {
        Blanks();
        return at_ < text_.size() && text_[at_] == '"';
    }

    std::optional<std::string> String() {
        if (!Take('"')) {
            return std::nullopt;
        }
        std::string out;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') {
                return out;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ == text_.size()) {
                return std::nullopt;
            }
            const char escape = text_[at_++];
            switch (escape) {
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'u': {
                    if (at_ + 4 > text_.size()) {
                        return std::nullopt;
                    }
                    unsigned value = 0;
                    for (int i = 0; i < 4; ++i) {
                        const char h = text_[at_++];
                        const int digit = h >= '0' && h <= '9'   ? h - '0'
                                          : h >= 'a' && h <= 'f' ? h - 'a' + 10
                                          : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                                                 : -1;
                        if (digit < 0) {
                            return std::nullopt;
                        }
                        value = value * 16 + static_cast<unsigned>(digit);
                    }
                    // Ours are bytes (at most 0xFF); anything above is shown as "?".
                    out += value <= 0xFF ? static_cast<char>(value) : '?';
                    break;
                }
                default:
                    out += escape;
            }
        }
        return std::nullopt;
    }

    // Skips one value of any kind; false when the text ends first.
    bool SkipValue() {
        if (AtString()) {
            return String().has_value();
        }
        int depth = 0;
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (c == '"') {
                if (!String()) {
                    return false;
                }
                continue;
            }
            if ((c == ',' || c == '}' || c == ']') && depth == 0) {
                return true;
            }
            depth += c == '{' || c == '[' ? 1 : c == '}' || c == ']' ? -1 : 0;
            ++at_;
        }
        return false;
    }

    std::size_t At() const { return at_; }
    std::string_view Text() const { return text_; }

  private:
    std::string_view text_;
    std::size_t at_ = 0;
};

}  // namespace

std::map<std::string, std::string> TextMembers(std::string_view line) {
    std::map<std::string, std::string> members;
    Reader reader(line);
    if (!reader.Take('{') || reader.Take('}')) {
        return members;
    }
    do {
        const std::optional<std::string> key = reader.String();
        if (!key || !reader.Take(':')) {
            return {};
        }
        if (reader.AtString()) {
            std::optional<std::string> value = reader.String();
            if (!value) {
                return {};
            }
            members[*key] = std::move(*value);
        } else {
            reader.Blanks();
            const std::size_t start = reader.At();
            if (!reader.SkipValue()) {
                return {};
            }
            // One level down, as "error.message": our error objects nest their text.
            for (auto& [name, value] :
                 TextMembers(reader.Text().substr(start, reader.At() - start))) {
                members[*key + "." + name] = std::move(value);
            }
        }
    } while (reader.Take(','));
    return reader.Take('}') ? members : std::map<std::string, std::string>{};
}

}  // namespace trevane::cli::json
