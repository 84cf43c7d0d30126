#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// JSON Lines for scripts. Controller text is 8-bit and not necessarily UTF-8, so every byte above
// 0x7F is written as \u00XX of its Latin-1 value: the output is plain ASCII, hence valid UTF-8,
// and a reader gets each byte back as one code point.
namespace trevane::cli::json {

// `bytes` as a quoted JSON string.
std::string Quote(std::string_view bytes);

// One JSON object, members in the order they were added.
class Object {
  public:
    Object& Text(std::string_view key, std::string_view value);
    Object& Flag(std::string_view key, bool value);
    Object& Number(std::string_view key, long long value);
    Object& Number(std::string_view key, double value);  // null when not finite
    Object& Null(std::string_view key);
    // `value` is already JSON (a nested object or array).
    Object& Raw(std::string_view key, std::string_view value);

    std::string Str() const { return text_ + "}"; }

  private:
    void Key(std::string_view key);
    std::string text_ = "{";
};

// A JSON array of already-written JSON values.
std::string Array(const std::vector<std::string>& values);

// Writes `object` as one line and flushes it, so a script reading a pipe sees it at once.
void WriteLine(std::ostream& out, const Object& object);

}  // namespace trevane::cli::json
