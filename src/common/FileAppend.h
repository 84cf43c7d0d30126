#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace trevane {

// Appends `bytes` to the file at `path`, creating it when missing, with one write call on a file
// opened for appending. Returns nothing when every byte is in the file and the file closed
// cleanly. Otherwise returns why (without the path), and a partly written tail has been cut off
// again where the file allows, so the file keeps only whole appends.
std::optional<std::string> AppendWhole(const std::string& path, std::string_view bytes);

// Which file a name led to when it was created, so that a later append can tell that the name
// still leads there. Zero where the system gives no such number (Windows): nothing is compared.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

enum class NewFile { Created, Taken, Failed };
// Creates `path` as a new empty file, never opening one that exists and never following a
// symbolic link: Taken when anything is there already (a file, a folder, a link, even one that
// leads nowhere), a name to pass over; Failed with `failure` set when nothing is there and the
// file still cannot be made. `identity`, when given, is set to the file created.
NewFile CreateNewFile(const std::string& path, std::string& failure,
                      FileIdentity* identity = nullptr);

// AppendWhole for a file this program created with CreateNewFile: never through a symbolic link
// at `path`, and never into another file that has taken the name since. When nothing is at
// `path` any more, the file is created anew there (exclusively) and `identity` follows it.
std::optional<std::string> AppendWholeToOwnFile(const std::string& path, FileIdentity& identity,
                                                std::string_view bytes);

}  // namespace trevane
