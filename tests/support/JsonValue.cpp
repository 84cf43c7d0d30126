#include "support/JsonValue.h"

#include <gtest/gtest.h>

#include <charconv>
#include <sstream>

namespace trevane::testing {
namespace {

class Reader {
  public:
    explicit Reader(std::string_view text) : text_(text) {}

    std::optional<JsonValue> Whole() {
        std::optional<JsonValue> value = Value();
        Blanks();
        return value && at_ == text_.size() ? value : std::nullopt;
    }

  private:
    void Blanks() {
        while (at_ < text_.size() && std::string_view(" \t\r\n").find(text_[at_]) != npos) {
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
    bool Word(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) {
            return false;
        }
        at_ += word.size();
        return true;
    }

    std::optional<JsonValue> Value() {
        Blanks();
        JsonValue value;
        if (at_ >= text_.size()) {
            return std::nullopt;
        }
        const char c = text_[at_];
        if (c == '{') {
            return Object();
        }
        if (c == '[') {
            return Array();
        }
        if (c == '"') {
            value.kind = JsonValue::Kind::String;
            return String(value.text) ? std::optional(value) : std::nullopt;
        }
        if (Word("null")) {
            return value;
        }
        if (Word("true") || Word("false")) {
            value.kind = JsonValue::Kind::Bool;
            value.flag = c == 't';
            return value;
        }
        return Number();
    }

    std::optional<JsonValue> Number() {
        JsonValue value;
        value.kind = JsonValue::Kind::Number;
        const char* begin = text_.data() + at_;
        const auto [end, ec] = std::from_chars(begin, text_.data() + text_.size(), value.number);
        // from_chars also takes "inf", "nan" and hexadecimal: JSON takes none of them.
        const bool jsonStart = *begin == '-' || (*begin >= '0' && *begin <= '9');
        if (!jsonStart || ec != std::errc{} || end == begin) {
            return std::nullopt;
        }
        at_ += static_cast<std::size_t>(end - begin);
        return value;
    }

    bool String(std::string& out) {
        ++at_;  // the opening quote
        while (at_ < text_.size()) {
            const auto c = static_cast<unsigned char>(text_[at_++]);
            if (c == '"') {
                return true;
            }
            if (c < 0x20) {
                return false;  // raw control bytes are not JSON
            }
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (at_ >= text_.size()) {
                return false;
            }
            const char e = text_[at_++];
            const std::string_view simple = "\"\\/bfnrt";
            const std::string_view meaning = "\"\\/\b\f\n\r\t";
            if (const std::size_t k = simple.find(e); k != npos) {
                out += meaning[k];
            } else if (e == 'u' && at_ + 4 <= text_.size()) {
                unsigned code = 0;
                const auto [end, ec] =
                    std::from_chars(text_.data() + at_, text_.data() + at_ + 4, code, 16);
                if (ec != std::errc{} || end != text_.data() + at_ + 4 || code > 0xff) {
                    return false;  // trevane-cli writes nothing beyond Latin-1
                }
                out += static_cast<char>(code);
                at_ += 4;
            } else {
                return false;
            }
        }
        return false;
    }

    std::optional<JsonValue> Array() {
        JsonValue value;
        value.kind = JsonValue::Kind::Array;
        ++at_;
        if (Take(']')) {
            return value;
        }
        do {
            std::optional<JsonValue> item = Value();
            if (!item) {
                return std::nullopt;
            }
            value.items.push_back(std::move(*item));
        } while (Take(','));
        return Take(']') ? std::optional(value) : std::nullopt;
    }

    std::optional<JsonValue> Object() {
        JsonValue value;
        value.kind = JsonValue::Kind::Object;
        ++at_;
        if (Take('}')) {
            return value;
        }
        do {
            std::string key;
            Blanks();
            if (at_ >= text_.size() || text_[at_] != '"' || !String(key) || !Take(':')) {
                return std::nullopt;
            }
            std::optional<JsonValue> member = Value();
            if (!member) {
                return std::nullopt;
            }
            value.members.emplace_back(std::move(key), std::move(*member));
        } while (Take(','));
        return Take('}') ? std::optional(value) : std::nullopt;
    }

    static constexpr std::size_t npos = std::string_view::npos;
    std::string_view text_;
    std::size_t at_ = 0;
};

}  // namespace

const JsonValue& JsonValue::operator[](std::string_view key) const {
    static const JsonValue kNothing;
    for (const auto& [name, value] : members) {
        if (name == key) {
            return value;
        }
    }
    return kNothing;
}

bool JsonValue::Has(std::string_view key) const {
    for (const auto& member : members) {
        if (member.first == key) {
            return true;
        }
    }
    return false;
}

std::optional<JsonValue> ParseJson(std::string_view text) {
    return Reader(text).Whole();
}

std::vector<JsonValue> ParseJsonLines(const std::string& text) {
    std::vector<JsonValue> values;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::optional<JsonValue> value = ParseJson(line);
        EXPECT_TRUE(value && value->kind == JsonValue::Kind::Object)
            << "not a JSON object: " << line;
        if (value) {
            values.push_back(std::move(*value));
        }
    }
    return values;
}

}  // namespace trevane::testing
