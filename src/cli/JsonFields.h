#pragma once

#include <map>
#include <string>
#include <string_view>

// Reading back the JSON Lines that trevane-cli itself writes (a fleet reads its children's).
namespace trevane::cli::json {

// The members of one JSON object whose values are strings, decoded to the bytes Quote was given
// (\u00XX as one byte), and those of nested objects as "key.member"; other values are skipped.
// Empty when `line` is not a JSON object.
std::map<std::string, std::string> TextMembers(std::string_view line);

// Whether the object's member `key` is an array with at least one item.
bool HasItems(std::string_view line, std::string_view key);

}  // namespace trevane::cli::json
