#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace trevane {

// Paths travel through the program as UTF-8 text. A narrow string handed straight to
// std::filesystem::path is read in the ANSI code page on Windows, which loses every character
// outside it (a Japanese user name on a Western Windows), and path::string() throws on them;
// these two convert as UTF-8 on every system.
std::filesystem::path PathFromText(std::string_view utf8);
std::string TextFromPath(const std::filesystem::path& path);

}  // namespace trevane
