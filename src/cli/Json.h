#pragma once

#include <chrono>
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

// `byte` as \u00XX, the way Quote writes a byte outside printable ASCII.
void AppendUnicodeEscape(std::string& out, unsigned char byte);

// One JSON object, members in the order they were added.
class Object {
  public:
    Object& Text(std::string_view key, std::string_view value);
    Object& Flag(std::string_view key, bool value);
    Object& Number(std::string_view key, long long value);
    // The shortest text that reads back as the same value; null when not finite. A double that
    // holds a float exactly (a reading) is written as that float: 1.188, not 1.187999963760376.
    Object& Number(std::string_view key, double value);
    Object& Null(std::string_view key);
    // `value` is already JSON (a nested object or array).
    Object& Raw(std::string_view key, std::string_view value);

    std::string Str() const { return text_ + "}"; }

  private:
    void Key(std::string_view key);
    std::string text_ = "{";
};

// `text` without CR or LF: each line end (CR LF, LF or CR) inside becomes one blank, those at
// either end go. No string value of the output holds a line end.
std::string OneLine(std::string_view text);

// `text` split at its line ends (CR LF, LF or CR), as a JSON array of strings; [] when empty.
std::string LinesArray(std::string_view text);

// "2026-12-09T03:05:27.123Z"
std::string UtcTime(std::chrono::system_clock::time_point time);

// The shortest number text, as Object::Number writes it.
std::string NumberText(double value);

// A JSON array of already-written JSON values.
std::string Array(const std::vector<std::string>& values);

// Writes `object` as one line and flushes it, so a script reading a pipe sees it at once.
void WriteLine(std::ostream& out, const Object& object);

}  // namespace trevane::cli::json
