#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace trevane {

// Replaces the file at `path` with `bytes` as one step: the bytes go to a new temporary file in
// the same folder, are flushed to the disk, and the temporary file is renamed over `path`.
// Returns nothing on success; on failure a text naming what failed and with which file, with
// `path` left as it was and the temporary file removed.
std::optional<std::string> ReplaceFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace trevane
