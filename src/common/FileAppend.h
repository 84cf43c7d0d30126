#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace trevane {

// Appends `bytes` to the file at `path`, creating it when missing, with one write call on a file
// opened for appending. Returns nothing when every byte is in the file and the file closed
// cleanly. Otherwise returns why (without the path), and a partly written tail has been cut off
// again where the file allows, so the file keeps only whole appends.
std::optional<std::string> AppendWhole(const std::string& path, std::string_view bytes);

enum class NewFile { Created, Taken, Failed };
// Creates `path` as a new empty file, never opening one that exists: Taken when a regular file
// is there already (a name to pass over), Failed with `failure` set otherwise.
NewFile CreateNewFile(const std::string& path, std::string& failure);

}  // namespace trevane
