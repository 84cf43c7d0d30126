#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

// The configuration file, read with the rules of a Windows profile (INI) file, so that a file
// written for the controller's workstation reads the same here. No Qt: the rules are tested
// on their own.
namespace trevane {

inline constexpr const char* kConfigFileName = "PelornControl.ini";
inline constexpr const char* kConfigSection = "Main";
inline constexpr const char* kAddressKey = "GAddress";
inline constexpr const char* kPortKey = "Port";
// The team's history server: section "History", key "Server" (a postgresql:// URL or a service
// name, never a password).
inline constexpr const char* kHistorySection = "History";
inline constexpr const char* kHistoryServerKey = "Server";

// The address value was read into 255 characters including the terminator.
inline constexpr std::size_t kProfileValueLimit = 254;

// The value of `key` in `section` of the profile text `contents`:
// - "[name]" opens a section; "key=value" gives a value; other lines are skipped;
// - section and key names match without regard to (ASCII) case, the first match wins;
// - blanks and tabs around lines, names and values are dropped, then one pair of matching
//   quotes around the value;
// - at most `limit` characters of the value are returned;
// - text with a UTF-8 mark, or UTF-16 little-endian with its mark FF FE, is read as UTF-8.
// Returns `defaultValue` when there is no such key; a key with an empty value reads as "".
std::string ReadProfileString(std::string_view contents, std::string_view section,
                              std::string_view key, std::string_view defaultValue,
                              std::size_t limit = kProfileValueLimit);

// The same, from a file; a file that cannot be read gives `defaultValue`.
std::string ReadProfileFile(const std::filesystem::path& file, std::string_view section,
                            std::string_view key, std::string_view defaultValue,
                            std::size_t limit = kProfileValueLimit);

// "PelornControl.ini" in the process's working directory (not the program's folder).
std::filesystem::path ConfigFilePath();

// The controller address configured in `file` (section "Main", key "GAddress"), or "" when
// nothing is configured.
std::string ConfiguredAddress(const std::filesystem::path& file);

// The controller port from `file`: the optional key "Port" of section "Main" when it is a whole
// number from 1 to 65535, else `fallback`.
std::uint16_t ConfiguredPort(const std::filesystem::path& file, std::uint16_t fallback);

// The history server configured in `file` (section "History", key "Server"), or "".
std::string ConfiguredHistoryServer(const std::filesystem::path& file);

}  // namespace trevane
