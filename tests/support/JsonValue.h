#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace trevane::testing {

// One JSON value as nlohmann-json reads it (strictly: valid UTF-8 only), to check what
// trevane-cli writes for scripts.
struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool flag = false;
    double number = 0.0;
    std::string text;  // UTF-8
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members;

    // The member named `key`; a Null value when there is none.
    const JsonValue& operator[](std::string_view key) const;
    bool Has(std::string_view key) const;
};

// Nothing when `text` is not exactly one JSON value.
std::optional<JsonValue> ParseJson(std::string_view text);

// One value per line; a line that does not parse fails the calling test.
std::vector<JsonValue> ParseJsonLines(const std::string& text);

}  // namespace trevane::testing
