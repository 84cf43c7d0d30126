#include "support/JsonValue.h"

#include <algorithm>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace trevane::testing {
namespace {

JsonValue From(const nlohmann::ordered_json& json) {
    JsonValue value;
    switch (json.type()) {
        case nlohmann::ordered_json::value_t::boolean:
            value.kind = JsonValue::Kind::Bool;
            value.flag = json.get<bool>();
            break;
        case nlohmann::ordered_json::value_t::number_integer:
        case nlohmann::ordered_json::value_t::number_unsigned:
        case nlohmann::ordered_json::value_t::number_float:
            value.kind = JsonValue::Kind::Number;
            value.number = json.get<double>();
            break;
        case nlohmann::ordered_json::value_t::string:
            value.kind = JsonValue::Kind::String;
            value.text = json.get<std::string>();
            break;
        case nlohmann::ordered_json::value_t::array:
            value.kind = JsonValue::Kind::Array;
            for (const auto& item : json) {
                value.items.push_back(From(item));
            }
            break;
        case nlohmann::ordered_json::value_t::object:
            value.kind = JsonValue::Kind::Object;
            for (const auto& [key, member] : json.items()) {
                value.members.emplace_back(key, From(member));
            }
            break;
        default:
            break;
    }
    return value;
}

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
    return std::any_of(members.begin(), members.end(),
                       [key](const auto& member) { return member.first == key; });
}

std::optional<JsonValue> ParseJson(std::string_view text) {
    const nlohmann::ordered_json json = nlohmann::ordered_json::parse(text, nullptr, false);
    if (json.is_discarded()) {
        return std::nullopt;
    }
    return From(json);
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
