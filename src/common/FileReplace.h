#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace trevane {

enum class FileKind { Missing, Regular, Folder, InPlace };
// What is at `path`, through symbolic links. InPlace: a device node, FIFO or socket, or anything
// under /dev or /proc, which a writer opens and writes as it is.
FileKind KindOf(const std::string& path);

// Replaces the file at `path` with `bytes` as one step: the bytes go to a new temporary file in
// the same folder, are flushed to the disk, and the temporary file is renamed over `path`.
// Returns nothing on success; on failure a text naming what failed and with which file, with
// `path` left as it was and the temporary file removed. The new file keeps the replaced file's
// mode (and owner, as root); a symbolic link at `path` stays and the file it leads to is replaced,
// with the temporary file in that file's folder. A folder in the way is refused; what KindOf calls
// InPlace is opened and written without a temporary file (a FIFO only while something reads it).
std::optional<std::string> ReplaceFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace trevane
