#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace trevane {

// Replaces the file at `path` with `bytes` as one step: the bytes go to a new temporary file in
// the same folder, are flushed to the disk, and the temporary file is renamed over `path`.
// Returns nothing on success; on failure a text naming what failed and with which file, with
// `path` left as it was and the temporary file removed. The new file keeps the replaced file's
// mode (and owner, as root); a symbolic link at `path` stays and the file it leads to is replaced,
// with the temporary file in that file's folder.
std::optional<std::string> ReplaceFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace trevane
